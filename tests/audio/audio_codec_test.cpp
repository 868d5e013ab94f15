// Audio codec objects against FFmpeg's own encoders, decoders and AAC demuxer, and their
// refusals with the exact lines. (One object's calls from many threads at once are the load
// test's.)

#include <cmath>
#include <cstring>

#include "audio/aac_packet_filter.h"
#include "support/media.h"

namespace {

using namespace codec_test;

constexpr int N = SAMPLE_FMT_NONE, S16 = SAMPLE_FMT_S16, S32 = SAMPLE_FMT_S32, FLT = SAMPLE_FMT_FLT, DBL = SAMPLE_FMT_DBL;
const LogLine kUninit{20, "[CODE]audio codec uninit"};
LogLine Error(const std::string& text) { return {60, text}; }

// How well one channel follows the tone delayed by the best lag in [minLag, maxLag], over
// `length` samples from `skip`: normalised correlation, and RMS error relative to the tone.
std::pair<double, double> MatchSine(const std::vector<double>& interleaved, int channels, int channel,
                                    int rate, int skip, int length, int minLag, int maxLag) {
  std::pair<double, double> best = {-2.0, 1e9};
  for (int lag = minLag; lag <= maxLag; ++lag) {
    if (static_cast<size_t>(skip + lag + length) * channels > interleaved.size()) break;
    double xy = 0, xx = 0, yy = 0, diff = 0;
    for (int i = skip; i < skip + length; ++i) {
      const double x = SineAt(rate, channel, i), y = interleaved[size_t(i + lag) * channels + channel];
      xy += x * y, xx += x * x, yy += y * y, diff += (x - y) * (x - y);
    }
    const double correlation = yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    if (correlation > best.first) best = {correlation, std::sqrt(diff / xx)};
  }
  return best;
}

// FFmpeg's packets of the tone: G.711 ones of `packetSamples`, AAC behind ADTS headers.
std::vector<Bytes> FfmpegPackets(const char* encoder, int rate, int channels, int samples,
                                 int packetSamples = 160, int* padding = nullptr) {
  const EncodedStream coded = EncodeTone(encoder, rate, channels, samples, packetSamples, 128000);
  if (padding != nullptr) *padding = coded.initialPadding;
  return std::strcmp(encoder, "aac") == 0 ? WithAdtsHeaders(coded.data, rate, channels) : coded.data;
}

// Each record's header is byte-exact: the known one, and the test's own bit-by-bit header with
// channel configuration 7 for eight channels (that FFmpeg's "aac" demuxer reads such records back
// is the packer's test). 1000-sample chunks take the FIFO path. Without a rate to index, or room
// for the header, nothing is written.
TEST(AdtsFraming, HeadersAreByteExact) {
  for (const int channels : {2, 8}) {
    auto codec = OpenCodec(AV_CODEC_TYPE_AACENC, AudioParam(48000, 44100, channels, channels, S16, N, 128000));
    const EncodedRecords run = EncodeInChunks(*codec, MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, channels, 24000), 4000);
    ASSERT_GT(run.packets.size(), 15u);
    for (size_t i = 0; i < run.packets.size(); ++i) {
      EXPECT_EQ(run.headers[i] + run.packets[i], WithAdtsHeaders({run.packets[i]}, 44100, channels == 8 ? 7 : channels)[0]) << i;
    }
  }
  // The reference itself, against a header written out by hand.
  EXPECT_EQ(WithAdtsHeaders({Bytes(371)}, 44100, 2)[0], Bytes({0xFF, 0xF1, 0x50, 0x80, 0x2F, 0x5F, 0xFC}) + Bytes(371));
  AVPacket packet{};
  ScopedLogCapture capture;
  EXPECT_EQ(WriteAdtsHeaderFor(nullptr, Bytes(8).data(), 6, &packet), 0);
  EXPECT_EQ(WriteAdtsHeaderFor(nullptr, Bytes(8).data(), 8, &packet), 0);
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{Error("[CODE]ADTS Outbuf is full"),
                                                       Error("[CODE]WriteADTSHeader failed")}));
}

// Each case: the type and record Init gets (type -1: Init is not called), the step run after it
// under log capture (none: Init itself is captured), its result and the exact lines. A refused
// Init leaves the object closed.
TEST(AudioSetup, Failures_ReturnCodesAndExactLines) {
  using Step = std::function<int(ICodecInterface&)>;
  const CodecParam g711 = AudioParam(8000, 8000, 1, 1, S16, S16);
  static Bytes bytes(64, 0x5A);
  const Step decode = [](ICodecInterface& c) { return c.Decode(bytes.data(), 64, std::make_unique<CAudioDecodeOutParam>().get()); };
  const auto refused = [](const char* first) {
    return std::vector<LogLine>{Error(first), Error("[CODE]InitCodec failed"), kUninit};
  };
  const std::string swrFailed = "[CODE]Failed to initialize the resampling context";
  const std::tuple<int, CodecParam, Step, int, std::vector<LogLine>> cases[] = {
      {15, g711, nullptr, -1, refused("[CODE]Do not support type[15]")},
      {26, g711, nullptr, -1, refused("[CODE]Do not support type[26]")},
      {AV_CODEC_TYPE_AACENC, AudioParam(44100, 44100, 2, 2, N, N), nullptr, -1,
       refused("[CODE]Audio encode must set eSrcSampleFormat")},
      {AV_CODEC_TYPE_OPUSDEC, AudioParam(48000, 48000, 2, 2, S16, N), nullptr, -1,
       refused("[CODE]Audio decode must set eDstSampleFormat")},
      // The A-law encoder's default destination format is one it does not take.
      {AV_CODEC_TYPE_G711AENC, AudioParam(8000, 8000, 1, 1, S16, N), nullptr, -1,
       {{0, "[CODE]Could not open codec"}, kUninit}},
      {AV_CODEC_TYPE_G711UENC, AudioParam(8000, 8000, 0, 1, FLT, S16), nullptr, -1,
       {{0, swrFailed}, Error("[CODE]SwrEncResamplingInit failed"), kUninit}},
      {-1, g711, [&](ICodecInterface& c) { return c.Reset(g711); }, -1,
       {kUninit, Error("[CODE]Do not support type[-1]"), Error("[CODE]InitCodec failed"), kUninit}},
      {AV_CODEC_TYPE_G711UDEC, AudioParam(8000, 8000, 1, 1, N, S16),
       [](ICodecInterface& c) { return c.Encode(bytes.data(), 8, std::make_unique<CAudioEncodeOutParam>().get()); }, -1, {}},
      {AV_CODEC_TYPE_G711UENC, g711, decode, -1, {}},
      {AV_CODEC_TYPE_AACDEC, AudioParam(44100, 44100, 2, 2, N, S16), decode, -2,
       {Error("[CODE]audio avcodec_send_packet failed:" + std::to_string(AVERROR_INVALIDDATA))}},
      // No destination channels: the resampler made from the first frame cannot start.
      {AV_CODEC_TYPE_G711ADEC, AudioParam(8000, 8000, 1, 0, N, S16), decode, -1,
       {{0, swrFailed}, Error("[CODE]SwrResamplingInit failed")}},
  };
  for (const auto& [type, param, step, result, lines] : cases) {
    SCOPED_TRACE(testing::Message() << type << " " << (step ? "step" : "Init"));
    auto codec = ICodecInterface::Create(AV_CODEC_TYPE_AACENC);
    if (step && type >= 0) {
      ASSERT_EQ(codec->Init(CodecType(type), param), 0);
    }
    ScopedLogCapture capture;
    EXPECT_EQ(step ? step(*codec) : codec->Init(CodecType(type), param), result);
    EXPECT_EQ(capture->OwnLines(), lines);
    EXPECT_TRUE(step || codec->GetCodecType() == CodecType(-1));
  }
}

// Encode rows (a source format given): our packets decoded by FFmpeg. Decode rows: FFmpeg's
// packets (G.711 ones of `chunk` samples) decoded by us. Nothing is logged. Without conversion
// G.711 must give FFmpeg's own samples exactly, and Opus and AAC the tone delayed by exactly the
// encoder's padding within 15 % RMS, in whole frames per packet. With a conversion the tone
// survives at the new rate in every channel, at any phase since channels may be mixed or
// spread; chunks that do not convert whole wait for the next call. About one second of sound
// comes out either way.
TEST(AudioRoundTrip, BothWaysAgainstFfmpeg) {
  // Type, FFmpeg's codec, source format, rate, channels, destination format, rate, channels,
  // samples per encoded chunk or G.711 packet, Opus "frame_duration" in ms.
  const std::tuple<CodecType, const char*, int, int, int, int, int, int, int, int> cases[] = {
      {AV_CODEC_TYPE_G711AENC, "pcm_alaw", S16, 8000, 1, S16, 8000, 1, 333, 0},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S16, 48000, 2, N, 48000, 2, 960, 0},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S16, 48000, 1, N, 48000, 1, 1000, 60},
      {AV_CODEC_TYPE_AACENC, "aac", S16, 44100, 2, N, 44100, 2, 1024, 0},
      {AV_CODEC_TYPE_AACENC, "aac", S16, 16000, 1, N, 44100, 2, 777, 0},
      {AV_CODEC_TYPE_AACENC, "aac", DBL, 48000, 2, N, 16000, 1, 777, 0},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S32, 44100, 1, N, 48000, 2, 777, 0},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", FLT, 48000, 2, S16, 8000, 1, 777, 0},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", N, 8000, 2, S16, 8000, 2, 160, 0},
      {AV_CODEC_TYPE_OPUSDEC, "libopus", N, 48000, 2, S16, 48000, 2, 0, 0},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 44100, 2, S16, 44100, 2, 0, 0},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, S32, 48000, 2, 400, 0},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", N, 8000, 2, FLT, 44100, 1, 400, 0},
      // One-sample packets, six to one down: most convert to nothing yet, which is no error.
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 48000, 1, S16, 8000, 1, 1, 0},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 48000, 1, S16, 16000, 1, 0, 0},
  };
  for (const auto& [type, ffmpeg, src, srcRate, srcCh, dst, dstRate, dstCh, chunk, ms] : cases) {
    SCOPED_TRACE(testing::Message() << type << " " << srcRate << "/" << srcCh << " " << dstRate << "/" << dstCh);
    const bool encode = src != N, g711 = std::strncmp(ffmpeg, "pcm", 3) == 0;
    const bool same = srcRate == dstRate && srcCh == dstCh && (encode ? src : dst) == S16;
    const CodecParam param = AudioParam(srcRate, dstRate, srcCh, dstCh, src, dst, 128000, ms);
    auto codec = OpenCodec(type, param);
    ScopedLogCapture capture;
    std::vector<double> decoded;
    size_t packets = 0;
    int delay = 0;
    if (encode) {
      const auto format = static_cast<AVSampleFormat>(src);
      const EncodedRecords run = EncodeInChunks(*codec, MakeSinePcm(format, srcRate, srcCh, srcRate),
                                           size_t(chunk) * srcCh * av_get_bytes_per_sample(format));
      decoded = DecodeSamples(ffmpeg, run.packets, dstRate, dstCh);
      packets = run.packets.size();
      delay = EncodeTone(ffmpeg, dstRate, dstCh, 1, 160, 128000).initialPadding;
    } else {
      const std::vector<Bytes> in = FfmpegPackets(ffmpeg, srcRate, srcCh, srcRate, chunk, &delay);
      decoded = DecodeOurs(*codec, in, param.stAudio);
      packets = in.size();
      delay = delay * dstRate / srcRate;
    }
    EXPECT_TRUE(capture->OwnLines().empty());
    if (g711 && same) {
      EXPECT_EQ(decoded, DecodeSamples(ffmpeg, FfmpegPackets(ffmpeg, 8000, srcCh, 8000), 8000, srcCh));
      continue;
    }
    const int frame = g711 ? 64 : std::strcmp(ffmpeg, "aac") == 0 ? 1024 : 48 * (ms ? ms : 20);
    const auto produced = static_cast<int>(decoded.size()) / dstCh;
    EXPECT_NEAR(produced, dstRate, 3 * frame);
    EXPECT_TRUE(g711 || !(encode || same) || produced == static_cast<int>(packets) * frame);
    for (int ch = 0; ch < dstCh; ++ch) {
      const auto [correlation, error] = MatchSine(decoded, dstCh, ch, dstRate, dstRate / 5, dstRate / 2,
                                                  delay, same ? delay : delay + dstRate / 400);
      EXPECT_GT(correlation, same ? 0.99 : 0.98) << ch;
      EXPECT_LT(error, same ? 0.15 : 1e9) << ch;
    }
  }
}

// Frames that are not what the host declared, or a short first packet, still come out in the
// destination's shape at the destination's rate: the resampler follows the frames and has room
// for all of each. Mono AAC declared stereo, 48 kHz AAC declared 44.1 kHz, and a one-byte
// G.711 packet first.
TEST(AudioDecode, FramesUnlikeTheDeclaration_ConvertedWhole) {
  const std::tuple<CodecType, std::vector<Bytes>, CodecParam, int> cases[] = {
      {AV_CODEC_TYPE_AACDEC, FfmpegPackets("aac", 44100, 1, 44100), AudioParam(44100, 44100, 2, 2, N, S16), 1024},
      {AV_CODEC_TYPE_AACDEC, FfmpegPackets("aac", 48000, 2, 48000), AudioParam(44100, 44100, 2, 1, N, FLT), 1024},
      {AV_CODEC_TYPE_G711ADEC, std::vector<Bytes>{Bytes(1, 0x55)} + FfmpegPackets("pcm_alaw", 8000, 1, 8000),
       AudioParam(8000, 16000, 1, 1, N, S16), 16},
  };
  for (const auto& [type, packets, param, slack] : cases) {
    SCOPED_TRACE(type);
    const size_t produced = DecodeOurs(*OpenCodec(type, param), packets, param.stAudio).size();
    EXPECT_NEAR(int(produced) / param.stAudio.nDstChannels, param.stAudio.nDstSampleRate, 3 * slack);
  }
}

}  // namespace
