#include "media/file_parse.h"
#include "support/media.h"

namespace codec_interface {
struct FileParseTestPeer {
  static AVStream* AudioStream(CFileParse& p) { return p.m_pFormatCtx->streams[p.m_nAudioStreamIndex]; }
};
}  // namespace codec_interface

namespace {

using namespace codec_test;

// Each file once: the codecs it maps to, and either its failure line or reads that alternate
// between the streams, each giving the next packet of its stream in the order plain
// libavformat reads the file and dropping the other stream's packets on the way.
TEST(FileParse, Open_MapsCodecsReadsEachStreamOrLogsTheFailure_DurationsSaturate) {
  const EncodedStream aac = EncodeTone("aac", 44100, 2, 40 * 1024);
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 25, {{"flags", "+global_header"}});
  const ScratchFile mp4("aac_h264.mp4");
  WriteMediaFile(mp4.path, "mp4", {&h264, &aac});
  // File name; muxer (none: missing) and streams; the audio and video codecs; the failure line
  // and code. (A file FFmpeg cannot open for another cause, a cut MP4, takes the missing file's
  // path.)
  const std::tuple<const char*, const char*, std::vector<const EncodedStream*>, int, int, const char*, int> cases[] = {
      {"both.mp4", "mp4", {&h264, &aac}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_H264, nullptr, 0},
      {"aac.mp4", "mp4", {&aac}, FILE_AUDIO_CODEC_AAC, FILE_VIDEO_CODEC_NONE, nullptr, 0},
      {"h264.mp4", "mp4", {&h264}, -1, -1, "[CODE]Didn't find a audio stream in[%s] Res[%d]", AVERROR_STREAM_NOT_FOUND},
      {"missing.mp4", nullptr, {}, -1, -1, "[CODE]avformat_open_input[%s] failed[%d]", AVERROR(ENOENT)},
  };
  unsigned char* data = nullptr;
  int size = 0, ms = 0;
  for (const auto& [name, muxer, streams, audio, video, line, code] : cases) {
    SCOPED_TRACE(name);
    const ScratchFile file(name);
    if (muxer != nullptr) WriteMediaFile(file.path, muxer, streams);
    auto parse = IFileParseInterface::Create();
    ScopedLogCapture capture;
    ASSERT_EQ(parse->Open(file.path.c_str()), line == nullptr ? 0 : -1);
    EXPECT_EQ(std::tuple(int(parse->GetAudioCodec()), int(parse->GetVideoCodec())), std::tuple(audio, video));
    if (line != nullptr) {
      char text[1024];
      std::snprintf(text, sizeof text, line, file.path.c_str(), code);
      EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{60, text}}));
      EXPECT_EQ(parse->ReadAudioPacket(&data, &size, &ms), -1);
      EXPECT_EQ(parse->Open(mp4.path.c_str()), 0);  // nothing was left open
      continue;
    }
    EXPECT_TRUE(capture->OwnLines().empty());
    const ReadBack plain = ReadMediaFile(file.path);
    const bool hasVideo = plain.streams.size() > 1;
    // A refused output consumes no packet: the walk below still starts at the first.
    EXPECT_EQ(parse->ReadAudioPacket(&data, &size, nullptr), -1);
    size_t cursor = 0;
    for (int read = 0;; ++read) {
      const bool wantAudio = read % 2 == 0 || !hasVideo;
      while (cursor < plain.packets.size() &&
             (plain.streams[plain.packets[cursor].stream]->codec_type == AVMEDIA_TYPE_AUDIO) != wantAudio) {
        ++cursor;
      }
      const int result = wantAudio ? parse->ReadAudioPacket(&data, &size, &ms) : parse->ReadVideoPacket(&data, &size);
      if (cursor == plain.packets.size()) {
        EXPECT_EQ(result, -1) << read;
        break;
      }
      ASSERT_EQ(result, 0) << read;
      EXPECT_EQ(Bytes(data, data + size), plain.packets[cursor++].data) << read;
      EXPECT_TRUE(read != 0 || ms == 23);  // 1024 samples at 44100 Hz, truncated
    }
    parse->Close();  // it forgets the file and can open it again
    EXPECT_EQ(parse->GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
    EXPECT_EQ(parse->Open(file.path.c_str()), 0);
  }  // each parser is destroyed open: ASan reports what it leaves behind
  // A time base that makes a packet last longer than an int counts milliseconds: reported as the
  // largest count, never wrapped.
  for (const int sign : {1, -1}) {
    CFileParse parse;
    ASSERT_EQ(parse.Open(mp4.path.c_str()), 0);
    FileParseTestPeer::AudioStream(parse)->time_base = AVRational{sign * 1000000, 1};
    ASSERT_EQ(parse.ReadAudioPacket(&data, &size, &ms), 0);
    EXPECT_EQ(ms, sign > 0 ? INT32_MAX : INT32_MIN);
  }
}

}  // namespace
