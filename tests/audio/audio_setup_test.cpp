// Opening, refusing, closing and re-opening audio codec objects, and their failure lines.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

constexpr int N = AV_SAMPLE_FMT_NONE, S16 = AV_SAMPLE_FMT_S16, FLT = AV_SAMPLE_FMT_FLT;
constexpr const char* kSwrFailed = "[CODE]Failed to initialize the resampling context";

// Defaults not seen elsewhere: out-of-range formats count as set and then take the default,
// "frame_duration" reaches the Opus encoder (0 meaning 20 ms), Speex opens both ways.
TEST(AudioSetup, Init_DefaultsAndFrameDuration) {
  constexpr auto s16 = AV_SAMPLE_FMT_S16;
  struct Case {
    CodecType type;
    CodecParam param;
    const char* name;
    AVSampleFormat src, dst;
    int frameSize;  // -1: not checked
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_G711ADEC, AudioParam(8000, 8000, 1, 1, 2, 0), "pcm_alaw", AV_SAMPLE_FMT_S32,
       AV_SAMPLE_FMT_U8, -1},
      {AV_CODEC_TYPE_OPUSENC, AudioParam(48000, 48000, 1, 1, S16, N, 0, 60), "libopus", s16, s16,
       2880},
      {AV_CODEC_TYPE_SPEEXENC, AudioParam(16000, 16000, 1, 1, S16, N), "libspeex", s16, s16, 320},
      {AV_CODEC_TYPE_SPEEXDEC, AudioParam(16000, 16000, 1, 1, 99, 9), "speex", s16, s16, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ScopedLogCapture capture;
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, c.param), 0);
    EXPECT_EQ(capture->OwnLines(), std::vector<LogLine>{kInitSucc});
    EXPECT_STREQ(Peer::Ctx(codec)->codec->name, c.name);
    EXPECT_EQ(Peer::SrcFormat(codec), c.src);
    EXPECT_EQ(Peer::DstFormat(codec), c.dst);
    EXPECT_TRUE(c.frameSize < 0 || Peer::WorkFrame(codec)->nb_samples == c.frameSize);
  }
}

// Each case: the type and record Init gets (type -1: Init is not called), the step run after it
// under log capture (none: Init itself is captured), its result and the exact lines.
TEST(AudioSetup, Failures_ReturnCodesAndExactLines) {
  using Step = std::function<int(CFFMpegAudioCodec&)>;
  struct Case {
    const char* name;
    int type;
    CodecParam param;
    Step step;
    int result;
    std::vector<LogLine> lines;
  };
  const CodecParam g711 = AudioParam(8000, 8000, 1, 1, S16, S16);
  const CodecParam aacDec = AudioParam(44100, 44100, 2, 2, N, S16);
  static uint8_t bytes[64];
  std::memset(bytes, 0x5A, sizeof bytes);
  const Step decode = [](CFFMpegAudioCodec& c) {
    CAudioDecodeOutParam out;
    return c.Decode(bytes, sizeof bytes, &out);
  };
  const auto header = [](int rate, int room) -> Step {
    return [rate, room](CFFMpegAudioCodec& c) {
      Peer::UseHeaderContext(c, rate, 2);
      AVPacket packet{};
      uint8_t h[8] = {};
      return CFFMpegAudioCodec::WriteADTSHeader(&c, h, room, &packet);
    };
  };
  const auto refused = [](const char* first) {
    return std::vector<LogLine>{Error(first), Error("[CODE]InitCodec failed"), kUninit};
  };
  const std::vector<Case> cases = {
      {"type 15", 15, g711, nullptr, -1, refused("[CODE]Do not support type[15]")},
      {"type 26", 26, g711, nullptr, -1, refused("[CODE]Do not support type[26]")},
      {"encoder without source format", AV_CODEC_TYPE_AACENC, AudioParam(44100, 44100, 2, 2, N, N),
       nullptr, -1, refused("[CODE]Audio encode must set eSrcSampleFormat")},
      {"decoder without destination format", AV_CODEC_TYPE_OPUSDEC,
       AudioParam(48000, 48000, 2, 2, S16, N), nullptr, -1,
       refused("[CODE]Audio decode must set eDstSampleFormat")},
      // The A-law encoder's default destination format is one it does not take.
      {"codec refuses", AV_CODEC_TYPE_G711AENC, AudioParam(8000, 8000, 1, 1, S16, N), nullptr, -1,
       {Debug("[CODE]Could not open codec"), kUninit}},
      {"encoder resampler", AV_CODEC_TYPE_G711UENC, AudioParam(8000, 8000, 0, 1, FLT, S16), nullptr,
       -1, {Debug(kSwrFailed), Error("[CODE]SwrEncResamplingInit failed"), kUninit}},
      {"Reset before Init", -1, g711, [&](CFFMpegAudioCodec& c) { return c.Reset(g711); }, -1,
       {kUninit, Error("[CODE]Do not support type[-1]"), Error("[CODE]InitCodec failed"), kUninit}},
      {"Encode on a decoder", AV_CODEC_TYPE_G711UDEC, AudioParam(8000, 8000, 1, 1, N, S16),
       [](CFFMpegAudioCodec& c) { CAudioEncodeOutParam o; return c.Encode(bytes, 8, &o); }, -1, {}},
      {"Decode on an encoder", AV_CODEC_TYPE_G711UENC, g711, decode, -1, {}},
      {"Decode of garbage", AV_CODEC_TYPE_AACDEC, aacDec, decode, -2,
       {Error("[CODE]audio avcodec_send_packet failed:" + std::to_string(AVERROR_INVALIDDATA))}},
      // No destination channels: the resampler made from the first frame cannot start.
      {"decoder resampler", AV_CODEC_TYPE_G711ADEC, AudioParam(8000, 8000, 1, 0, N, S16), decode,
       -1, {Debug(kSwrFailed), Error("[CODE]SwrResamplingInit failed")}},
      // An empty packet ends the filter's stream: nothing comes out.
      {"filter with empty packet", AV_CODEC_TYPE_AACENC, AudioParam(48000, 48000, 2, 2, S16, N),
       [](CFFMpegAudioCodec& c) { return Peer::AvpktBsf(c, PacketPtr(av_packet_alloc()).get()); },
       -1, {Error("[CODE]av_bsf_receive_packet failed"), Error("[CODE]AvpktBsf failed")}},
      {"ADTS buffer too small", -1, g711, header(44100, 6), 0, {Error("[CODE]ADTS Outbuf is full")}},
      {"ADTS rate without index", -1, g711, header(44000, 8), 0,
       {Error("[CODE]WriteADTSHeader failed")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFFMpegAudioCodec codec;
    if (c.step && c.type >= 0) {
      ASSERT_EQ(codec.Init(static_cast<CodecType>(c.type), c.param), 0);
    }
    ScopedLogCapture capture;
    EXPECT_EQ(c.step ? c.step(codec) : codec.Init(static_cast<CodecType>(c.type), c.param),
              c.result);
    EXPECT_EQ(capture->OwnLines(), c.lines);
    // A refused Init leaves a closed object behind.
    EXPECT_TRUE(c.step || (Peer::Ctx(codec) == nullptr && Peer::Swr(codec) == nullptr &&
                           codec.GetCodecType() == static_cast<CodecType>(-1)));
  }
}

// Init, Encode and Uninit from several threads on one object are serialised by its lock.
TEST(AudioSetup, ConcurrentCallsOnOneObject_AreSerialised) {
  CFFMpegAudioCodec codec;
  const CodecParam param = AudioParam(8000, 8000, 1, 1, S16, S16);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC, param), 0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160);
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        CAudioEncodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
        Bytes chunk = pcm;
        const int r = codec.Encode(chunk.data(), 320, &out);
        // Closed in between by another thread, or one 160-byte packet.
        if (!(r == -1 || (r == 1 && out.m_outData[0].nSize == 160))) bad[t]++;
        if (t == 0 && i % 10 == 0) {
          codec.Uninit();
          codec.Init(AV_CODEC_TYPE_G711UENC, param);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace codec_test
