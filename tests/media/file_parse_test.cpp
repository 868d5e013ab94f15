#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "codec_interface.h"
#include "media/file_parse.h"
#include "support/log_capture.h"
#include "support/media_files.h"

namespace codec_interface {

struct FileParseTestPeer {
  static void FailStreamInfo(CFileParse& parse) {
    parse.m_pfnFindStreamInfo = [](AVFormatContext*, AVDictionary**) { return AVERROR(EIO); };
  }
};

}  // namespace codec_interface

namespace {

using namespace codec_interface;
using codec_test::Bytes;
using codec_test::EncodedStream;
using codec_test::LogLine;
using codec_test::ReadBack;

std::string Printf(const char* format, const char* path, int code) {
  char text[1024];
  std::snprintf(text, sizeof text, format, path, code);
  return text;
}

// Files shared by the cases, made once through FFmpeg's own encoders and muxers.
class FileParseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    aac_ = new EncodedStream(codec_test::EncodeTone("aac", 44100, 2, 40));
    h264_ = new EncodedStream(codec_test::EncodePictures("libx264", 64, 48, 25, true));
    mp4_ = codec_test::ScratchPath("aac_h264.mp4");
    codec_test::WriteMediaFile(mp4_, "mp4", {h264_, aac_});
    videoOnly_ = codec_test::ScratchPath("h264_only.mp4");
    codec_test::WriteMediaFile(videoOnly_, "mp4", {h264_});
  }
  static void TearDownTestSuite() {
    std::filesystem::remove(mp4_);
    std::filesystem::remove(videoOnly_);
    delete aac_;
    delete h264_;
  }

  static EncodedStream* aac_;
  static EncodedStream* h264_;
  static std::string mp4_;
  static std::string videoOnly_;
  codec_test::ScopedLogCapture capture_;
};

EncodedStream* FileParseTest::aac_ = nullptr;
EncodedStream* FileParseTest::h264_ = nullptr;
std::string FileParseTest::mp4_;
std::string FileParseTest::videoOnly_;

TEST_F(FileParseTest, Open_Mp4WithAacAndH264_MapsBothCodecsSilently) {
  CFileParse parse;
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_AAC);
  EXPECT_EQ(parse.GetVideoCodec(), FILE_VIDEO_CODEC_H264);
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(FileParseTest, Read_AlternatingReadsEachDropTheOtherStreamsPacketsOnTheWay) {
  const ReadBack file = codec_test::ReadMediaFile(mp4_);
  ASSERT_TRUE(file.opened);
  int audio = -1;
  for (size_t i = 0; i < file.streams.size(); ++i) {
    if (file.streams[i].type == AVMEDIA_TYPE_AUDIO) audio = static_cast<int>(i);
  }
  ASSERT_GE(audio, 0);

  CFileParse parse;
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  // Walk the file order as plain libavformat sees it: each read takes the next packet of its
  // stream; whatever of the other stream lies before it is gone.
  size_t cursor = 0;
  int reads = 0;
  for (bool wantAudio = true;; wantAudio = !wantAudio, ++reads) {
    SCOPED_TRACE(testing::Message() << "read " << reads << (wantAudio ? " audio" : " video"));
    while (cursor < file.packets.size() &&
           (file.packets[cursor].stream == audio) != wantAudio) {
      ++cursor;
    }
    unsigned char* data = nullptr;
    int size = 0;
    int durationMs = 0;
    const int result = wantAudio ? parse.ReadAudioPacket(&data, &size, &durationMs)
                                 : parse.ReadVideoPacket(&data, &size);
    if (cursor == file.packets.size()) {
      EXPECT_EQ(result, -1);
      break;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(Bytes(data, data + size), file.packets[cursor].data);
    ++cursor;
  }
  EXPECT_GT(reads, 10);
}

TEST_F(FileParseTest, ReadAudio_DurationIsTruncatedMillisecondsOfTheStreamTimeBase) {
  const ReadBack file = codec_test::ReadMediaFile(mp4_);
  CFileParse parse;
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  unsigned char* data = nullptr;
  int size = 0;
  int durationMs = 0;
  ASSERT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), 0);
  // 1024 samples at 1/44100 s are 23.2 ms.
  EXPECT_EQ(durationMs, 23);

  int count = 1;
  while (parse.ReadAudioPacket(&data, &size, &durationMs) == 0) ++count;
  int expected = 0;
  for (const auto& packet : file.packets) {
    expected += file.streams[packet.stream].type == AVMEDIA_TYPE_AUDIO;
  }
  EXPECT_EQ(count, expected);
  // Past the end every read keeps failing.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), -1);
  EXPECT_EQ(parse.ReadVideoPacket(&data, &size), -1);
}

TEST_F(FileParseTest, Read_NullOutputsAreRefusedWithoutConsumingAPacket) {
  const ReadBack file = codec_test::ReadMediaFile(mp4_);
  CFileParse parse;
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  unsigned char* data = nullptr;
  int size = 0;
  int durationMs = 0;
  EXPECT_EQ(parse.ReadAudioPacket(nullptr, &size, &durationMs), -1);
  EXPECT_EQ(parse.ReadAudioPacket(&data, &size, nullptr), -1);
  EXPECT_EQ(parse.ReadVideoPacket(&data, nullptr), -1);
  ASSERT_EQ(parse.ReadVideoPacket(&data, &size), 0);
  for (const auto& packet : file.packets) {
    if (file.streams[packet.stream].type == AVMEDIA_TYPE_VIDEO) {
      EXPECT_EQ(Bytes(data, data + size), packet.data);
      break;
    }
  }
}

TEST_F(FileParseTest, Open_VideoOnlyFile_FailsWithTheNoAudioLineAndStaysClosed) {
  CFileParse parse;
  EXPECT_EQ(parse.Open(videoOnly_.c_str()), -1);
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{{60, Printf("[CODE]Didn't find a audio stream in[%s] Res[%d]",
                                              videoOnly_.c_str(), AVERROR_STREAM_NOT_FOUND)}}));
  unsigned char* data = nullptr;
  int size = 0;
  EXPECT_EQ(parse.GetVideoCodec(), FILE_VIDEO_CODEC_NONE);
  EXPECT_EQ(parse.ReadVideoPacket(&data, &size), -1);
  // Nothing was left open: the object opens another file.
  EXPECT_EQ(parse.Open(mp4_.c_str()), 0);
}

TEST_F(FileParseTest, Open_SecondOpenOrNullPathFailsSilentlyAndTheFirstFileStaysOpen) {
  CFileParse parse;
  EXPECT_EQ(parse.Open(nullptr), -1);
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  EXPECT_EQ(parse.Open(videoOnly_.c_str()), -1);
  EXPECT_EQ(parse.Open(nullptr), -1);
  EXPECT_TRUE(capture_->OwnLines().empty());
  EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_AAC);
  unsigned char* data = nullptr;
  int size = 0;
  EXPECT_EQ(parse.ReadVideoPacket(&data, &size), 0);
}

TEST_F(FileParseTest, Close_ReturnsToClosedAndAllowsReopening) {
  CFileParse parse;
  parse.Close();  // closing a closed object does nothing
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  unsigned char* data = nullptr;
  int size = 0;
  int durationMs = 0;
  ASSERT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), 0);
  const Bytes first(data, data + size);
  parse.Close();
  parse.Close();
  EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
  EXPECT_EQ(parse.GetVideoCodec(), FILE_VIDEO_CODEC_NONE);
  EXPECT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), -1);
  EXPECT_EQ(parse.ReadVideoPacket(&data, &size), -1);
  // Reopened, reading starts again at the beginning.
  ASSERT_EQ(parse.Open(mp4_.c_str()), 0);
  ASSERT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), 0);
  EXPECT_EQ(Bytes(data, data + size), first);
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(FileParseTest, Destroy_WhileOpenReleasesTheFile) {
  // ASan reports the demuxer and packet if destruction leaves them behind.
  auto parse = IFileParseInterface::Create();
  ASSERT_EQ(parse->Open(mp4_.c_str()), 0);
  unsigned char* data = nullptr;
  int size = 0;
  ASSERT_EQ(parse->ReadVideoPacket(&data, &size), 0);
  parse.reset();
}

// Open failures: each logs its own line with the path and FFmpeg's result, once.
TEST_F(FileParseTest, Open_UnreadableFiles_LogTheOpenFailure) {
  const std::string missing = codec_test::ScratchPath("missing.mp4");
  const std::string random = codec_test::ScratchPath("random.bin");
  const std::string truncated = codec_test::ScratchPath("truncated.mp4");
  std::mt19937 rng(7);
  Bytes noise(64 * 1024);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  codec_test::WriteBytes(random, noise);
  // An MP4 cut in half has lost its index, which the muxer writes last.
  Bytes whole = codec_test::ReadBytes(mp4_);
  whole.resize(whole.size() / 2);
  codec_test::WriteBytes(truncated, whole);

  const struct {
    const std::string& path;
    int code;
  } cases[] = {{missing, AVERROR(ENOENT)},
               {random, AVERROR_INVALIDDATA},
               {truncated, AVERROR_INVALIDDATA}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    capture_->Clear();
    CFileParse parse;
    EXPECT_EQ(parse.Open(c.path.c_str()), -1);
    EXPECT_EQ(capture_->OwnLines(),
              (std::vector<LogLine>{
                  {60, Printf("[CODE]avformat_open_input[%s] failed[%d]", c.path.c_str(), c.code)}}));
    EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
  }
  std::filesystem::remove(random);
  std::filesystem::remove(truncated);
}

TEST_F(FileParseTest, Open_StreamInfoFailure_LogsClosesTheFileAndStaysClosed) {
  CFileParse parse;
  FileParseTestPeer::FailStreamInfo(parse);
  EXPECT_EQ(parse.Open(mp4_.c_str()), -1);
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{{60, Printf("[CODE]avformat_find_stream_info[%s] failed[%d]",
                                              mp4_.c_str(), AVERROR(EIO))}}));
  EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
  unsigned char* data = nullptr;
  int size = 0;
  int durationMs = 0;
  EXPECT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), -1);
}

TEST_F(FileParseTest, Open_TruncatedTransportStream_ReadsWhatIsLeftThenEnds) {
  const std::string whole = codec_test::ScratchPath("whole.ts");
  const std::string cut = codec_test::ScratchPath("cut.ts");
  codec_test::WriteMediaFile(whole, "mpegts", {h264_, aac_});
  Bytes bytes = codec_test::ReadBytes(whole);
  bytes.resize(bytes.size() / 2 + 100);  // also cuts a transport packet in two
  codec_test::WriteBytes(cut, bytes);

  const ReadBack full = codec_test::ReadMediaFile(whole);
  CFileParse parse;
  ASSERT_EQ(parse.Open(cut.c_str()), 0);
  EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_AAC);
  EXPECT_EQ(parse.GetVideoCodec(), FILE_VIDEO_CODEC_H264);
  unsigned char* data = nullptr;
  int size = 0;
  int videoCount = 0;
  while (parse.ReadVideoPacket(&data, &size) == 0) ++videoCount;
  EXPECT_GT(videoCount, 0);
  EXPECT_LT(videoCount, 25);
  EXPECT_EQ(parse.ReadVideoPacket(&data, &size), -1);
  EXPECT_TRUE(capture_->OwnLines().empty());
  std::filesystem::remove(whole);
  std::filesystem::remove(cut);
}

// Which of the library's codecs each container's streams map to.
TEST_F(FileParseTest, CodecMapping_AcrossContainersAndCodecs) {
  const EncodedStream hevc = codec_test::EncodePictures("libx265", 64, 48, 5, true);
  const EncodedStream mjpeg = codec_test::EncodePictures("mjpeg", 64, 48, 3, false);
  const EncodedStream alaw = codec_test::EncodeTone("pcm_alaw", 8000, 1, 10);
  const EncodedStream mulaw = codec_test::EncodeTone("pcm_mulaw", 8000, 1, 10);
  const EncodedStream opus = codec_test::EncodeTone("libopus", 48000, 2, 10);
  const EncodedStream speex = codec_test::EncodeTone("libspeex", 16000, 1, 10);
  const EncodedStream mp3 = codec_test::EncodeTone("libmp3lame", 44100, 2, 10);
  const struct {
    const char* name;
    const char* muxer;
    std::vector<const EncodedStream*> streams;
    FileAudioCodec audio;
    FileVideoCodec video;
  } cases[] = {
      {"hevc.mkv", "matroska", {&hevc, aac_}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_HEVC},
      {"h264.ts", "mpegts", {h264_, aac_}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264},
      {"mjpeg.mkv", "matroska", {&mjpeg, &alaw}, FILE_AUDIO_CODEC_G711A, FILE_VIDEO_CODEC_NONE},
      {"mulaw.wav", "wav", {&mulaw}, FILE_AUDIO_CODEC_G711U, FILE_VIDEO_CODEC_NONE},
      {"opus.ogg", "ogg", {&opus}, FILE_AUDIO_CODEC_OPUS, FILE_VIDEO_CODEC_NONE},
      {"speex.ogg", "ogg", {&speex}, FILE_AUDIO_CODEC_SPEEX, FILE_VIDEO_CODEC_NONE},
      {"lame.mp3", "mp3", {&mp3}, FILE_AUDIO_CODEC_NONE, FILE_VIDEO_CODEC_NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = codec_test::ScratchPath(c.name);
    codec_test::WriteMediaFile(path, c.muxer, c.streams);
    CFileParse parse;
    ASSERT_EQ(parse.Open(path.c_str()), 0);
    EXPECT_EQ(parse.GetAudioCodec(), c.audio);
    EXPECT_EQ(parse.GetVideoCodec(), c.video);
    unsigned char* data = nullptr;
    int size = 0;
    int durationMs = 0;
    EXPECT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), 0);
    EXPECT_GT(size, 0);
    // A file without video: nothing to read there.
    if (c.streams.size() == 1) {
      EXPECT_EQ(parse.ReadVideoPacket(&data, &size), -1);
    }
    std::filesystem::remove(path);
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
}

}  // namespace
