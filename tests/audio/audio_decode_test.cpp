// Decoding streams made by FFmpeg's own encoders.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

using namespace codec_interface;

// G.711 packets of `packetSamples` samples each, made by FFmpeg's encoder.
std::vector<Bytes> MakeG711(const char* encoder, int rate, int channels, int samples,
                            int packetSamples) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples);
  const Bytes coded = [&] {
    Bytes all;
    for (const Bytes& p : EncodeTestAudio(encoder, pcm, AV_SAMPLE_FMT_S16, rate, channels).packets) {
      all.insert(all.end(), p.begin(), p.end());
    }
    return all;
  }();
  std::vector<Bytes> packets;
  const size_t step = static_cast<size_t>(packetSamples) * channels;
  for (size_t offset = 0; offset < coded.size(); offset += step) {
    const size_t end = std::min(coded.size(), offset + step);
    packets.emplace_back(coded.begin() + static_cast<long>(offset),
                         coded.begin() + static_cast<long>(end));
  }
  return packets;
}

TEST(AudioDecode, G711_SamplesEqualFfmpegsOwnDecoder) {
  struct Case {
    CodecType type;
    const char* name;
    int channels;
  };
  for (const Case c : {Case{AV_CODEC_TYPE_G711ADEC, "pcm_alaw", 1},
                       Case{AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", 1},
                       Case{AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", 2}}) {
    SCOPED_TRACE(c.name);
    const std::vector<Bytes> packets = MakeG711(c.name, 8000, c.channels, 8000, 160);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, AudioParam(8000, 8000, c.channels, c.channels, SAMPLE_FMT_NONE,
                                            SAMPLE_FMT_S16)),
              0);
    const DecodeRun ours = DecodeAll(codec, packets, AV_SAMPLE_FMT_S16);
    const DecodedAudio theirs = DecodeTestAudio(c.name, packets, 8000, c.channels);
    EXPECT_EQ(ours.results, std::vector<int>(packets.size(), 1));
    EXPECT_EQ(ours.samples.size(), static_cast<size_t>(8000 * c.channels));
    EXPECT_EQ(ours.samples, theirs.samples);
    // Same format, rate and channels: nothing was converted.
    EXPECT_EQ(Peer::Swr(codec), nullptr);
  }
}

TEST(AudioDecode, Opus_MatchesTheSineAfterTheCodecDelay) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000);
  const EncodedAudio opus = EncodeTestAudio("libopus", pcm, AV_SAMPLE_FMT_S16, 48000, 2, 96000);
  ASSERT_FALSE(opus.packets.empty());
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_OPUSDEC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  const DecodeRun run = DecodeAll(codec, opus.packets, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(run.frames, static_cast<int>(opus.packets.size()));
  EXPECT_EQ(run.samples.size(), opus.packets.size() * 960 * 2);
  // The decoded signal lags by exactly the encoder's padding (no pre-skip without a header).
  ExpectFollows(PcmToDoubles(pcm, AV_SAMPLE_FMT_S16, 2), 2, run.samples, 2,
                {4800, 24000, opus.initialPadding, opus.initialPadding});
}

TEST(AudioDecode, Aac_ConvertsPlanarFloatAndMatchesTheSine) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 44100, 2, 44100);
  const EncodedAudio aac = EncodeTestAudio("aac", pcm, AV_SAMPLE_FMT_S16, 44100, 2, 128000);
  const std::vector<Bytes> adts = ToAdtsFrames(aac, 44100, 2);
  ASSERT_EQ(adts.size(), aac.packets.size());
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACDEC,
                       AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  const DecodeRun run = DecodeAll(codec, adts, AV_SAMPLE_FMT_S16);
  // The decoder gives planar float; the resampler was made from its first frame.
  ASSERT_NE(Peer::Swr(codec), nullptr);
  EXPECT_EQ(Peer::SwrOutSamples(codec), 1024);
  EXPECT_EQ(run.frames, static_cast<int>(adts.size()));
  EXPECT_EQ(run.samples.size(), adts.size() * 1024 * 2);
  ExpectFollows(PcmToDoubles(pcm, AV_SAMPLE_FMT_S16, 2), 2, run.samples, 2,
                {4410, 22050, aac.initialPadding, aac.initialPadding});
}

TEST(AudioDecode, Speex_DecodesEveryPacketIntoWholeFrames) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 16000, 1, 16000, 300.0);
  const EncodedAudio speex = EncodeTestAudio("libspeex", pcm, AV_SAMPLE_FMT_S16, 16000, 1);
  ASSERT_FALSE(speex.packets.empty());
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_SPEEXDEC,
                       AudioParam(16000, 16000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  const DecodeRun run = DecodeAll(codec, speex.packets, AV_SAMPLE_FMT_S16);
  const DecodedAudio theirs = DecodeTestAudio("speex", speex.packets, 16000, 1);
  EXPECT_EQ(run.frames, static_cast<int>(speex.packets.size()));
  EXPECT_EQ(run.samples.size(), speex.packets.size() * 320);
  // FFmpeg's speex decoder gives float; ours hands out S16 as asked: equal to within one step.
  ASSERT_EQ(run.samples.size(), theirs.samples.size());
  for (size_t i = 0; i < run.samples.size(); ++i) {
    ASSERT_NEAR(run.samples[i], theirs.samples[i], 1.0 / 32768) << i;
  }
}

// Every conversion the decoder side can be asked for: sample format, rate and channel count.
TEST(AudioDecode, Conversion_EveryFormatRateAndChannelCombination) {
  struct Case {
    int dstRate;
    int dstChannels;
    AVSampleFormat dst;
  };
  const Case cases[] = {
      {8000, 1, AV_SAMPLE_FMT_U8},  {8000, 1, AV_SAMPLE_FMT_S32}, {8000, 1, AV_SAMPLE_FMT_FLT},
      {8000, 1, AV_SAMPLE_FMT_DBL}, {16000, 1, AV_SAMPLE_FMT_S16}, {44100, 1, AV_SAMPLE_FMT_FLT},
      {8000, 2, AV_SAMPLE_FMT_S16}, {48000, 2, AV_SAMPLE_FMT_S32},
  };
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 8000, 400);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dstRate) + "/" + std::to_string(c.dstChannels) + "/" +
                 av_get_sample_fmt_name(c.dst));
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                         AudioParam(8000, c.dstRate, 1, c.dstChannels, SAMPLE_FMT_NONE,
                                    Public(c.dst))),
              0);
    const DecodeRun run = DecodeAll(codec, packets, c.dst);
    ASSERT_NE(Peer::Swr(codec), nullptr);
    // Sample counts add up to the converted length, less what the resampler still holds.
    const double produced = static_cast<double>(run.samples.size()) / c.dstChannels;
    EXPECT_LE(produced, c.dstRate);
    EXPECT_GE(produced, c.dstRate - 64.0 * c.dstRate / 8000);
    const std::vector<double> expected =
        PcmToDoubles(MakeSinePcm(AV_SAMPLE_FMT_DBL, c.dstRate, 1, c.dstRate), AV_SAMPLE_FMT_DBL, 1);
    // The resampler's delay is below one period of the tone. Mono is spread to stereo at
    // -3 dB; otherwise the level stays.
    ExpectFollows(expected, 1, run.samples, c.dstChannels,
                  {c.dstRate / 10, c.dstRate / 2, 0, c.dstRate / 440, 0.995,
                   c.dstChannels == 1 ? 0.05 : 0.5});
  }
}

// The planar destination a build with FFmpeg's own Opus decoder would use: frames already in
// that format are copied unchanged while a rate change still runs through the resampler.
TEST(AudioDecode, PlanarDestination_ResamplesIntoPlanarFrames) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 9600);
  const EncodedAudio aac = EncodeTestAudio("aac", pcm, AV_SAMPLE_FMT_S16, 48000, 2, 128000);
  const std::vector<Bytes> adts = ToAdtsFrames(aac, 48000, 2);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACDEC,
                       AudioParam(48000, 24000, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_FLT)),
            0);
  Peer::SetDstFormat(codec, AV_SAMPLE_FMT_FLTP);
  CAudioDecodeOutParam out;
  int samples = 0;
  for (const Bytes& packet : adts) {
    Bytes copy = packet;
    ASSERT_GE(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out), 0);
    for (int k = 0; k < out.m_nNum; ++k) {
      EXPECT_EQ(out.m_pFrame[k]->format, AV_SAMPLE_FMT_FLTP);
      EXPECT_EQ(out.m_pFrame[k]->sample_rate, 24000);
      // The record describes the first plane only.
      EXPECT_EQ(out.m_outData[k].pData, out.m_pFrame[k]->data[0]);
      EXPECT_EQ(out.m_outData[k].nSize, out.m_pFrame[k]->linesize[0]);
      EXPECT_GE(out.m_outData[k].nSize, out.m_pFrame[k]->nb_samples * 4);
      samples += out.m_pFrame[k]->nb_samples;
    }
    out.Clear();
  }
  EXPECT_EQ(Peer::SwrOutSamples(codec), 512);
  EXPECT_LE(samples, static_cast<int>(adts.size()) * 512);
  EXPECT_GE(samples, static_cast<int>(adts.size()) * 512 - 64);
}

TEST(AudioDecode, ResamplerCapacity_IsFixedByTheFirstConvertedFrame) {
  // 160-sample packets first, then 320-sample ones, doubled in rate.
  std::vector<Bytes> packets = MakeG711("pcm_mulaw", 8000, 1, 160, 160);
  const std::vector<Bytes> longer = MakeG711("pcm_mulaw", 8000, 1, 3200, 320);
  packets.insert(packets.end(), longer.begin(), longer.end());
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                       AudioParam(8000, 16000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  CAudioDecodeOutParam out;
  std::vector<int> sizes;
  for (const Bytes& packet : packets) {
    Bytes copy = packet;
    ASSERT_GE(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out), 0);
    for (int k = 0; k < out.m_nNum; ++k) sizes.push_back(out.m_pFrame[k]->nb_samples);
    out.Clear();
    EXPECT_EQ(Peer::SwrOutSamples(codec), 320);
  }
  ASSERT_EQ(sizes.size(), packets.size());
  for (const int size : sizes) EXPECT_LE(size, 320);
  // What did not fit is not lost: it waits inside the resampler.
  const int total = std::accumulate(sizes.begin(), sizes.end(), 0);
  const int waiting = swr_get_out_samples(Peer::Swr(codec), 0);
  EXPECT_GT(waiting, 2500);
  EXPECT_NEAR(total + waiting, 2 * 3360, 64);
}

TEST(AudioDecode, ResamplerYieldingNothing_IsNotAnError) {
  // One-sample packets, six to one down: most frames convert to nothing yet.
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 48000, 1, 1200, 1);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                       AudioParam(48000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  ScopedLogCapture capture;
  const DecodeRun run = DecodeAll(codec, packets, AV_SAMPLE_FMT_S16);
  int empty = 0;
  for (const int r : run.results) {
    EXPECT_GE(r, 0);
    EXPECT_LE(r, 1);
    empty += r == 0;
  }
  EXPECT_GT(empty, 0);
  EXPECT_GT(run.frames, 0);
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_LE(run.samples.size(), 200u);
  EXPECT_GE(run.samples.size(), 180u);
}

TEST(AudioDecode, Appends_UpToTwentyEntries) {
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 160 * 22, 160);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  CAudioDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  std::vector<int> results;
  for (const Bytes& packet : packets) {
    Bytes copy = packet;
    results.push_back(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out));
  }
  std::vector<int> expected(22, 20);
  std::iota(expected.begin(), expected.begin() + 20, 1);
  EXPECT_EQ(results, expected);
  EXPECT_EQ(out.m_nNum, 20);
  // Every owned entry still holds its own packet's samples.
  const DecodedAudio theirs = DecodeTestAudio("pcm_alaw", packets, 8000, 1);
  for (int k = 0; k < 20; ++k) {
    const auto s = PcmToDoubles(out.m_pFrame[k]->extended_data, AV_SAMPLE_FMT_S16, 1, 160);
    EXPECT_TRUE(std::equal(s.begin(), s.end(), theirs.samples.begin() + k * 160)) << k;
  }
}

// Cache mode: every call's first frame goes to the same cached frame, which the next call
// refills. Converted samples are copied into that frame's own buffer, kept while the shape stays;
// frames needing no conversion are handed over as the decoder gave them.
TEST(AudioDecode, CacheMode_NextCallRefillsTheCachedFrame) {
  const std::vector<Bytes> packets = MakeG711("pcm_mulaw", 8000, 1, 960, 320);
  for (const int dstRate : {8000, 16000}) {
    SCOPED_TRACE(dstRate);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                         AudioParam(8000, dstRate, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
              0);
    // The first converted frame is shorter (the resampler's delay): calls two and three compare.
    CAudioDecodeOutParam out;
    for (int i = 0; i < 3; ++i) {
      Bytes packet = packets[static_cast<size_t>(i)];
      ASSERT_EQ(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out), i + 1);
    }
    EXPECT_EQ(out.m_pFrame[1], out.m_pFrame[2]);
    EXPECT_EQ(out.m_pFrame[2], Peer::FrameCache(codec)[0].get());
    EXPECT_EQ(Peer::FrameCache(codec).size(), 1u);
    EXPECT_EQ(out.m_outData[1].pData == out.m_outData[2].pData, dstRate != 8000);
    if (dstRate == 8000) {
      const DecodedAudio theirs = DecodeTestAudio("pcm_mulaw", {packets[2]}, 8000, 1);
      EXPECT_EQ(PcmToDoubles(out.m_pFrame[2]->extended_data, AV_SAMPLE_FMT_S16, 1, 320),
                theirs.samples);
    }
    out.Clear();
  }
}

// Steady state: the packet bytes go into one reused buffer, and a cached frame released by the
// host's Clear gets its old buffer back.
TEST(AudioDecode, SteadyState_ReusesInputAndOutputBuffers) {
  const std::vector<Bytes> packets = MakeG711("pcm_mulaw", 8000, 1, 1600, 160);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UDEC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  CAudioDecodeOutParam out;
  const AVBufferRef* input = nullptr;
  const uint8_t* output = nullptr;
  const DecodedAudio theirs = DecodeTestAudio("pcm_mulaw", packets, 8000, 1);
  for (size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(i);
    auto bytes = std::make_unique<uint8_t[]>(packets[i].size());
    std::memcpy(bytes.get(), packets[i].data(), packets[i].size());
    ASSERT_EQ(codec.Decode(bytes.get(), static_cast<int>(packets[i].size()), &out), 1);
    bytes.reset();  // the codec keeps no pointer into the caller's bytes
    const AVPacket* packet = Peer::InputPacket(codec);
    ASSERT_NE(packet->buf, nullptr);
    EXPECT_EQ(packet->size, 160);
    if (i > 0) {
      EXPECT_EQ(packet->buf, input);
      EXPECT_EQ(out.m_outData[0].pData, output);
    }
    input = packet->buf;
    output = out.m_outData[0].pData;
    EXPECT_EQ(PcmToDoubles(out.m_pFrame[0]->extended_data, AV_SAMPLE_FMT_S16, 1, 160),
              std::vector<double>(theirs.samples.begin() + static_cast<long>(i) * 160,
                                  theirs.samples.begin() + static_cast<long>(i + 1) * 160));
    out.Clear();
  }
}

TEST(AudioDecode, OwningMode_EntriesNeverChangeAfterLaterCalls) {
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 800, 160);
  for (const bool clearBetween : {false, true}) {
    SCOPED_TRACE(clearBetween);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                         AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
              0);
    CAudioDecodeOutParam kept(OUTPARAM_FLAG_NOT_USE_CACHE);
    Bytes first = packets[0];
    ASSERT_EQ(codec.Decode(first.data(), static_cast<int>(first.size()), &kept), 1);
    const Bytes snapshot(kept.m_outData[0].pData, kept.m_outData[0].pData + 320);
    CAudioDecodeOutParam later(OUTPARAM_FLAG_NOT_USE_CACHE);
    for (int i = 1; i < static_cast<int>(packets.size()); ++i) {
      Bytes copy = packets[static_cast<size_t>(i)];
      const int held = codec.Decode(copy.data(), static_cast<int>(copy.size()), &later);
      ASSERT_EQ(held, clearBetween ? 1 : i);
      EXPECT_NE(later.m_outData[held - 1].pData, kept.m_outData[0].pData);
      if (clearBetween) later.Clear();
    }
    EXPECT_EQ(Bytes(kept.m_outData[0].pData, kept.m_outData[0].pData + 320), snapshot);
  }
}

TEST(AudioDecode, EmptyPacket_DrainsThenEveryCallReturnsZero) {
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 320, 160);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  ScopedLogCapture capture;
  CAudioDecodeOutParam out;
  Bytes first = packets[0];
  ASSERT_EQ(codec.Decode(first.data(), static_cast<int>(first.size()), &out), 1);
  EXPECT_EQ(codec.Decode(nullptr, 0, &out), 1);  // drained; the earlier entry stays
  out.Clear();
  Bytes second = packets[1];
  EXPECT_EQ(codec.Decode(second.data(), static_cast<int>(second.size()), &out), 0);
  EXPECT_EQ(codec.Decode(nullptr, 0, &out), 0);
  EXPECT_EQ(out.m_nNum, 0);
  EXPECT_TRUE(capture->OwnLines().empty());
  // Reset makes the decoder take packets again.
  EXPECT_EQ(codec.Reset(AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)), 0);
  EXPECT_EQ(codec.Decode(second.data(), static_cast<int>(second.size()), &out), 1);
  out.Clear();
}

TEST(AudioDecode, Failures_ReturnCodesAndLogLines) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACDEC,
                       AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  CAudioDecodeOutParam out;
  uint8_t byte = 0xFF;
  {
    SCOPED_TRACE("data with size 0");
    ScopedLogCapture capture;
    EXPECT_EQ(codec.Decode(&byte, 0, &out), -2);
    EXPECT_EQ(capture->OwnLines(),
              std::vector<LogLine>{Error("[CODE]audio avcodec_send_packet failed:" +
                                         std::to_string(AVERROR(EINVAL)))});
  }
  {
    SCOPED_TRACE("garbage");
    ScopedLogCapture capture;
    Bytes garbage(64, 0x5A);
    EXPECT_EQ(codec.Decode(garbage.data(), static_cast<int>(garbage.size()), &out), -2);
    EXPECT_EQ(capture->OwnLines(),
              std::vector<LogLine>{Error("[CODE]audio avcodec_send_packet failed:" +
                                         std::to_string(AVERROR_INVALIDDATA))});
  }
  {
    SCOPED_TRACE("no out-param");
    ScopedLogCapture capture;
    EXPECT_EQ(codec.Decode(&byte, 1, nullptr), -1);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
  EXPECT_EQ(out.m_nNum, 0);
  {
    SCOPED_TRACE("after a failure the decoder still works");
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 44100, 2, 4096);
    const EncodedAudio aac = EncodeTestAudio("aac", pcm, AV_SAMPLE_FMT_S16, 44100, 2, 128000);
    const DecodeRun run = DecodeAll(codec, ToAdtsFrames(aac, 44100, 2), AV_SAMPLE_FMT_S16);
    EXPECT_EQ(run.frames, static_cast<int>(aac.packets.size()));
  }
  {
    SCOPED_TRACE("encoder");
    CFFMpegAudioCodec encoder;
    ASSERT_EQ(encoder.Init(AV_CODEC_TYPE_G711UENC,
                           AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
              0);
    ScopedLogCapture capture;
    EXPECT_EQ(encoder.Decode(&byte, 1, &out), -1);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
}

TEST(AudioDecode, MissingResamplerFrame_FailsEveryConvertingCall) {
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 320, 160);
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                       AudioParam(8000, 16000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  // A resampler that could not be set up stays, without its frame.
  ASSERT_EQ(Peer::SwrResamplingInit(codec, AV_SAMPLE_FMT_NONE), -1);
  ScopedLogCapture capture;
  CAudioDecodeOutParam out;
  for (const Bytes& packet : packets) {
    Bytes copy = packet;
    EXPECT_EQ(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out), -1);
  }
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{Error("[CODE]m_pSwrFrame is null"),
                                                       Error("[CODE]m_pSwrFrame is null")}));
}

TEST(AudioDecode, ResamplerSetupFailure_IsLoggedTwice) {
  const std::vector<Bytes> packets = MakeG711("pcm_alaw", 8000, 1, 160, 160);
  CFFMpegAudioCodec codec;
  // No destination channels: the resampler made from the first frame cannot be initialised.
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711ADEC,
                       AudioParam(8000, 8000, 1, 0, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
            0);
  ScopedLogCapture capture;
  CAudioDecodeOutParam out;
  Bytes copy = packets[0];
  EXPECT_EQ(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out), -1);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{Debug("[CODE]Failed to initialize the resampling context"),
                                  Error("[CODE]SwrResamplingInit failed")}));
}

}  // namespace
}  // namespace codec_test
