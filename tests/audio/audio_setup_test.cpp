// Opening, closing and re-opening audio codec objects.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

using namespace codec_interface;

struct OpenCase {
  CodecType type;
  CodecParam param;
  const char* codecName;
  bool decoder;
  AVSampleFormat src;  // after mapping and defaults
  AVSampleFormat dst;
  bool resampler;  // made by Init
};

std::vector<OpenCase> OpenCases() {
  return {
      {AV_CODEC_TYPE_G711AENC, AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16),
       "pcm_alaw", false, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_G711ADEC, AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16),
       "pcm_alaw", true, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_G711UENC, AudioParam(16000, 8000, 2, 1, SAMPLE_FMT_FLT, SAMPLE_FMT_NONE),
       "pcm_mulaw", false, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16, true},
      {AV_CODEC_TYPE_G711UDEC, AudioParam(8000, 8000, 1, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_FLT),
       "pcm_mulaw", true, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLT, false},
      {AV_CODEC_TYPE_OPUSENC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE,
                                         64000),
       "libopus", false, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_OPUSDEC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_S16),
       "libopus", true, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_SPEEXENC, AudioParam(16000, 16000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE),
       "libspeex", false, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_SPEEXDEC, AudioParam(16000, 16000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16),
       "speex", true, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, false},
      {AV_CODEC_TYPE_AACENC, AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE,
                                        128000),
       "aac", false, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, true},
      {AV_CODEC_TYPE_AACDEC, AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_S16),
       "aac", true, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16, false},
  };
}

TEST(AudioSetup, Init_EveryType_OpensItsCodecWithDefaults) {
  for (const OpenCase& c : OpenCases()) {
    SCOPED_TRACE(static_cast<int>(c.type));
    ScopedLogCapture capture;
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, c.param), 0);
    EXPECT_EQ(capture->OwnLines(), std::vector<LogLine>{kInitSucc});
    ASSERT_NE(Peer::FfCodec(codec), nullptr);
    EXPECT_STREQ(Peer::FfCodec(codec)->name, c.codecName);
    EXPECT_EQ(av_codec_is_decoder(Peer::FfCodec(codec)) != 0, c.decoder);
    EXPECT_EQ(Peer::Decoder(codec), c.decoder);
    EXPECT_EQ(Peer::SrcFormat(codec), c.src);
    EXPECT_EQ(Peer::DstFormat(codec), c.dst);
    EXPECT_EQ(Peer::Swr(codec) != nullptr, c.resampler);
    EXPECT_EQ(Peer::WritesHeader(codec), c.type == AV_CODEC_TYPE_AACENC);
    EXPECT_EQ(Peer::Bsf(codec) != nullptr, c.type == AV_CODEC_TYPE_AACENC);
    EXPECT_NE(Peer::InputPacket(codec), nullptr);
    EXPECT_EQ(codec.GetCodecType(), c.type);
    // An encoder's work frame is shaped for the encoder; a fixed-size one holds one frame.
    const AVFrame* work = Peer::WorkFrame(codec);
    ASSERT_NE(work, nullptr);
    if (!c.decoder) {
      const AVCodecContext* ctx = Peer::Ctx(codec);
      EXPECT_EQ(work->format, ctx->sample_fmt);
      EXPECT_EQ(work->ch_layout.nb_channels, ctx->ch_layout.nb_channels);
      const bool anySize =
          (Peer::FfCodec(codec)->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
      EXPECT_EQ(work->nb_samples, anySize ? 0 : ctx->frame_size);
      EXPECT_EQ(ctx->sample_rate, c.param.stAudio.nDstSampleRate);
      EXPECT_EQ(ctx->ch_layout.nb_channels, c.param.stAudio.nDstChannels);
    }
  }
}

TEST(AudioSetup, Init_EncoderSettings_ReachTheContext) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 32000, 2, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 96000)),
            0);
  const AVCodecContext* ctx = Peer::Ctx(codec);
  EXPECT_EQ(ctx->bit_rate, 96000);
  EXPECT_EQ(ctx->sample_rate, 32000);
  EXPECT_EQ(ctx->sample_fmt, AV_SAMPLE_FMT_FLTP);
  const AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  EXPECT_EQ(av_channel_layout_compare(&ctx->ch_layout, &mono), 0);
  // The resampler's capacity covers one encoder frame converted from the source rate.
  EXPECT_EQ(Peer::SwrOutSamples(codec), 683);  // ceil(1024 * 32000 / 48000)
  ASSERT_NE(Peer::SwrFrame(codec), nullptr);
  EXPECT_EQ(Peer::SwrFrame(codec)->nb_samples, 683);
}

TEST(AudioSetup, Init_DecoderSettings_ReachTheContext) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                       AudioParam(16000, 8000, 2, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_DBL)),
            0);
  const AVCodecContext* ctx = Peer::Ctx(codec);
  EXPECT_EQ(ctx->sample_rate, 16000);
  EXPECT_EQ(ctx->ch_layout.nb_channels, 2);
  // A decoder makes its resampler from its first frame, never at Init.
  EXPECT_EQ(Peer::Swr(codec), nullptr);
  EXPECT_EQ(Peer::SwrFrame(codec), nullptr);
}

TEST(AudioSetup, Init_SampleFormatMapping_UsesDefaultsOnlyForNone) {
  struct Case {
    CodecType type;
    int src;
    int dst;
    AVSampleFormat wantSrc;
    AVSampleFormat wantDst;
  };
  const Case cases[] = {
      // Out-of-range values pass the required-field test and then take the default.
      {AV_CODEC_TYPE_G711UENC, 7, -1, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_G711UENC, 8, 1, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_G711UENC, 0, 1, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_G711UENC, 2, 1, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_G711UENC, 4, 1, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_AACENC, 3, -1, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP},
      {AV_CODEC_TYPE_AACDEC, -1, 4, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL},
      {AV_CODEC_TYPE_AACDEC, 99, 9, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16},
      {AV_CODEC_TYPE_G711ADEC, 2, 0, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_U8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.src) + " " +
                 std::to_string(c.dst));
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, AudioParam(8000, 8000, 1, 1, static_cast<SampleFormat>(c.src),
                                            static_cast<SampleFormat>(c.dst), 64000)),
              0);
    EXPECT_EQ(Peer::SrcFormat(codec), c.wantSrc);
    EXPECT_EQ(Peer::DstFormat(codec), c.wantDst);
  }
}

TEST(AudioSetup, Init_Refused_LogsAndLeavesObjectClosed) {
  struct Case {
    CodecType type;
    CodecParam param;
    std::vector<LogLine> lines;
  };
  const CodecParam good = AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16);
  const std::vector<Case> cases = {
      {AV_CODEC_TYPE_AUDIO_BEGIN, good,
       {Error("[CODE]Do not support type[15]"), Error("[CODE]InitCodec failed"), kUninit}},
      {static_cast<CodecType>(26), good,
       {Error("[CODE]Do not support type[26]"), Error("[CODE]InitCodec failed"), kUninit}},
      {AV_CODEC_TYPE_H264DEC, good,
       {Error("[CODE]Do not support type[1]"), Error("[CODE]InitCodec failed"), kUninit}},
      {static_cast<CodecType>(-3), good,
       {Error("[CODE]Do not support type[-3]"), Error("[CODE]InitCodec failed"), kUninit}},
      {AV_CODEC_TYPE_AACENC, AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_NONE),
       {Error("[CODE]Audio encode must set eSrcSampleFormat"), Error("[CODE]InitCodec failed"),
        kUninit}},
      {AV_CODEC_TYPE_OPUSDEC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE),
       {Error("[CODE]Audio decode must set eDstSampleFormat"), Error("[CODE]InitCodec failed"),
        kUninit}},
      // The A-law encoder's default destination format is one it does not take.
      {AV_CODEC_TYPE_G711AENC, AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE),
       {Debug("[CODE]Could not open codec"), kUninit}},
      // A rate the encoder cannot code.
      {AV_CODEC_TYPE_AACENC, AudioParam(44100, 12345, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE),
       {Debug("[CODE]Could not open codec"), kUninit}},
      // No channels on the source side: the resampler cannot be set up, logged twice.
      {AV_CODEC_TYPE_G711UENC, AudioParam(8000, 8000, 0, 1, SAMPLE_FMT_FLT, SAMPLE_FMT_S16),
       {Debug("[CODE]Failed to initialize the resampling context"),
        Error("[CODE]SwrEncResamplingInit failed"), kUninit}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    ScopedLogCapture capture;
    CFFMpegAudioCodec codec;
    EXPECT_EQ(codec.Init(c.type, c.param), -1);
    EXPECT_EQ(capture->OwnLines(), c.lines);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
    EXPECT_FALSE(Peer::Initialised(codec));
    EXPECT_EQ(Peer::Ctx(codec), nullptr);
    EXPECT_EQ(Peer::Swr(codec), nullptr);
    EXPECT_EQ(Peer::Bsf(codec), nullptr);
    EXPECT_EQ(Peer::WorkFrame(codec), nullptr);
    EXPECT_FALSE(Peer::WritesHeader(codec));
    EXPECT_EQ(Peer::SrcFormat(codec), AV_SAMPLE_FMT_NONE);
    EXPECT_EQ(Peer::Rates(codec), 0);
    // Closed means closed for both directions.
    uint8_t byte = 0;
    CAudioEncodeOutParam out;
    EXPECT_EQ(codec.Encode(&byte, 1, &out), -1);
    EXPECT_EQ(codec.Decode(&byte, 1, &out), -1);
  }
}

TEST(AudioSetup, Init_Twice_KeepsFirstCodecAndLogsNothing) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  ScopedLogCapture capture;
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE)),
            0);
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_STREQ(Peer::FfCodec(codec)->name, "pcm_mulaw");
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_G711UENC);
  EXPECT_EQ(Peer::Ctx(codec)->sample_rate, 8000);
}

TEST(AudioSetup, Uninit_Twice_LogsBothTimesAndKeepsType) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 44100, 1, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE)),
            0);
  ScopedLogCapture capture;
  codec.Uninit();
  codec.Uninit();
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{kUninit, kUninit}));
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_AACENC);
  EXPECT_EQ(Peer::Ctx(codec), nullptr);
  EXPECT_EQ(Peer::Swr(codec), nullptr);
  EXPECT_EQ(Peer::SwrFrame(codec), nullptr);
  EXPECT_EQ(Peer::Bsf(codec), nullptr);
  EXPECT_EQ(Peer::InputPacket(codec), nullptr);
  EXPECT_EQ(Peer::SwrOutSamples(codec), 0);
  EXPECT_EQ(Peer::DstFormat(codec), AV_SAMPLE_FMT_NONE);
  EXPECT_FALSE(Peer::WritesHeader(codec));
  // Re-opening after Uninit works.
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_G711UDEC);
}

TEST(AudioSetup, Reset_ReopensWithStoredTypeAndNewRecord) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_OPUSENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 64000)),
            0);
  ScopedLogCapture capture;
  EXPECT_EQ(codec.Reset(AudioParam(16000, 24000, 1, 1, SAMPLE_FMT_FLT, SAMPLE_FMT_NONE, 32000)),
            0);
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{kUninit, kInitSucc}));
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_OPUSENC);
  EXPECT_EQ(Peer::Ctx(codec)->sample_rate, 24000);
  EXPECT_NE(Peer::Swr(codec), nullptr);
}

TEST(AudioSetup, Reset_NeverInitialised_FailsAsUnsupportedType) {
  ScopedLogCapture capture;
  CFFMpegAudioCodec codec;
  EXPECT_EQ(codec.Reset(AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)), -1);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{kUninit, Error("[CODE]Do not support type[-1]"),
                                  Error("[CODE]InitCodec failed"), kUninit}));
}

TEST(AudioSetup, FrameDuration_ReachesTheOpusEncoder) {
  struct Case {
    int duration;
    int frameSize;
  };
  // 0 means 20 ms; the frame size is counted at 48 kHz.
  for (const Case c : {Case{0, 960}, Case{60, 2880}, Case{10, 480}, Case{20, 960}}) {
    SCOPED_TRACE(c.duration);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_OPUSENC, AudioParam(48000, 48000, 1, 1, SAMPLE_FMT_S16,
                                                           SAMPLE_FMT_NONE, 32000, c.duration)),
              0);
    EXPECT_EQ(Peer::Ctx(codec)->frame_size, c.frameSize);
    EXPECT_EQ(Peer::WorkFrame(codec)->nb_samples, c.frameSize);
  }
}

TEST(AudioSetup, SwrResamplingInit_BadInputFormat_LogsAtDebugLevel) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                       AudioParam(8000, 16000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  ScopedLogCapture capture;
  EXPECT_EQ(Peer::SwrResamplingInit(codec, AV_SAMPLE_FMT_NONE), -1);
  EXPECT_EQ(capture->OwnLines(),
            std::vector<LogLine>{Debug("[CODE]Failed to initialize the resampling context")});
  // The half-made resampler stays until Uninit.
  EXPECT_NE(Peer::Swr(codec), nullptr);
  EXPECT_EQ(Peer::SwrFrame(codec), nullptr);
}

TEST(AudioSetup, Factory_DroppingOpenCodec_ClosesIt) {
  ScopedLogCapture capture;
  {
    std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_AACENC);
    ASSERT_EQ(codec->GetCodecType(), static_cast<CodecType>(-1));
    ASSERT_EQ(codec->Init(AV_CODEC_TYPE_AACENC,
                          AudioParam(48000, 44100, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE)),
              0);
    Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 4000);
    CAudioEncodeOutParam out;
    EXPECT_GE(codec->Encode(pcm.data(), static_cast<int>(pcm.size()), &out), 0);
    out.Clear();
    codec->SetEasyParam(VideoEasyParam{});
  }
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{kInitSucc, kUninit}));
}

// Init, Encode and Uninit from several threads on one object are serialised by its lock.
TEST(AudioSetup, ConcurrentCallsOnOneObject_AreSerialised) {
  CFFMpegAudioCodec codec;
  const CodecParam param = AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC, param), 0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160);
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        CAudioEncodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
        Bytes chunk = pcm;
        const int r = codec.Encode(chunk.data(), static_cast<int>(chunk.size()), &out);
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
