#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "codec_interface.h"
#include "media/file_parse.h"
#include "media/pack_audio.h"
#include "support/audio_media.h"
#include "support/log_capture.h"
#include "support/media_files.h"

namespace codec_interface {

struct PackAudioTestPeer {
  static int64_t NextPts(const CPackAudio& pack) { return pack.m_nNextPts; }
  static int FillStreamParams(CPackAudio& pack, int rate, int channels, AVCodecParameters* par) {
    pack.m_nSampleRate = rate;
    pack.m_nChannels = channels;
    return pack.FillStreamParams(par);
  }
};

}  // namespace codec_interface

namespace {

using namespace codec_interface;
using namespace codec_test;

const LogLine kOpened{0, "[CODE]Ogg文件初始化成功"};
const LogLine kClosed{0, "[CODE]Ogg文件已关闭"};
LogLine InitLine(const std::string& path) { return {0, "[CODE]初始化Ogg复用器: " + path}; }

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ') bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i++, 2), 0, 16)));
  }
  return bytes;
}

EncodedAudio Tone(const char* encoder, int rate, int channels, int samples) {
  return EncodeTestAudio(encoder, MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples),
                         AV_SAMPLE_FMT_S16, rate, channels);
}

// Packs every packet from one buffer that is scribbled over after each write, as a host may.
void PackAll(IPackAudio& pack, const std::vector<Bytes>& packets) {
  Bytes buffer;
  for (const Bytes& packet : packets) {
    buffer = packet;
    ASSERT_EQ(pack.WritePacket(buffer.data(), static_cast<int>(buffer.size())), 0);
    std::fill(buffer.begin(), buffer.end(), 0xEE);
  }
}

class PackAudioTest : public ::testing::Test {
 protected:
  ScopedLogCapture capture_;
  unsigned char byte_ = 0;
};

TEST_F(PackAudioTest, FillStreamParams_HeaderIsByteExactAndTheMaskFollowsTheChannels) {
  const std::map<int, uint64_t> masks{{1, 0x4}, {2, 0x3}, {6, 0x60F}, {8, 0x63F}};
  const struct {
    AudioFilePackType type;
    int rate;
    int channels;
    const char* extradata;
  } cases[] = {
      // "OpusHead", version 1, channels, pre-skip 3840 (1280 at 16000 Hz), input rate, gain 0,
      // mapping family 0, also for 5.1.
      {AUDIO_FILE_PACK_OGG_OPUS, 48000, 2, "4F70757348656164 01 02 000F 80BB0000 0000 00"},
      {AUDIO_FILE_PACK_OGG_OPUS, 16000, 1, "4F70757348656164 01 01 0005 803E0000 0000 00"},
      {AUDIO_FILE_PACK_OGG_OPUS, 48000, 6, "4F70757348656164 01 06 000F 80BB0000 0000 00"},
      // "dOps" with its length always 0x1D; above two channels family 1, one uncoupled stream
      // per channel and an all-zero mapping.
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 2, "0000001D 644F7073 00 02 000F 80BB0000 0000 00"},
      {AUDIO_FILE_PACK_MP4_OPUS, 16000, 1, "0000001D 644F7073 00 01 0005 803E0000 0000 00"},
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 6,
       "0000001D 644F7073 00 06 000F 80BB0000 0000 01 06 00 000000000000"},
      {AUDIO_FILE_PACK_MP4_OPUS, 48000, 8,
       "0000001D 644F7073 00 08 000F 80BB0000 0000 01 08 00 0000000000000000"},
      // AudioSpecificConfig: AAC-LC, rate index, channels; a rate outside the table is 48000.
      {AUDIO_FILE_PACK_MP4_AAC, 44100, 2, "121000"},
      {AUDIO_FILE_PACK_MP4_AAC, 48000, 1, "118800"},
      {AUDIO_FILE_PACK_MP4_AAC, 50000, 1, "118800"},
      {AUDIO_FILE_PACK_MP4_AAC, 96000, 6, "103000"},
      {AUDIO_FILE_PACK_MP4_AAC, 7350, 8, "164000"},
      {AUDIO_FILE_PACK_AAC, 44100, 2, ""},
      {AUDIO_FILE_PACK_MP3, 44100, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.type << " " << c.rate << "x" << c.channels);
    CPackAudio pack(c.type);
    ParamsPtr par(avcodec_parameters_alloc());
    ASSERT_EQ(PackAudioTestPeer::FillStreamParams(pack, c.rate, c.channels, par.get()), 0);
    EXPECT_EQ(par->sample_rate, c.rate);
    EXPECT_EQ(par->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(par->ch_layout.u.mask, masks.at(c.channels));
    EXPECT_EQ(par->format, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(Bytes(par->extradata, par->extradata + par->extradata_size), Hex(c.extradata));
    // FFmpeg's readers may look past the end: the padding is there and zero.
    if (const uint8_t* end = par->extradata + par->extradata_size; end != nullptr) {
      EXPECT_EQ(Bytes(end, end + AV_INPUT_BUFFER_PADDING_SIZE), Bytes(AV_INPUT_BUFFER_PADDING_SIZE, 0));
    }
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(PackAudioTest, Init_FailuresLogTheirLinesAndLeaveNothingOpen) {
  const std::string noDirectory = "/nonexistent-codec-dir/out.ogg";
  const LogLine noContext{60, "[CODE]avformat_alloc_output_context2 failed"};
  struct Case {
    std::string name;  // of the scratch file, unless a path is given
    int type;
    const char* path;
    int rate;
    int channels;
    std::vector<LogLine> lines;  // after the Init line
  };
  std::vector<Case> cases = {
      // The file name's extension must not pick a muxer for an unknown kind.
      {"kind5.ogg", 5, nullptr, 48000, 2, {noContext}},
      {"kind-1.ogg", -1, nullptr, 48000, 2, {noContext}},
      {"", AUDIO_FILE_PACK_OGG_OPUS, noDirectory.c_str(), 48000, 2,
       {{60, "[CODE]open file[" + noDirectory + "] failed"}}},
      {"norate.ogg", AUDIO_FILE_PACK_OGG_OPUS, nullptr, 0, 2,
       {{60, "[CODE]avformat_write_header failed[-22]: Invalid argument"}}},
      // MP4 writes its header at once, so a full disk refuses it.
      {"", AUDIO_FILE_PACK_MP4_AAC, "/dev/full", 48000, 2,
       {{60, "[CODE]avformat_write_header failed[-28]: No space left on device"}}},
  };
  for (int channels : {0, 3, 5, 7, 9}) {
    cases.push_back({"ch" + std::to_string(channels) + ".mp4", AUDIO_FILE_PACK_MP4_AAC, nullptr,
                     48000, channels,
                     {{60, "[CODE]unsupport Channels: " + std::to_string(channels)},
                      {60, "[CODE]FillStreamParams failed"}}});
  }
  for (const auto& c : cases) {
    const ScratchFile scratch(c.name);
    const std::string path = c.path != nullptr ? c.path : scratch.path;
    SCOPED_TRACE(path);
    capture_->Clear();
    CPackAudio pack(static_cast<AudioFilePackType>(c.type));
    EXPECT_EQ(pack.Init(path.c_str(), c.rate, c.channels, 1024), -1);
    std::vector<LogLine> expected{InitLine(path)};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(capture_->OwnLines(), expected);
    if (c.lines.back() == noContext || c.lines.size() == 2) {
      EXPECT_FALSE(std::filesystem::exists(path));  // refused before a file was made
    }
    // Nothing is open: no packet is taken and Close has no trailer to write.
    capture_->Clear();
    EXPECT_EQ(pack.WritePacket(&byte_, 1), -1);
    pack.Close();
    EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{kClosed}));
  }
}

TEST_F(PackAudioTest, Lifecycle_PtsRunOnAcrossFilesAndRefusedCallsChangeNothing) {
  const EncodedAudio opus = Tone("libopus", 48000, 2, 2880);
  const size_t count = opus.packets.size();
  const ScratchFile first("first.mp4");
  const ScratchFile second("second.mp4");
  const ScratchFile dropped("dropped.mp4");
  auto pack = IPackAudio::Create(AUDIO_FILE_PACK_MP4_OPUS);
  EXPECT_EQ(pack->WritePacket(&byte_, 1), -1);  // before Init
  EXPECT_EQ(pack->Init(nullptr, 48000, 2, 960), -1);
  ASSERT_EQ(pack->Init(first.path.c_str(), 48000, 2, 960), 0);
  EXPECT_EQ(pack->Init(nullptr, 16000, 1, 320), -1);  // the open file and its settings stay
  EXPECT_EQ(pack->WritePacket(nullptr, 4), -1);
  EXPECT_EQ(pack->WritePacket(&byte_, -1), -1);
  PackAll(*pack, opus.packets);
  ASSERT_EQ(pack->Init(second.path.c_str(), 48000, 2, 960), 0);  // finishes the first file
  PackAll(*pack, opus.packets);
  pack->Close();
  pack->Close();
  EXPECT_EQ(pack->WritePacket(&byte_, 1), -1);  // after Close
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{InitLine(first.path), kOpened, kClosed, InitLine(second.path),
                                  kOpened, kClosed, kClosed}));
  // The second file goes on where the first ended (whole milliseconds, so the MP4 edit list
  // keeps it exact).
  for (const auto& [path, start] : {std::pair{first.path, size_t{0}}, {second.path, 960 * count}}) {
    const ReadBack plain = ReadMediaFile(path);
    ASSERT_EQ(plain.packets.size(), count);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(plain.packets[i].pts, start + 960 * i) << path;
  }

  // Destroyed while open: no trailer and no line; ASan reports whatever is left behind.
  ASSERT_EQ(pack->Init(dropped.path.c_str(), 48000, 2, 960), 0);
  PackAll(*pack, opus.packets);
  capture_->Clear();
  pack.reset();
  EXPECT_TRUE(capture_->OwnLines().empty());
  EXPECT_TRUE(std::filesystem::exists(dropped.path));
  EXPECT_FALSE(ReadMediaFile(dropped.path).opened);
}

TEST_F(PackAudioTest, Refusals_PacketKeepsThePtsAndTrailerIsLoggedOnClose) {
  const EncodedAudio aac = Tone("aac", 48000, 2, 4096);
  const ScratchFile forward("forward.mp4");
  const ScratchFile backward("backward.mp4");
  // Two packets forward, then a file whose clock runs backwards: MP4 takes its first packet
  // and refuses every later one, which would go back in time.
  CPackAudio mp4(AUDIO_FILE_PACK_MP4_AAC);
  ASSERT_EQ(mp4.Init(forward.path.c_str(), 48000, 2, 1024), 0);
  PackAll(mp4, {aac.packets[0], aac.packets[1]});
  ASSERT_EQ(mp4.Init(backward.path.c_str(), 48000, 2, -1024), 0);
  PackAll(mp4, {aac.packets[0]});
  capture_->Clear();
  for (int i = 1; i <= 2; ++i) {
    Bytes packet = aac.packets[i];
    EXPECT_EQ(mp4.WritePacket(packet.data(), static_cast<int>(packet.size())), -1);
    EXPECT_EQ(PackAudioTestPeer::NextPts(mp4), 1024);
  }
  const LogLine refused{60, "[CODE]av_interleaved_write_frame failed[-22]:Invalid argument"};
  EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{refused, refused}));
  mp4.Close();
  EXPECT_EQ(ReadMediaFile(backward.path).packets.size(), 1u);

  // Ogg writes its pages late: on a full disk only the trailer notices.
  CPackAudio ogg(AUDIO_FILE_PACK_OGG_OPUS);
  ASSERT_EQ(ogg.Init("/dev/full", 48000, 2, 960), 0);
  PackAll(ogg, Tone("libopus", 48000, 2, 2880).packets);
  capture_->Clear();
  ogg.Close();
  EXPECT_EQ(
      capture_->OwnLines(),
      (std::vector<LogLine>{{60, "[CODE]av_write_trailer failed[-28]: No space left on device"},
                            kClosed}));
  EXPECT_EQ(ogg.WritePacket(&byte_, 1), -1);
}

// Files written by the packer, read back by plain libavformat and libavcodec and by our parser.
TEST_F(PackAudioTest, RoundTrip_EveryKindReadsBackAndDecodes) {
  const Bytes opusHead = Hex("4F70757348656164 01 02 000F 80BB0000 0000 00");
  const char* mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
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
    int decodedSkip;  // samples a plain decoder drops at the start
  } cases[] = {
      // The Ogg reader shifts times back by the declared pre-skip.
      {"stereo.ogg", AUDIO_FILE_PACK_OGG_OPUS, "libopus", 48000, 2, "ogg", AV_CODEC_ID_OPUS,
       opusHead, -3840, 960, FILE_AUDIO_CODEC_OPUS, 3840},
      // Ogg counts Opus at 48000 Hz whatever the input rate: 320 samples at 16000 Hz are steps
      // of 960, and the pre-skip of 1280 is read at 48000 Hz as well.
      {"mono16k.ogg", AUDIO_FILE_PACK_OGG_OPUS, "libopus", 16000, 1, "ogg", AV_CODEC_ID_OPUS,
       Hex("4F70757348656164 01 01 0005 803E0000 0000 00"), -1280, 960, FILE_AUDIO_CODEC_OPUS,
       1280},
      // The MP4 reader turns our "dOps" back into an identification header.
      {"opus.mp4", AUDIO_FILE_PACK_MP4_OPUS, "libopus", 48000, 2, mp4, AV_CODEC_ID_OPUS, opusHead,
       0, 960, FILE_AUDIO_CODEC_OPUS, 3840},
      {"aac.mp4", AUDIO_FILE_PACK_MP4_AAC, "aac", 44100, 2, mp4, AV_CODEC_ID_AAC, Hex("121000"),
       0, 1024, FILE_AUDIO_CODEC_AAC, 0},
      // The host hands whole ADTS frames; the raw file is them back to back.
      {"raw.aac", AUDIO_FILE_PACK_AAC, "aac", 44100, 2, "aac", AV_CODEC_ID_AAC, {}, 0, 655360,
       FILE_AUDIO_CODEC_AAC, 0},
      // MP3 keeps its own clock: 1152 samples at 44100 Hz in 1/14112000 s.
      {"lame.mp3", AUDIO_FILE_PACK_MP3, "libmp3lame", 44100, 2, "mp3", AV_CODEC_ID_MP3, {}, 0,
       368640, FILE_AUDIO_CODEC_NONE, 529},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EncodedAudio tone = Tone(c.encoder, c.rate, c.channels, c.rate / 4);
    const std::vector<Bytes> packets = c.type == AUDIO_FILE_PACK_AAC
                                           ? ToAdtsFrames(tone, c.rate, c.channels)
                                           : tone.packets;
    const ScratchFile file(c.name);
    CPackAudio pack(c.type);
    ASSERT_EQ(pack.Init(file.path.c_str(), c.rate, c.channels, tone.frameSize), 0);
    PackAll(pack, packets);
    pack.Close();

    const ReadBack plain = ReadMediaFile(file.path);
    ASSERT_TRUE(plain.opened);
    EXPECT_EQ(plain.format, c.format);
    ASSERT_EQ(plain.streams.size(), 1u);
    const AVCodecParameters* par = plain.streams[0].get();
    EXPECT_EQ(par->codec_id, c.codec);
    // Readers report Opus at the 48000 Hz it always decodes to.
    EXPECT_EQ(par->sample_rate, c.codec == AV_CODEC_ID_OPUS ? 48000 : c.rate);
    EXPECT_EQ(par->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(Bytes(par->extradata, par->extradata + par->extradata_size), c.extradata);
    ASSERT_EQ(plain.packets.size(), packets.size());
    size_t bytes = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(plain.packets[i].data, packets[i]) << "packet " << i;
      EXPECT_EQ(plain.packets[i].pts, c.firstPts + c.step * static_cast<int64_t>(i)) << i;
      bytes += packets[i].size();
    }
    // The raw AAC file is the frames back to back, nothing added.
    EXPECT_TRUE(c.type != AUDIO_FILE_PACK_AAC || std::filesystem::file_size(file.path) == bytes);
    // Only the declared pre-skip (or the MP3 decoder's own delay) is cut.
    const int64_t perPacket = c.codec == AV_CODEC_ID_OPUS ? 960 : tone.frameSize;
    EXPECT_EQ(plain.decodedSamples, static_cast<int64_t>(packets.size()) * perPacket - c.decodedSkip);

    CFileParse parse;
    ASSERT_EQ(parse.Open(file.path.c_str()), 0);
    EXPECT_EQ(parse.GetAudioCodec(), c.parsed);
  }
}

}  // namespace
