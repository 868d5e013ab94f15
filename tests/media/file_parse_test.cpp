#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
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
using namespace codec_test;

// The sound and pictures most files are made of, encoded once.
const EncodedStream& Aac() {
  static const EncodedStream stream = EncodeTone("aac", 44100, 2, 40);
  return stream;
}
const EncodedStream& H264() {
  static const EncodedStream stream = EncodePictures("libx264", 64, 48, 25);
  return stream;
}

class FileParseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WriteMediaFile(mp4_.path, "mp4", {&H264(), &Aac()}); }
  static inline const ScratchFile mp4_{"aac_h264.mp4"};
  ScopedLogCapture capture_;
  unsigned char* data_ = nullptr;
  int size_ = 0;
  int ms_ = 0;
};

// Each file once: the codecs it maps to, and either its failure line or reads that alternate
// between the streams, each giving the next packet of its stream in the order plain
// libavformat reads the file and dropping the other stream's packets on the way.
TEST_F(FileParseTest, Open_MapsCodecsReadsEachStreamOrLogsTheFailure) {
  const EncodedStream hevc = EncodePictures("libx265", 64, 48, 5);
  const EncodedStream mjpeg = EncodePictures("mjpeg", 64, 48, 3);
  const EncodedStream alaw = EncodeTone("pcm_alaw", 8000, 1, 10);
  const EncodedStream mulaw = EncodeTone("pcm_mulaw", 8000, 1, 10);
  const EncodedStream opus = EncodeTone("libopus", 48000, 2, 10);
  const EncodedStream speex = EncodeTone("libspeex", 16000, 1, 10);
  const EncodedStream mp3 = EncodeTone("libmp3lame", 44100, 2, 10);
  const auto bytesOf = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  const ScratchFile ts("whole.ts");
  WriteMediaFile(ts.path, "mpegts", {&H264(), &Aac()});
  Bytes halfMp4 = bytesOf(mp4_.path);
  halfMp4.resize(halfMp4.size() / 2);  // the index, written last, is gone
  Bytes cutTs = bytesOf(ts.path);
  cutTs.resize(cutTs.size() / 2 + 100);  // also cuts a transport packet in two
  std::mt19937 rng(7);
  Bytes noise(64 * 1024);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());

  const auto none = FILE_AUDIO_CODEC_NONE;
  const auto noVideo = FILE_VIDEO_CODEC_NONE;
  const struct {
    const char* name;
    const char* muxer;  // null: the file holds `bytes`, or is missing when they are empty
    std::vector<const EncodedStream*> streams;
    Bytes bytes;
    FileAudioCodec audio;
    FileVideoCodec video;
    int firstMs;  // duration of the first sound packet: truncated milliseconds
    const char* line = nullptr;
    int code = 0;
    bool refuseStreamInfo = false;
  } cases[] = {
      {"both.mp4", "mp4", {&H264(), &Aac()}, {}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264,
       23},
      {"hevc_aac.mkv", "matroska", {&hevc, &Aac()}, {}, FILE_AUDIO_CODEC_AAC,
       FILE_VIDEO_CODEC_HEVC, 23},
      {"h264_aac.ts", "mpegts", {&H264(), &Aac()}, {}, FILE_AUDIO_CODEC_AAC,
       FILE_VIDEO_CODEC_H264, 23},
      {"cut.ts", nullptr, {}, cutTs, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264, 23},
      {"mjpeg_alaw.mkv", "matroska", {&mjpeg, &alaw}, {}, FILE_AUDIO_CODEC_G711A, noVideo, 20},
      {"mulaw.wav", "wav", {&mulaw}, {}, FILE_AUDIO_CODEC_G711U, noVideo, 64},
      {"opus.ogg", "ogg", {&opus}, {}, FILE_AUDIO_CODEC_OPUS, noVideo, 20},
      {"speex.ogg", "ogg", {&speex}, {}, FILE_AUDIO_CODEC_SPEEX, noVideo, 20},
      {"lame.mp3", "mp3", {&mp3}, {}, none, noVideo, 26},
      {"h264.mp4", "mp4", {&H264()}, {}, none, noVideo, 0,
       "[CODE]Didn't find a audio stream in[%s] Res[%d]", AVERROR_STREAM_NOT_FOUND},
      {"missing.mp4", nullptr, {}, {}, none, noVideo, 0,
       "[CODE]avformat_open_input[%s] failed[%d]", AVERROR(ENOENT)},
      {"random.bin", nullptr, {}, noise, none, noVideo, 0,
       "[CODE]avformat_open_input[%s] failed[%d]", AVERROR_INVALIDDATA},
      {"half.mp4", nullptr, {}, halfMp4, none, noVideo, 0,
       "[CODE]avformat_open_input[%s] failed[%d]", AVERROR_INVALIDDATA},
      {"info.mp4", nullptr, {}, bytesOf(mp4_.path), none, noVideo, 0,
       "[CODE]avformat_find_stream_info[%s] failed[%d]", AVERROR(EIO), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture_->Clear();
    const ScratchFile file(c.name);
    if (c.muxer != nullptr) WriteMediaFile(file.path, c.muxer, c.streams);
    if (!c.bytes.empty()) {
      std::ofstream(file.path, std::ios::binary)
          .write(reinterpret_cast<const char*>(c.bytes.data()), std::ssize(c.bytes));
    }
    CFileParse parse;
    if (c.refuseStreamInfo) FileParseTestPeer::FailStreamInfo(parse);
    ASSERT_EQ(parse.Open(file.path.c_str()), c.line == nullptr ? 0 : -1);
    EXPECT_EQ(parse.GetAudioCodec(), c.audio);
    EXPECT_EQ(parse.GetVideoCodec(), c.video);
    if (c.line != nullptr) {
      char text[1024];
      std::snprintf(text, sizeof text, c.line, file.path.c_str(), c.code);
      EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{{60, text}}));
      EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, &ms_), -1);
      // Nothing was left open: the same object opens a good file.
      EXPECT_EQ(parse.Open(mp4_.path.c_str()), c.refuseStreamInfo ? -1 : 0);
      continue;
    }
    EXPECT_EQ(parse.Open(mp4_.path.c_str()), -1);  // already open: refused, silently
    EXPECT_TRUE(capture_->OwnLines().empty());
    const ReadBack plain = ReadMediaFile(file.path);
    ASSERT_FALSE(plain.packets.empty());
    const bool hasVideo = plain.streams.size() > 1;
    // Refused outputs consume no packet: the walk below still starts at the first.
    EXPECT_EQ(parse.ReadAudioPacket(nullptr, &size_, &ms_), -1);
    EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, nullptr), -1);
    EXPECT_EQ(parse.ReadVideoPacket(&data_, nullptr), -1);
    size_t cursor = 0;
    Bytes first;
    for (int read = 0;; ++read) {
      const bool audio = read % 2 == 0 || !hasVideo;
      while (cursor < plain.packets.size() &&
             (plain.streams[plain.packets[cursor].stream]->codec_type == AVMEDIA_TYPE_AUDIO) != audio) {
        ++cursor;
      }
      const int result = audio ? parse.ReadAudioPacket(&data_, &size_, &ms_)
                               : parse.ReadVideoPacket(&data_, &size_);
      if (cursor == plain.packets.size()) {
        EXPECT_EQ(result, -1) << "read " << read;
        break;
      }
      ASSERT_EQ(result, 0) << "read " << read;
      EXPECT_EQ(Bytes(data_, data_ + size_), plain.packets[cursor++].data) << "read " << read;
      if (read == 0) {
        EXPECT_EQ(ms_, c.firstMs);
        first.assign(data_, data_ + size_);
      }
    }
    // Past the end every read keeps failing.
    EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, &ms_), -1);
    EXPECT_EQ(parse.ReadVideoPacket(&data_, &size_), -1);
    // Closed, it reads nothing; reopened, it starts again at the beginning.
    parse.Close();
    EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
    EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, &ms_), -1);
    ASSERT_EQ(parse.Open(file.path.c_str()), 0);
    ASSERT_EQ(parse.ReadAudioPacket(&data_, &size_, &ms_), 0);
    EXPECT_EQ(Bytes(data_, data_ + size_), first);
  }  // each parser is destroyed open: ASan reports what it leaves behind
}

}  // namespace
