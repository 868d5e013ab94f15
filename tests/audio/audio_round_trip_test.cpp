// Our encoders and decoders against FFmpeg's own, both ways, with and without conversion.
#include <gtest/gtest.h>

#include <numeric>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

constexpr int N = AV_SAMPLE_FMT_NONE, S16 = AV_SAMPLE_FMT_S16;

// Encode rows: our packets decoded by FFmpeg. Decode rows: FFmpeg's packets decoded by us.
// G.711 must give FFmpeg's own samples exactly; Opus and AAC the tone, delayed by exactly the
// encoder's padding, within 15 % RMS. Decoded sample counts are whole frames per packet.
TEST(AudioRoundTrip, BothWaysAgainstFfmpeg) {
  struct Case {
    CodecType type;
    const char* ffmpeg;
    int rate, channels, chunk;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_G711AENC, "pcm_alaw", 8000, 1, 333},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", 8000, 2, 160},
      {AV_CODEC_TYPE_OPUSENC, "libopus", 48000, 2, 960},
      {AV_CODEC_TYPE_OPUSENC, "libopus", 48000, 1, 1000},
      {AV_CODEC_TYPE_AACENC, "aac", 44100, 2, 1024},
      {AV_CODEC_TYPE_AACENC, "aac", 48000, 1, 1000},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", 8000, 1, 0},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", 8000, 2, 0},
      {AV_CODEC_TYPE_OPUSDEC, "libopus", 48000, 2, 0},
      {AV_CODEC_TYPE_AACDEC, "aac", 44100, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.ffmpeg + " " + std::to_string(c.channels));
    const bool encode = c.chunk > 0;
    const bool g711 = std::strncmp(c.ffmpeg, "pcm", 3) == 0;
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, c.rate, c.channels, c.rate);
    const EncodedAudio theirs =
        EncodeTestAudio(c.ffmpeg, pcm, AV_SAMPLE_FMT_S16, c.rate, c.channels, 128000);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, AudioParam(c.rate, c.rate, c.channels, c.channels,
                                            encode ? S16 : N, encode && !g711 ? N : S16, 128000)),
              0);
    std::vector<double> decoded;
    size_t packets = 0;
    if (encode) {
      const EncodeRun run = EncodeInChunks(codec, pcm, static_cast<size_t>(c.chunk) * 2 * c.channels);
      decoded = DecodeTestAudio(c.ffmpeg, run.packets, c.rate, c.channels);
      packets = run.packets.size();
    } else {
      const std::vector<Bytes> in = FfmpegPackets(c.ffmpeg, c.rate, c.channels, c.rate);
      const DecodeRun run = DecodeAll(codec, in);
      EXPECT_EQ(run.results, std::vector<int>(in.size(), 1));
      decoded = run.samples;
      packets = in.size();
    }
    const int frame = encode ? Peer::Ctx(codec)->frame_size : theirs.frameSize;
    if (g711) {
      EXPECT_EQ(decoded, DecodeTestAudio(c.ffmpeg, theirs.packets, c.rate, c.channels));
      continue;
    }
    // Every whole frame sent is a packet, less at most two the encoder still held.
    EXPECT_LE(packets, static_cast<size_t>(c.rate / frame + 1));
    EXPECT_GE(packets, static_cast<size_t>(c.rate / frame - 2));
    EXPECT_EQ(decoded.size(), packets * frame * c.channels);
    const int delay = encode ? Peer::Ctx(codec)->initial_padding : theirs.initialPadding;
    for (int ch = 0; ch < c.channels; ++ch) {
      SCOPED_TRACE(ch);
      const SineMatch m =
          MatchSine(decoded, c.channels, ch, c.rate, c.rate / 10, c.rate / 2, delay, delay);
      EXPECT_GT(m.correlation, 0.99);
      EXPECT_LT(m.relativeError, 0.15);
    }
  }
}

// A representative set of conversions on both sides: sample format (planar AAC FLTP included,
// and a planar destination as with FFmpeg's own Opus decoder), rate and channel count. Chunks of
// 777 samples make both FIFOs take part. The tone survives at the new rate, in every channel,
// and about one second of it comes out.
TEST(AudioRoundTrip, Conversions_BothSides) {
  struct Case {
    CodecType type;
    const char* ffmpeg;
    int src, srcRate, srcChannels, dst, dstRate, dstChannels;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_U8, 48000, 2, N, 48000, 2},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_S16, 16000, 1, N, 44100, 2},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_DBL, 48000, 2, N, 16000, 1},
      {AV_CODEC_TYPE_OPUSENC, "libopus", AV_SAMPLE_FMT_S32, 44100, 1, N, 48000, 2},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", AV_SAMPLE_FMT_FLT, 48000, 2, N, 8000, 1},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, AV_SAMPLE_FMT_U8, 8000, 1},
      {AV_CODEC_TYPE_G711ADEC, "pcm_alaw", N, 8000, 1, AV_SAMPLE_FMT_S32, 48000, 2},
      {AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", N, 8000, 2, AV_SAMPLE_FMT_FLT, 44100, 1},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 48000, 1, AV_SAMPLE_FMT_S16, 16000, 1},
      {AV_CODEC_TYPE_AACDEC, "aac", N, 48000, 2, AV_SAMPLE_FMT_FLTP, 24000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ffmpeg) + " " + std::to_string(c.src) + "/" +
                 std::to_string(c.srcRate) + "/" + std::to_string(c.srcChannels) + " -> " +
                 std::to_string(c.dst) + "/" + std::to_string(c.dstRate) + "/" +
                 std::to_string(c.dstChannels));
    const bool encode = c.src != N;
    CFFMpegAudioCodec codec;
    // The planar destination is not a public format: it is set behind Init's back.
    const int dst = c.dst == AV_SAMPLE_FMT_FLTP ? AV_SAMPLE_FMT_FLT : c.dst;
    ASSERT_EQ(codec.Init(c.type, AudioParam(c.srcRate, c.dstRate, c.srcChannels, c.dstChannels,
                                            c.src, dst,
                                            96000)),
              0);
    if (c.dst == AV_SAMPLE_FMT_FLTP) Peer::SetDstFormat(codec, AV_SAMPLE_FMT_FLTP);
    std::vector<double> decoded;
    int delay = 0;
    if (encode) {
      EXPECT_NE(Peer::Swr(codec), nullptr);
      const Bytes pcm = MakeSinePcm(static_cast<AVSampleFormat>(c.src), c.srcRate, c.srcChannels,
                                    c.srcRate);
      const EncodeRun run = EncodeInChunks(
          codec, pcm, 777u * c.srcChannels * av_get_bytes_per_sample(static_cast<AVSampleFormat>(c.src)));
      decoded = DecodeTestAudio(c.ffmpeg, run.packets, c.dstRate, c.dstChannels);
      delay = Peer::Ctx(codec)->initial_padding;
    } else {
      const std::vector<Bytes> in = FfmpegPackets(c.ffmpeg, c.srcRate, c.srcChannels, c.srcRate, 400);
      CAudioDecodeOutParam out;
      for (Bytes packet : in) {
        ASSERT_GE(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out), 0);
        for (int k = 0; k < out.m_nNum; ++k) {
          const AVFrame* f = out.m_pFrame[k];
          EXPECT_EQ(f->format, c.dst);
          EXPECT_EQ(f->sample_rate, c.dstRate);
          ASSERT_EQ(f->ch_layout.nb_channels, c.dstChannels);
          const auto s = PcmToDoubles(f->extended_data, static_cast<AVSampleFormat>(f->format),
                                      c.dstChannels, f->nb_samples);
          decoded.insert(decoded.end(), s.begin(), s.end());
        }
        out.Clear();
      }
      EXPECT_NE(Peer::Swr(codec), nullptr);
      delay = c.type == AV_CODEC_TYPE_AACDEC ? 1024 * c.dstRate / c.srcRate : 0;
    }
    const int produced = static_cast<int>(decoded.size()) / c.dstChannels;
    const bool aacDecoder = c.type == AV_CODEC_TYPE_AACDEC;
    const int frame = encode ? Peer::Ctx(codec)->frame_size
                             : (aacDecoder ? 1024 * c.dstRate / c.srcRate : 0);
    const int slack = 3 * std::max(frame, 64);
    EXPECT_LE(produced, c.dstRate + slack);
    EXPECT_GE(produced, c.dstRate - slack);
    for (int ch = 0; ch < c.dstChannels; ++ch) {
      SCOPED_TRACE(ch);
      // Channels mixed or spread keep the tone but not its phase: any lag within a period.
      EXPECT_GT(MatchSine(decoded, c.dstChannels, ch, c.dstRate, c.dstRate / 5, c.dstRate / 2,
                          delay, delay + c.dstRate / 440 + 32)
                    .correlation,
                0.98);
    }
  }
}

// Owning out-params take 20 entries and then no more; every entry keeps its own packet's data
// through the later calls, equal to FFmpeg's.
TEST(AudioRoundTrip, OwningMode_TwentyEntriesThatNeverChange) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160 * 22);
  const std::vector<Bytes> packets = FfmpegPackets("pcm_alaw", 8000, 1, 160 * 22);
  const std::vector<double> samples = DecodeTestAudio("pcm_alaw", packets, 8000, 1);
  std::vector<int> expected(22, 20);
  std::iota(expected.begin(), expected.begin() + 20, 1);
  for (const bool encode : {true, false}) {
    SCOPED_TRACE(encode ? "encode" : "decode");
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(encode ? AV_CODEC_TYPE_G711AENC : AV_CODEC_TYPE_G711ADEC,
                         AudioParam(8000, 8000, 1, 1, encode ? S16 : N, S16)),
              0);
    CAudioEncodeOutParam encoded(OUTPARAM_FLAG_NOT_USE_CACHE);
    CAudioDecodeOutParam decodedOut(OUTPARAM_FLAG_NOT_USE_CACHE);
    std::vector<int> results;
    for (int call = 0; call < 22; ++call) {
      Bytes in = encode ? Bytes(pcm.begin() + call * 320, pcm.begin() + (call + 1) * 320)
                        : packets[static_cast<size_t>(call)];
      results.push_back(encode ? codec.Encode(in.data(), 320, &encoded)
                               : codec.Decode(in.data(), 160, &decodedOut));
    }
    EXPECT_EQ(results, expected);
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE(k);
      if (encode) {
        const AudioEncOutData& d = encoded.m_outData[k];
        EXPECT_EQ(Bytes(d.pData, d.pData + d.nSize), packets[static_cast<size_t>(k)]);
      } else {
        EXPECT_EQ(PcmToDoubles(decodedOut.m_pFrame[k]->extended_data, AV_SAMPLE_FMT_S16, 1, 160),
                  std::vector<double>(samples.begin() + k * 160, samples.begin() + (k + 1) * 160));
      }
    }
  }
}

// One-sample packets, six to one down: many frames convert to nothing yet, which is no error.
TEST(AudioRoundTrip, ResamplerYieldingNothing_IsNotAnError) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC, AudioParam(48000, 8000, 1, 1, N, S16)), 0);
  ScopedLogCapture capture;
  const DecodeRun run = DecodeAll(codec, FfmpegPackets("pcm_alaw", 48000, 1, 1200, 1));
  EXPECT_EQ(std::count(run.results.begin(), run.results.end(), 1) +
                std::count(run.results.begin(), run.results.end(), 0),
            1200);
  EXPECT_GT(std::count(run.results.begin(), run.results.end(), 0), 0);
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_LE(run.samples.size(), 200u);
  EXPECT_GE(run.samples.size(), 180u);
}

}  // namespace
}  // namespace codec_test
