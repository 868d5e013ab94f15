#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "codec_interface.h"
#include "media/file_parse.h"
#include "media/pack_audio.h"
#include "support/log_capture.h"
#include "support/media_files.h"

namespace codec_interface {

struct PackAudioTestPeer {
  static int64_t NextPts(const CPackAudio& pack) { return pack.m_nNextPts; }
  static const AVStream* Stream(const CPackAudio& pack) { return pack.m_pStream; }
  static bool IsOpen(const CPackAudio& pack) { return pack.m_pFormatCtx != nullptr; }
  static std::string Path(const CPackAudio& pack) { return pack.m_strOutputPath; }
  static int SampleRate(const CPackAudio& pack) { return pack.m_nSampleRate; }
  static int FillStreamParams(CPackAudio& pack, int rate, int channels, AVCodecParameters* par) {
    pack.m_nSampleRate = rate;
    pack.m_nChannels = channels;
    return pack.FillStreamParams(par);
  }
};

}  // namespace codec_interface

namespace {

using namespace codec_interface;
using codec_test::Bytes;
using codec_test::EncodedStream;
using codec_test::LogLine;
using codec_test::ReadBack;
using Peer = PackAudioTestPeer;
using ParamsPtr = codec_test::ParamsPtr;

const LogLine kOpened{0, "[CODE]Ogg文件初始化成功"};
const LogLine kClosed{0, "[CODE]Ogg文件已关闭"};
LogLine InitLine(const std::string& path) { return {0, "[CODE]初始化Ogg复用器: " + path}; }

Bytes Extradata(const AVCodecParameters* par) {
  return Bytes(par->extradata, par->extradata + par->extradata_size);
}

std::vector<int64_t> Pts(const ReadBack& file) {
  std::vector<int64_t> pts;
  for (const auto& packet : file.packets) pts.push_back(packet.pts);
  return pts;
}

std::vector<int64_t> Steps(int64_t first, int64_t step, size_t count) {
  std::vector<int64_t> pts;
  for (size_t i = 0; i < count; ++i) pts.push_back(first + step * static_cast<int64_t>(i));
  return pts;
}

class PackAudioTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& path : made_) std::filesystem::remove(path);
  }
  std::string Path(const std::string& name) {
    made_.push_back(codec_test::ScratchPath(name));
    return made_.back();
  }
  // Packs every packet of the stream, expecting each write to succeed.
  static void PackAll(CPackAudio& pack, const EncodedStream& stream) {
    for (const auto& packet : stream.packets) {
      ASSERT_EQ(pack.WritePacket(packet->data, packet->size), 0);
    }
  }

  codec_test::ScopedLogCapture capture_;
  std::vector<std::string> made_;
};

// The codec header each container kind declares, byte for byte.
TEST_F(PackAudioTest, FillStreamParams_ExtradataIsByteExactPerKind) {
  const struct {
    AudioFilePackType type;
    int rate;
    int channels;
    AVCodecID codec;
    Bytes extradata;
  } cases[] = {
      {AUDIO_FILE_PACK_OGG_OPUS, 48000, 2, AV_CODEC_ID_OPUS,
       {0x4F, 0x70, 0x75, 0x73, 0x48, 0x65, 0x61, 0x64, 0x01, 0x02, 0x00, 0x0F, 0x80, 0xBB, 0x00,
        0x00, 0x00, 0x00, 0x00}},
      {AUDIO_FILE_PACK_OGG_OPUS, 16000, 1, AV_CODEC_ID_OPUS,
       {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 0x01, 0x01, 0x00, 0x05, 0x80, 0x3E, 0x00, 0x00,
        0x00, 0x00, 0x00}},
      // Ogg keeps mapping family 0 even for 5.1.
      {AUDIO_FILE_PACK_OGG_OPUS, 48000, 6, AV_CODEC_ID_OPUS,
       {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 0x01, 0x06, 0x00, 0x0F, 0x80, 0xBB, 0x00, 0x00,
        0x00, 0x00, 0x00}},
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 2, AV_CODEC_ID_OPUS,
       {0x00, 0x00, 0x00, 0x1D, 'd', 'O', 'p', 's', 0x00, 0x02, 0x00, 0x0F, 0x80, 0xBB, 0x00,
        0x00, 0x00, 0x00, 0x00}},
      {AUDIO_FILE_PACK_MP4_OPUS, 16000, 1, AV_CODEC_ID_OPUS,
       {0x00, 0x00, 0x00, 0x1D, 'd', 'O', 'p', 's', 0x00, 0x01, 0x00, 0x05, 0x80, 0x3E, 0x00,
        0x00, 0x00, 0x00, 0x00}},
      // Above two channels: family 1, one uncoupled stream per channel, all-zero mapping; the
      // length field still reads 0x1D.
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 6, AV_CODEC_ID_OPUS,
       {0x00, 0x00, 0x00, 0x1D, 'd', 'O', 'p', 's', 0x00, 0x06, 0x00, 0x0F, 0x80, 0xBB,
        0x00, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 8, AV_CODEC_ID_OPUS,
       {0x00, 0x00, 0x00, 0x1D, 'd',  'O',  'p',  's',  0x00, 0x08, 0x00, 0x0F, 0x80, 0xBB, 0x00,
        0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {AUDIO_FILE_PACK_MP4_AAC, 44100, 2, AV_CODEC_ID_AAC, {0x12, 0x10, 0x00}},
      {AUDIO_FILE_PACK_MP4_AAC, 48000, 1, AV_CODEC_ID_AAC, {0x11, 0x88, 0x00}},
      // A rate outside the table is declared as 48000.
      {AUDIO_FILE_PACK_MP4_AAC, 50000, 1, AV_CODEC_ID_AAC, {0x11, 0x88, 0x00}},
      {AUDIO_FILE_PACK_MP4_AAC, 96000, 6, AV_CODEC_ID_AAC, {0x10, 0x30, 0x00}},
      {AUDIO_FILE_PACK_MP4_AAC, 8000, 6, AV_CODEC_ID_AAC, {0x15, 0xB0, 0x00}},
      {AUDIO_FILE_PACK_MP4_AAC, 7350, 8, AV_CODEC_ID_AAC, {0x16, 0x40, 0x00}},
      {AUDIO_FILE_PACK_AAC, 44100, 2, AV_CODEC_ID_AAC, {}},
      {AUDIO_FILE_PACK_MP3, 44100, 2, AV_CODEC_ID_MP3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.type << " " << c.rate << " Hz x"
                                    << c.channels);
    CPackAudio pack(c.type);
    ParamsPtr par(avcodec_parameters_alloc());
    ASSERT_EQ(Peer::FillStreamParams(pack, c.rate, c.channels, par.get()), 0);
    EXPECT_EQ(par->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(par->codec_id, c.codec);
    EXPECT_EQ(par->sample_rate, c.rate);
    EXPECT_EQ(par->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(par->format, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(Extradata(par.get()), c.extradata);
    if (c.extradata.empty()) {
      EXPECT_EQ(par->extradata, nullptr);
    } else {
      // FFmpeg's readers may look past the end: the padding is there and zero.
      const Bytes padding(par->extradata + par->extradata_size,
                          par->extradata + par->extradata_size + AV_INPUT_BUFFER_PADDING_SIZE);
      EXPECT_EQ(padding, Bytes(AV_INPUT_BUFFER_PADDING_SIZE, 0));
    }
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(PackAudioTest, FillStreamParams_ChannelMasksAndRefusedCounts) {
  const struct {
    int channels;
    uint64_t mask;
  } accepted[] = {{1, 0x4}, {2, 0x3}, {6, 0x60F}, {8, 0x63F}};
  for (const auto& c : accepted) {
    SCOPED_TRACE(c.channels);
    CPackAudio pack(AUDIO_FILE_PACK_MP3);
    ParamsPtr par(avcodec_parameters_alloc());
    ASSERT_EQ(Peer::FillStreamParams(pack, 44100, c.channels, par.get()), 0);
    EXPECT_EQ(par->ch_layout.u.mask, c.mask);
    EXPECT_EQ(par->ch_layout.order, AV_CHANNEL_ORDER_UNSPEC);
  }
  EXPECT_TRUE(capture_->OwnLines().empty());

  // Any other count fails Init before a file is made.
  for (int channels : {0, 3, 4, 5, 7, 9, -1}) {
    SCOPED_TRACE(channels);
    capture_->Clear();
    const std::string path = Path("refused_" + std::to_string(channels) + ".mp4");
    CPackAudio pack(AUDIO_FILE_PACK_MP4_AAC);
    EXPECT_EQ(pack.Init(path.c_str(), 48000, channels, 1024), -1);
    EXPECT_EQ(capture_->OwnLines(),
              (std::vector<LogLine>{InitLine(path),
                                    {60, "[CODE]unsupport Channels: " + std::to_string(channels)},
                                    {60, "[CODE]FillStreamParams failed"}}));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(Peer::IsOpen(pack));
    EXPECT_EQ(Peer::Stream(pack), nullptr);
  }
}

// Outside an open file nothing is written and nothing logged; Init and Close log their lines.
TEST_F(PackAudioTest, Lifecycle_LinesAndRefusalsOutsideAnOpenFile) {
  CPackAudio pack(AUDIO_FILE_PACK_OGG_OPUS);
  unsigned char bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(pack.WritePacket(bytes, 4), -1);  // before Init
  EXPECT_EQ(pack.Init(nullptr, 16000, 1, 320), -1);
  EXPECT_EQ(Peer::Path(pack), "output.ogg");  // a null path changes nothing
  EXPECT_EQ(Peer::SampleRate(pack), 48000);
  EXPECT_TRUE(capture_->OwnLines().empty());

  const std::string path = Path("lines.ogg");
  ASSERT_EQ(pack.Init(path.c_str(), 48000, 2, 960), 0);
  EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{InitLine(path), kOpened}));
  capture_->Clear();
  EXPECT_EQ(pack.Init(nullptr, 16000, 1, 320), -1);  // the open file stays open
  EXPECT_TRUE(Peer::IsOpen(pack));
  EXPECT_EQ(pack.WritePacket(nullptr, 4), -1);
  EXPECT_EQ(pack.WritePacket(bytes, -1), -1);
  EXPECT_EQ(Peer::NextPts(pack), 0);
  EXPECT_TRUE(capture_->OwnLines().empty());

  pack.Close();
  pack.Close();  // a second Close only logs
  EXPECT_EQ(pack.WritePacket(bytes, 4), -1);  // after Close
  EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{kClosed, kClosed}));
}

TEST_F(PackAudioTest, Init_Failures_LogTheirLineAndLeaveNoOutput) {
  const std::string unknownKind = Path("unknown.ogg");
  const std::string noDirectory = "/nonexistent-codec-dir/out.ogg";
  const std::string noRate = Path("norate.ogg");
  const struct {
    const char* name;
    int type;
    std::string path;
    int rate;
    LogLine line;
  } cases[] = {
      // The file name's extension must not pick a muxer for an unknown kind.
      {"kind 5", 5, unknownKind, 48000, {60, "[CODE]avformat_alloc_output_context2 failed"}},
      {"kind -1", -1, unknownKind, 48000, {60, "[CODE]avformat_alloc_output_context2 failed"}},
      {"no directory", AUDIO_FILE_PACK_OGG_OPUS, noDirectory, 48000,
       {60, "[CODE]open file[" + noDirectory + "] failed"}},
      {"no rate", AUDIO_FILE_PACK_OGG_OPUS, noRate, 0,
       {60, "[CODE]avformat_write_header failed[-22]: Invalid argument"}},
      // MP4 writes its header at once, so a full disk refuses it.
      {"full disk", AUDIO_FILE_PACK_MP4_AAC, "/dev/full", 48000,
       {60, "[CODE]avformat_write_header failed[-28]: No space left on device"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture_->Clear();
    CPackAudio pack(static_cast<AudioFilePackType>(c.type));
    EXPECT_EQ(pack.Init(c.path.c_str(), c.rate, 2, 1024), -1);
    EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{InitLine(c.path), c.line}));
    EXPECT_FALSE(Peer::IsOpen(pack));
    EXPECT_EQ(Peer::Stream(pack), nullptr);
    capture_->Clear();
    unsigned char byte = 0;
    EXPECT_EQ(pack.WritePacket(&byte, 1), -1);
    pack.Close();
    EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{kClosed}));
  }
}

// Files written by the packer, read back by plain libavformat, decoded by plain libavcodec and
// opened by our own parser.
TEST_F(PackAudioTest, RoundTrip_EveryKindWithAHeaderReadsBackAndDecodes) {
  const Bytes opusHead{'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 0x01, 0x02, 0x00, 0x0F, 0x80, 0xBB,
                       0x00, 0x00, 0x00, 0x00, 0x00};
  const struct {
    const char* name;
    AudioFilePackType type;
    const char* encoder;
    int rate;
    int channels;
    const char* format;
    AVCodecID codec;
    Bytes extradata;  // as the reader reports it
    int64_t firstPts;
    int64_t step;
    FileAudioCodec parsed;
    int durationMs;  // of one packet, as our parser reports it
    int decodedSkip;  // samples a plain decoder drops at the start
  } cases[] = {
      // The Ogg reader shifts times back by the declared pre-skip (3840 at 48000 Hz).
      {"stereo.ogg", AUDIO_FILE_PACK_OGG_OPUS, "libopus", 48000, 2, "ogg", AV_CODEC_ID_OPUS,
       opusHead, -3840, 960, FILE_AUDIO_CODEC_OPUS, 20, 3840},
      // Ogg counts Opus at 48000 Hz whatever the input rate: 320 samples at 16000 Hz become
      // steps of 960, and the declared pre-skip of 1280 is read at 48000 Hz as well.
      {"mono16k.ogg", AUDIO_FILE_PACK_OGG_OPUS, "libopus", 16000, 1, "ogg", AV_CODEC_ID_OPUS,
       {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 0x01, 0x01, 0x00, 0x05, 0x80, 0x3E, 0x00, 0x00,
        0x00, 0x00, 0x00},
       -1280, 960, FILE_AUDIO_CODEC_OPUS, 20, 1280},
      // The MP4 reader turns our "dOps" back into an identification header.
      {"opus.mp4", AUDIO_FILE_PACK_MP4_OPUS, "libopus", 48000, 2, "mov,mp4,m4a,3gp,3g2,mj2",
       AV_CODEC_ID_OPUS, opusHead, 0, 960, FILE_AUDIO_CODEC_OPUS, 20, 3840},
      {"aac.mp4", AUDIO_FILE_PACK_MP4_AAC, "aac", 44100, 2, "mov,mp4,m4a,3gp,3g2,mj2",
       AV_CODEC_ID_AAC, {0x12, 0x10, 0x00}, 0, 1024, FILE_AUDIO_CODEC_AAC, 23, 0},
      // MP3 keeps its own clock too: 1152 samples at 44100 Hz in 1/14112000 s.
      {"lame.mp3", AUDIO_FILE_PACK_MP3, "libmp3lame", 44100, 2, "mp3", AV_CODEC_ID_MP3, {}, 0,
       368640, FILE_AUDIO_CODEC_NONE, 26, 529},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EncodedStream stream = codec_test::EncodeTone(c.encoder, c.rate, c.channels, 12);
    const std::string path = Path(c.name);
    CPackAudio pack(c.type);
    ASSERT_EQ(pack.Init(path.c_str(), c.rate, c.channels, stream.frameSize), 0);
    PackAll(pack, stream);
    // Our own count stays in samples at the Init rate.
    EXPECT_EQ(Peer::NextPts(pack), static_cast<int64_t>(stream.packets.size()) * stream.frameSize);
    pack.Close();

    const ReadBack file = codec_test::ReadMediaFile(path);
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.format, c.format);
    ASSERT_EQ(file.streams.size(), 1u);
    EXPECT_EQ(file.streams[0].codec, c.codec);
    // Readers report Opus at the 48000 Hz it always decodes to.
    EXPECT_EQ(file.streams[0].sampleRate, c.codec == AV_CODEC_ID_OPUS ? 48000 : c.rate);
    EXPECT_EQ(file.streams[0].channels, c.channels);
    EXPECT_EQ(file.streams[0].extradata, c.extradata);
    ASSERT_EQ(file.packets.size(), stream.packets.size());
    for (size_t i = 0; i < file.packets.size(); ++i) {
      const AVPacket* sent = stream.packets[i].get();
      EXPECT_EQ(file.packets[i].data, Bytes(sent->data, sent->data + sent->size)) << i;
    }
    EXPECT_EQ(Pts(file), Steps(c.firstPts, c.step, stream.packets.size()));
    // Every packet decodes; only the declared pre-skip (or the MP3 decoder's own delay) is cut.
    const int decodedPerPacket = c.codec == AV_CODEC_ID_OPUS ? 960 : stream.frameSize;
    EXPECT_EQ(codec_test::DecodeAudioFile(path),
              static_cast<int64_t>(stream.packets.size()) * decodedPerPacket - c.decodedSkip);

    CFileParse parse;
    ASSERT_EQ(parse.Open(path.c_str()), 0);
    EXPECT_EQ(parse.GetAudioCodec(), c.parsed);
    EXPECT_EQ(parse.GetVideoCodec(), FILE_VIDEO_CODEC_NONE);
    unsigned char* data = nullptr;
    int size = 0;
    int durationMs = 0;
    ASSERT_EQ(parse.ReadAudioPacket(&data, &size, &durationMs), 0);
    EXPECT_EQ(durationMs, c.durationMs);
  }
}

TEST_F(PackAudioTest, RoundTrip_RawAacIsTheAdtsFramesAsGiven) {
  const EncodedStream aac = codec_test::EncodeTone("aac", 44100, 2, 15);
  const std::string path = Path("raw.aac");
  CPackAudio pack(AUDIO_FILE_PACK_AAC);
  ASSERT_EQ(pack.Init(path.c_str(), 44100, 2, 1024), 0);
  Bytes expected;
  std::vector<Bytes> frames;
  for (const auto& packet : aac.packets) {
    Bytes frame = codec_test::AdtsHeader(44100, 2, packet->size);
    frame.insert(frame.end(), packet->data, packet->data + packet->size);
    ASSERT_EQ(pack.WritePacket(frame.data(), static_cast<int>(frame.size())), 0);
    expected.insert(expected.end(), frame.begin(), frame.end());
    frames.push_back(std::move(frame));
  }
  pack.Close();

  // Nothing added, nothing lost: the file is the frames back to back.
  EXPECT_EQ(codec_test::ReadBytes(path), expected);
  const ReadBack file = codec_test::ReadMediaFile(path);  // found by probing
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.format, "aac");
  EXPECT_EQ(file.streams[0].codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(file.streams[0].sampleRate, 44100);
  EXPECT_EQ(file.streams[0].channels, 2);
  ASSERT_EQ(file.packets.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(file.packets[i].data, frames[i]);
  EXPECT_GT(codec_test::DecodeAudioFile(path), 0);
}

TEST_F(PackAudioTest, WritePacket_CallerMayReuseItsBufferAtOnce) {
  const EncodedStream opus = codec_test::EncodeTone("libopus", 48000, 2, 6);
  const std::string path = Path("reuse.ogg");
  CPackAudio pack(AUDIO_FILE_PACK_OGG_OPUS);
  ASSERT_EQ(pack.Init(path.c_str(), 48000, 2, 960), 0);
  Bytes buffer;
  for (const auto& packet : opus.packets) {
    buffer.assign(packet->data, packet->data + packet->size);
    ASSERT_EQ(pack.WritePacket(buffer.data(), static_cast<int>(buffer.size())), 0);
    std::fill(buffer.begin(), buffer.end(), 0xEE);  // Ogg still holds the page in memory
  }
  pack.Close();
  const ReadBack file = codec_test::ReadMediaFile(path);
  ASSERT_EQ(file.packets.size(), opus.packets.size());
  for (size_t i = 0; i < file.packets.size(); ++i) {
    EXPECT_EQ(file.packets[i].data,
              Bytes(opus.packets[i]->data, opus.packets[i]->data + opus.packets[i]->size));
  }
}

TEST_F(PackAudioTest, WritePacket_RefusedPacketLogsAndDoesNotAdvanceTheClock) {
  const EncodedStream aac = codec_test::EncodeTone("aac", 48000, 2, 4);
  // Two packets forward, then a second file whose clock runs backwards: MP4 takes its first
  // packet and refuses every later one, which would go back in time.
  CPackAudio pack(AUDIO_FILE_PACK_MP4_AAC);
  ASSERT_EQ(pack.Init(Path("forward.mp4").c_str(), 48000, 2, 1024), 0);
  ASSERT_EQ(pack.WritePacket(aac.packets[0]->data, aac.packets[0]->size), 0);
  ASSERT_EQ(pack.WritePacket(aac.packets[1]->data, aac.packets[1]->size), 0);
  pack.Close();
  const std::string path = Path("backward.mp4");
  ASSERT_EQ(pack.Init(path.c_str(), 48000, 2, -1024), 0);
  ASSERT_EQ(pack.WritePacket(aac.packets[0]->data, aac.packets[0]->size), 0);
  EXPECT_EQ(Peer::NextPts(pack), 1024);
  capture_->Clear();
  for (int i = 1; i <= 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pack.WritePacket(aac.packets[i]->data, aac.packets[i]->size), -1);
    EXPECT_EQ(Peer::NextPts(pack), 1024);
  }
  const LogLine refused{60, "[CODE]av_interleaved_write_frame failed[-22]:Invalid argument"};
  EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{refused, refused}));
  pack.Close();
  EXPECT_EQ(codec_test::ReadMediaFile(path).packets.size(), 1u);
}

TEST_F(PackAudioTest, Timestamps_RunOnAcrossCloseAndInit) {
  const EncodedStream opus = codec_test::EncodeTone("libopus", 48000, 2, 3);
  const int64_t count = static_cast<int64_t>(opus.packets.size());
  const std::string first = Path("first.mp4");
  const std::string second = Path("second.mp4");
  CPackAudio pack(AUDIO_FILE_PACK_MP4_OPUS);
  ASSERT_EQ(pack.Init(first.c_str(), 48000, 2, 960), 0);
  PackAll(pack, opus);
  pack.Close();
  EXPECT_EQ(Peer::NextPts(pack), count * 960);
  ASSERT_EQ(pack.Init(second.c_str(), 48000, 2, 960), 0);
  PackAll(pack, opus);
  pack.Close();
  EXPECT_EQ(Peer::NextPts(pack), count * 1920);
  // The second file starts where the first ended (a whole number of milliseconds here, so
  // the MP4 edit list keeps it exact).
  EXPECT_EQ(Pts(codec_test::ReadMediaFile(first)), Steps(0, 960, opus.packets.size()));
  EXPECT_EQ(Pts(codec_test::ReadMediaFile(second)), Steps(count * 960, 960, opus.packets.size()));
}

TEST_F(PackAudioTest, Init_OnAnOpenPackerFinishesTheOpenFileFirst) {
  const EncodedStream aac = codec_test::EncodeTone("aac", 44100, 2, 5);
  const std::string first = Path("first.mp4");
  const std::string second = Path("second.mp4");
  CPackAudio pack(AUDIO_FILE_PACK_MP4_AAC);
  ASSERT_EQ(pack.Init(first.c_str(), 44100, 2, 1024), 0);
  PackAll(pack, aac);
  capture_->Clear();
  ASSERT_EQ(pack.Init(second.c_str(), 44100, 2, 1024), 0);
  EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{kClosed, InitLine(second), kOpened}));
  pack.Close();
  // An MP4 is readable only once its trailer (the index) is written.
  const ReadBack file = codec_test::ReadMediaFile(first);
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.packets.size(), aac.packets.size());
}

TEST_F(PackAudioTest, Destroy_OpenPackerReleasesTheMuxerWithoutTheTrailer) {
  const EncodedStream aac = codec_test::EncodeTone("aac", 44100, 2, 5);
  const std::string path = Path("dropped.mp4");
  {
    auto pack = IPackAudio::Create(AUDIO_FILE_PACK_MP4_AAC);
    ASSERT_EQ(pack->Init(path.c_str(), 44100, 2, 1024), 0);
    for (const auto& packet : aac.packets) {
      ASSERT_EQ(pack->WritePacket(packet->data, packet->size), 0);
    }
    capture_->Clear();
  }  // ASan reports the context, stream, file and packet if they were left behind
  EXPECT_TRUE(capture_->OwnLines().empty());
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_FALSE(codec_test::ReadMediaFile(path).opened);
}

TEST_F(PackAudioTest, Close_RefusedTrailerIsLoggedAndTheFileClosedAnyway) {
  const EncodedStream opus = codec_test::EncodeTone("libopus", 48000, 2, 3);
  // Ogg writes its pages late: on a full disk only the trailer notices.
  CPackAudio pack(AUDIO_FILE_PACK_OGG_OPUS);
  ASSERT_EQ(pack.Init("/dev/full", 48000, 2, 960), 0);
  PackAll(pack, opus);
  capture_->Clear();
  pack.Close();
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{{60, "[CODE]av_write_trailer failed[-28]: No space left on device"},
                                  kClosed}));
  EXPECT_FALSE(Peer::IsOpen(pack));
  EXPECT_EQ(pack.WritePacket(opus.packets[0]->data, opus.packets[0]->size), -1);
}

}  // namespace
