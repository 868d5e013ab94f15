// Our encoders and decoders against FFmpeg's own, both ways, with and without conversion.
#include <gtest/gtest.h>

#include <numeric>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

constexpr int N = AV_SAMPLE_FMT_NONE, S16 = AV_SAMPLE_FMT_S16;

// Encode rows (a source format given, and a chunk size): our packets decoded by FFmpeg. Decode
// rows: FFmpeg's packets (G.711 ones of the given size) decoded by us, never logging an error. Without conversion G.711 must give FFmpeg's own samples exactly, and
// Opus and AAC the tone delayed by exactly the encoder's padding within 15 % RMS, in whole
// frames per packet. With a conversion (planar AAC FLTP included, and a planar destination as
// with FFmpeg's own Opus decoder), the tone survives at the new rate in every channel, at any
// phase since channels may be mixed or spread. About one second of sound comes out either way.
TEST(AudioRoundTrip, BothWaysAgainstFfmpeg) {
  constexpr int U8 = AV_SAMPLE_FMT_U8, S32 = AV_SAMPLE_FMT_S32, FLT = AV_SAMPLE_FMT_FLT,
                DBL = AV_SAMPLE_FMT_DBL, FLTP = AV_SAMPLE_FMT_FLTP;
  struct Case {
    CodecType type;
    const char* ffmpeg;
    int src, srcRate, srcChannels, dst, dstRate, dstChannels, chunk;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_G711AENC, "pcm_alaw", S16, 8000, 1, S16, 8000, 1, 333},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", S16, 8000, 2, S16, 8000, 2, 160},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S16, 48000, 2, N, 48000, 2, 960},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S16, 48000, 1, N, 48000, 1, 1000},
      {AV_CODEC_TYPE_AACENC, "aac", S16, 44100, 2, N, 44100, 2, 1024},
      {AV_CODEC_TYPE_AACENC, "aac", S16, 48000, 1, N, 48000, 1, 1000},
      {AV_CODEC_TYPE_AACENC, "aac", U8, 48000, 2, N, 48000, 2, 777},
      {AV_CODEC_TYPE_AACENC, "aac", S16, 16000, 1, N, 44100, 2, 777},
      {AV_CODEC_TYPE_AACENC, "aac", DBL, 48000, 2, N, 16000, 1, 777},
      {AV_CODEC_TYPE_OPUSENC, "libopus", S32, 44100, 1, N, 48000, 2, 777},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", FLT, 48000, 2, S16, 8000, 1, 777},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, S16, 8000, 1, 400},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", N, 8000, 2, S16, 8000, 2, 160},
      {AV_CODEC_TYPE_OPUSDEC, "libopus", N, 48000, 2, S16, 48000, 2, 0},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 44100, 2, S16, 44100, 2, 0},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, U8, 8000, 1, 400},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, S32, 48000, 2, 400},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", N, 8000, 2, FLT, 44100, 1, 400},
      // One-sample packets, six to one down: most convert to nothing yet, which is no error.
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 48000, 1, S16, 8000, 1, 1},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 48000, 1, S16, 16000, 1, 0},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 48000, 2, FLTP, 24000, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << &c - cases << ": " << c.ffmpeg);
    const bool encode = c.src != N, g711 = std::strncmp(c.ffmpeg, "pcm", 3) == 0;
    const bool same = c.srcRate == c.dstRate && c.srcChannels == c.dstChannels &&
                      (encode ? c.src : c.dst) == S16;
    CFFMpegAudioCodec codec;
    // The planar destination is not a public format: it is set behind Init's back.
    ASSERT_EQ(codec.Init(c.type, AudioParam(c.srcRate, c.dstRate, c.srcChannels, c.dstChannels,
                                            c.src, c.dst == FLTP ? FLT : c.dst, 128000)),
              0);
    if (c.dst == FLTP) Peer::SetDstFormat(codec, AV_SAMPLE_FMT_FLTP);
    ScopedLogCapture capture;
    std::vector<double> decoded;
    size_t packets = 0;
    int delay = 0;
    if (encode) {
      const auto format = static_cast<AVSampleFormat>(c.src);
      const Bytes pcm = MakeSinePcm(format, c.srcRate, c.srcChannels, c.srcRate);
      const EncodeRun run = EncodeInChunks(
          codec, pcm, static_cast<size_t>(c.chunk) * c.srcChannels * av_get_bytes_per_sample(format));
      decoded = DecodeTestAudio(c.ffmpeg, run.packets, c.dstRate, c.dstChannels);
      packets = run.packets.size();
      delay = Peer::Ctx(codec)->initial_padding;
    } else {
      const std::vector<Bytes> in =
          FfmpegPackets(c.ffmpeg, c.srcRate, c.srcChannels, c.srcRate, c.chunk, &delay);
      const DecodeRun run = DecodeAll(codec, in);
      EXPECT_GE(*std::min_element(run.results.begin(), run.results.end()), 0);
      EXPECT_EQ(run.format, c.dst);
      EXPECT_EQ(run.rate, c.dstRate);
      EXPECT_EQ(run.channels, c.dstChannels);
      decoded = run.samples;
      packets = in.size();
      delay = delay * c.dstRate / c.srcRate;
    }
    EXPECT_TRUE(capture->OwnLines().empty());
    if (g711 && same) {
      const auto theirs = FfmpegPackets(c.ffmpeg, 8000, c.srcChannels, 8000);
      EXPECT_EQ(decoded, DecodeTestAudio(c.ffmpeg, theirs, 8000, c.srcChannels));
      continue;
    }
    const int frame = g711 ? 64 : std::strcmp(c.ffmpeg, "aac") == 0 ? 1024 : 960;
    const auto produced = static_cast<int>(decoded.size()) / c.dstChannels;
    EXPECT_LE(produced, c.dstRate + 3 * frame);
    EXPECT_GE(produced, c.dstRate - 3 * frame);
    EXPECT_TRUE(g711 || !(encode || same) || produced == static_cast<int>(packets) * frame);
    for (int ch = 0; ch < c.dstChannels; ++ch) {
      SCOPED_TRACE(ch);
      const SineMatch m = MatchSine(decoded, c.dstChannels, ch, c.dstRate, c.dstRate / 5,
                                    c.dstRate / 2, delay, same ? delay : delay + c.dstRate / 400);
      EXPECT_GT(m.correlation, same ? 0.99 : 0.98);
      EXPECT_LT(m.relativeError, same ? 0.15 : 1e9);
    }
  }
}

// Owning out-params take 20 entries and then no more; every entry keeps its own packet's data
// through the later calls, equal to FFmpeg's.
TEST(AudioRoundTrip, OwningMode_TwentyEntriesThatNeverChange) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160 * 22);
  const std::vector<Bytes> packets = FfmpegPackets("pcm_alaw", 8000, 1, 160 * 22);
  const std::vector<double> samples = DecodeTestAudio("pcm_alaw", packets, 8000, 1);
  CFFMpegAudioCodec encoder, decoder;
  ASSERT_EQ(encoder.Init(AV_CODEC_TYPE_G711AENC, AudioParam(8000, 8000, 1, 1, S16, S16)), 0);
  ASSERT_EQ(decoder.Init(AV_CODEC_TYPE_G711ADEC, AudioParam(8000, 8000, 1, 1, N, S16)), 0);
  CAudioEncodeOutParam encoded(OUTPARAM_FLAG_NOT_USE_CACHE);
  CAudioDecodeOutParam decoded(OUTPARAM_FLAG_NOT_USE_CACHE);
  for (int call = 0; call < 22; ++call) {
    Bytes in(pcm.begin() + call * 320, pcm.begin() + (call + 1) * 320);
    Bytes packet = packets[static_cast<size_t>(call)];
    EXPECT_EQ(encoder.Encode(in.data(), 320, &encoded), std::min(call + 1, 20));
    EXPECT_EQ(decoder.Decode(packet.data(), 160, &decoded), std::min(call + 1, 20));
  }
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(Bytes(encoded.m_outData[k].pData, encoded.m_outData[k].pData + 160), packets[k]);
    EXPECT_EQ(PcmToDoubles(decoded.m_pFrame[k]->extended_data, AV_SAMPLE_FMT_S16, 1, 160),
              std::vector<double>(samples.begin() + k * 160, samples.begin() + (k + 1) * 160));
  }
}

}  // namespace
}  // namespace codec_test
