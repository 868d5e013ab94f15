#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "codec_interface.h"
#include "media/file_parse.h"
#include "support/log_capture.h"
#include "support/media_files.h"

namespace {

using namespace codec_interface;
using namespace codec_test;

class FileParseTest : public ::testing::Test {
 protected:
  // The sound and pictures the files are made of, encoded once.
  static void SetUpTestSuite() {
    aac_ = EncodeTone("aac", 44100, 2, 40);
    h264_ = EncodePictures("libx264", 64, 48, 25);
    WriteMediaFile(mp4_.path, "mp4", {&h264_, &aac_});
  }
  static inline EncodedStream aac_, h264_;
  static inline const ScratchFile mp4_{"aac_h264.mp4"};
  ScopedLogCapture capture_;
  unsigned char* data_ = nullptr;
  int size_ = 0, ms_ = 0;
};

// Each file once: the codecs it maps to, and either its failure line or reads that alternate
// between the streams, each giving the next packet of its stream in the order plain
// libavformat reads the file and dropping the other stream's packets on the way.
TEST_F(FileParseTest, Open_MapsCodecsReadsEachStreamOrLogsTheFailure) {
  std::ifstream whole(mp4_.path, std::ios::binary);
  Bytes halfMp4(std::istreambuf_iterator<char>(whole), {});
  halfMp4.resize(halfMp4.size() / 2);  // the index, written last, is gone
  std::mt19937 rng(7);
  Bytes noise(64 * 1024);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());

  const auto none = FILE_AUDIO_CODEC_NONE;
  const auto noVideo = FILE_VIDEO_CODEC_NONE;
  const char* notOpened = "[CODE]avformat_open_input[%s] failed[%d]";
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
  } cases[] = {
      {"both.mp4", "mp4", {&h264_, &aac_}, {}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264,
       23},
      {"aac.mp4", "mp4", {&aac_}, {}, FILE_AUDIO_CODEC_AAC, noVideo, 23},
      {"both.ts", "mpegts", {&h264_, &aac_}, {}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264,
       23},
      {"h264.mp4", "mp4", {&h264_}, {}, none, noVideo, 0,
       "[CODE]Didn't find a audio stream in[%s] Res[%d]", AVERROR_STREAM_NOT_FOUND},
      {"missing.mp4", nullptr, {}, {}, none, noVideo, 0, notOpened, AVERROR(ENOENT)},
      {"random.bin", nullptr, {}, noise, none, noVideo, 0, notOpened, AVERROR_INVALIDDATA},
      {"half.mp4", nullptr, {}, halfMp4, none, noVideo, 0, notOpened, AVERROR_INVALIDDATA},
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
    ASSERT_EQ(parse.Open(file.path.c_str()), c.line == nullptr ? 0 : -1);
    EXPECT_EQ(parse.GetAudioCodec(), c.audio);
    EXPECT_EQ(parse.GetVideoCodec(), c.video);
    if (c.line != nullptr) {
      char text[1024];
      std::snprintf(text, sizeof text, c.line, file.path.c_str(), c.code);
      EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{{60, text}}));
      EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, &ms_), -1);
      // Nothing was left open: the same object opens a good file.
      EXPECT_EQ(parse.Open(mp4_.path.c_str()), 0);
      continue;
    }
    EXPECT_TRUE(capture_->OwnLines().empty());
    const ReadBack plain = ReadMediaFile(file.path);
    ASSERT_FALSE(plain.packets.empty());
    const bool hasVideo = plain.streams.size() > 1;
    // A refused output consumes no packet: the walk below still starts at the first.
    EXPECT_EQ(parse.ReadAudioPacket(&data_, &size_, nullptr), -1);
    size_t cursor = 0;
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
      }
    }
    // Closed, it forgets the file and can open it again.
    parse.Close();
    EXPECT_EQ(parse.GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
    EXPECT_EQ(parse.Open(file.path.c_str()), 0);
  }  // each parser is destroyed open: ASan reports what it leaves behind
}

}  // namespace
