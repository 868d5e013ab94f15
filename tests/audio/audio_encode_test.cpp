// Encoding host PCM of any chunk size, checked against FFmpeg's own decoders.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

using namespace codec_interface;

int FifoCapacity(AVAudioFifo* fifo) {
  return fifo == nullptr ? 0 : av_audio_fifo_size(fifo) + av_audio_fifo_space(fifo);
}

TEST(AudioEncode, RateStep_HoldsBackSamplesThatDoNotConvertWhole) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(48000, 16000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 1, 6000);
  CAudioEncodeOutParam out;
  struct Step {
    int sent;  // source samples passed on
    int kept;  // source samples held in the rate FIFO
  };
  const Step steps[] = {{999, 1}, {999, 2}, {1002, 0}, {999, 1}, {999, 2}, {1002, 0}};
  int produced = 0;
  for (int call = 0; call < 6; ++call) {
    SCOPED_TRACE(call);
    Bytes chunk(pcm.begin() + call * 2000, pcm.begin() + (call + 1) * 2000);
    ASSERT_EQ(codec.Encode(chunk.data(), 2000, &out), 1);
    EXPECT_EQ(Peer::RateBuffer(codec).size(), static_cast<size_t>(steps[call].sent) * 2);
    EXPECT_EQ(av_audio_fifo_size(Peer::RateFifo(codec)), steps[call].kept);
    produced += out.m_outData[0].nSize;
    out.Clear();
  }
  // 6000 samples at 48 kHz are 2000 at 16 kHz, less what the resampler's filter still holds.
  EXPECT_LE(produced, 2000);
  EXPECT_GE(produced, 1950);
}

TEST(AudioEncode, RateStep_WholeChunksNeverTouchTheRateFifo) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(44100, 48000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 44100, 1, 441 * 10);
  const EncodeRun run = EncodeInChunks(codec, pcm, 441 * 2);
  EXPECT_EQ(Peer::RateFifo(codec), nullptr);
  EXPECT_EQ(run.results, std::vector<int>(10, 1));
  int produced = 0;
  for (const Bytes& p : run.packets) produced += static_cast<int>(p.size());
  EXPECT_LE(produced, 4800);
  EXPECT_GE(produced, 4700);
}

TEST(AudioEncode, Opus_HalfFramesWaitInTheEncodeFifo) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_OPUSENC,
                       AudioParam(48000, 48000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 32000)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 1, 480 * 4);
  CAudioEncodeOutParam out;
  std::vector<int> results;
  std::vector<int> waiting;
  for (int call = 0; call < 4; ++call) {
    Bytes chunk(pcm.begin() + call * 960, pcm.begin() + (call + 1) * 960);
    results.push_back(codec.Encode(chunk.data(), 960, &out));
    waiting.push_back(av_audio_fifo_size(Peer::EncodeFifo(codec)));
  }
  // Without Clear the out-param keeps the earlier packets.
  EXPECT_EQ(results, (std::vector<int>{0, 1, 1, 2}));
  EXPECT_EQ(waiting, (std::vector<int>{480, 0, 480, 0}));
  EXPECT_EQ(FifoCapacity(Peer::EncodeFifo(codec)), 960);
  out.Clear();
}

TEST(AudioEncode, WholeFrameChunk_BypassesTheEncodeFifo) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 1024 * 8);
  const EncodeRun run = EncodeInChunks(codec, pcm, 1024 * 4);
  EXPECT_EQ(Peer::EncodeFifo(codec), nullptr);
  // The AAC encoder holds one frame back before its first packet.
  EXPECT_EQ(run.results, (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1}));
}

TEST(AudioEncode, EncodeFifo_GrowsOnlyByTheShortfall) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 1000 * 6);
  CAudioEncodeOutParam out;
  std::vector<int> capacity;
  std::vector<int> size;
  for (int call = 0; call < 6; ++call) {
    Bytes chunk(pcm.begin() + call * 4000, pcm.begin() + (call + 1) * 4000);
    ASSERT_GE(codec.Encode(chunk.data(), 4000, &out), 0);
    capacity.push_back(FifoCapacity(Peer::EncodeFifo(codec)));
    size.push_back(av_audio_fifo_size(Peer::EncodeFifo(codec)));
    out.Clear();
  }
  EXPECT_EQ(size, (std::vector<int>{1000, 976, 952, 928, 904, 880}));
  EXPECT_EQ(capacity, (std::vector<int>{1000, 2000, 2000, 2000, 2000, 2000}));
}

TEST(AudioEncode, CacheMode_PacketsOfOneCallStayDistinctUntilClear) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000)),
            0);
  // 5000 samples: four frames through the encode FIFO in one call, three packets out.
  Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 5000);
  CAudioEncodeOutParam out;
  ASSERT_EQ(codec.Encode(pcm.data(), static_cast<int>(pcm.size()), &out), 3);
  std::vector<Bytes> seen;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < k; ++j) EXPECT_NE(out.m_pPacket[k], out.m_pPacket[j]);
    EXPECT_EQ(out.m_outData[k].pData, out.m_pPacket[k]->data);
    EXPECT_EQ(out.m_outData[k].nSize, out.m_pPacket[k]->size);
    seen.emplace_back(out.m_outData[k].pData, out.m_outData[k].pData + out.m_outData[k].nSize);
  }
  // Each is a packet of its own that FFmpeg's decoder takes.
  const DecodedAudio decoded = DecodeTestAudio("aac", seen, 48000, 2);
  EXPECT_EQ(decoded.frames, 3);
  out.Clear();
}

TEST(AudioEncode, FillAVAudioFifo_CreatesGrowsAndRefuses) {
  ScopedLogCapture capture;
  EXPECT_EQ(CFFMpegAudioCodec::FillAVAudioFifo(nullptr, AV_SAMPLE_FMT_S16, 1, 10, nullptr), -1);
  AudioFifoPtr fifo;
  int16_t samples[300] = {};
  for (int i = 0; i < 300; ++i) samples[i] = static_cast<int16_t>(i);
  uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(samples)};
  ASSERT_EQ(CFFMpegAudioCodec::FillAVAudioFifo(&fifo, AV_SAMPLE_FMT_S16, 2, 100, planes), 0);
  EXPECT_EQ(FifoCapacity(fifo.get()), 100);
  ASSERT_EQ(CFFMpegAudioCodec::FillAVAudioFifo(&fifo, AV_SAMPLE_FMT_S16, 2, 50, planes), 0);
  EXPECT_EQ(FifoCapacity(fifo.get()), 150);
  int16_t read[200] = {};
  void* target[1] = {read};
  ASSERT_EQ(av_audio_fifo_read(fifo.get(), target, 100), 100);
  // Room for 100 is there again: no growth.
  ASSERT_EQ(CFFMpegAudioCodec::FillAVAudioFifo(&fifo, AV_SAMPLE_FMT_S16, 2, 100, planes), 0);
  EXPECT_EQ(FifoCapacity(fifo.get()), 150);
  EXPECT_EQ(av_audio_fifo_size(fifo.get()), 150);
  ASSERT_EQ(av_audio_fifo_read(fifo.get(), target, 50), 50);
  // The samples come out in order: the tail of the second write first.
  EXPECT_EQ(read[0], 0);
  EXPECT_EQ(read[99], 99);
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(AudioEncode, G711_EveryChunkIsOneFrameEqualToFfmpegsEncoder) {
  struct Case {
    CodecType type;
    const char* name;
  };
  for (const Case c : {Case{AV_CODEC_TYPE_G711AENC, "pcm_alaw"},
                       Case{AV_CODEC_TYPE_G711UENC, "pcm_mulaw"}}) {
    SCOPED_TRACE(c.name);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
              0);
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 8000);
    // Chunks of changing size: 160, 80, 333 samples, round and round.
    CAudioEncodeOutParam out;
    Bytes ours;
    size_t offset = 0;
    for (int call = 0; offset < pcm.size(); ++call) {
      const size_t want = std::array<size_t, 3>{320, 160, 666}[static_cast<size_t>(call) % 3];
      const size_t n = std::min(want, pcm.size() - offset);
      Bytes chunk(pcm.begin() + static_cast<long>(offset), pcm.begin() + static_cast<long>(offset + n));
      ASSERT_EQ(codec.Encode(chunk.data(), static_cast<int>(n), &out), 1);
      EXPECT_EQ(out.m_outData[0].nSize, static_cast<int>(n / 2));
      EXPECT_EQ(out.m_outData[0].nHeaderSize, 0);
      ours.insert(ours.end(), out.m_outData[0].pData,
                  out.m_outData[0].pData + out.m_outData[0].nSize);
      out.Clear();
      offset += n;
    }
    Bytes theirs;
    for (const Bytes& p : EncodeTestAudio(c.name, pcm, AV_SAMPLE_FMT_S16, 8000, 1).packets) {
      theirs.insert(theirs.end(), p.begin(), p.end());
    }
    EXPECT_EQ(ours, theirs);
  }
}

TEST(AudioEncode, G711_ShorterChunksKeepTheWorkFramesBuffer) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(48000, 16000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 1, 48000);
  CAudioEncodeOutParam out;
  const AVBufferRef* buffer = nullptr;
  std::vector<int> sizes;
  for (int call = 0; call < 12; ++call) {
    Bytes chunk(pcm.begin() + call * 2000, pcm.begin() + (call + 1) * 2000);
    ASSERT_EQ(codec.Encode(chunk.data(), 2000, &out), 1);
    sizes.push_back(out.m_outData[0].nSize);
    EXPECT_EQ(Peer::WorkFrame(codec)->nb_samples, out.m_outData[0].nSize);
    // The first chunk comes out shorter (the resampler's delay); from then on one buffer.
    if (call >= 2) {
      EXPECT_EQ(Peer::WorkFrame(codec)->buf[0], buffer) << call;
    }
    if (call == 1) buffer = Peer::WorkFrame(codec)->buf[0];
    out.Clear();
  }
  // 1000 source samples give 333 or 334 samples at a third of the rate.
  for (int call = 2; call < 12; ++call) EXPECT_NEAR(sizes[static_cast<size_t>(call)], 333, 1);
}

TEST(AudioEncode, OwningMode_StopsAtTwentyAndEntriesStayIntact) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711AENC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160 * 22);
  CAudioEncodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  std::vector<int> results;
  for (int call = 0; call < 22; ++call) {
    Bytes chunk(pcm.begin() + call * 320, pcm.begin() + (call + 1) * 320);
    results.push_back(codec.Encode(chunk.data(), 320, &out));
  }
  std::vector<int> expected(22, 20);
  std::iota(expected.begin(), expected.begin() + 20, 1);
  EXPECT_EQ(results, expected);
  Bytes ours;
  for (int k = 0; k < 20; ++k) {
    EXPECT_NE(out.m_pPacket[k], Peer::PacketCache(codec)[0].get());
    ours.insert(ours.end(), out.m_outData[k].pData, out.m_outData[k].pData + 160);
  }
  const Bytes first(pcm.begin(), pcm.begin() + 20 * 320);
  Bytes theirs;
  for (const Bytes& p : EncodeTestAudio("pcm_alaw", first, AV_SAMPLE_FMT_S16, 8000, 1).packets) {
    theirs.insert(theirs.end(), p.begin(), p.end());
  }
  EXPECT_EQ(ours, theirs);
}

TEST(AudioEncode, NothingToTake_LeavesFifosAndEncoderUntouched) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 1000 * 12);
  auto run = [&](bool interleaveEmptyCalls) {
    CFFMpegAudioCodec codec;
    EXPECT_EQ(codec.Init(AV_CODEC_TYPE_AACENC, AudioParam(48000, 44100, 2, 2, SAMPLE_FMT_S16,
                                                          SAMPLE_FMT_NONE, 128000)),
              0);
    std::vector<Bytes> packets;
    CAudioEncodeOutParam out;
    for (int call = 0; call < 12; ++call) {
      Bytes chunk(pcm.begin() + call * 4000, pcm.begin() + (call + 1) * 4000);
      EXPECT_GE(codec.Encode(chunk.data(), 4000, &out), 0);
      if (interleaveEmptyCalls) {
        const int rate = av_audio_fifo_size(Peer::RateFifo(codec));
        const int encode = av_audio_fifo_size(Peer::EncodeFifo(codec));
        const int held = out.m_nNum;
        ScopedLogCapture capture;
        EXPECT_EQ(codec.Encode(chunk.data(), 0, &out), held);
        EXPECT_EQ(codec.Encode(chunk.data(), 3, &out), held);  // less than one stereo sample
        EXPECT_EQ(codec.Encode(chunk.data(), -4, &out), held);
        EXPECT_EQ(codec.Encode(nullptr, 4000, &out), held);
        EXPECT_EQ(av_audio_fifo_size(Peer::RateFifo(codec)), rate);
        EXPECT_EQ(av_audio_fifo_size(Peer::EncodeFifo(codec)), encode);
        EXPECT_TRUE(capture->OwnLines().empty());
      }
      for (int k = 0; k < out.m_nNum; ++k) {
        packets.emplace_back(out.m_outData[k].pData,
                             out.m_outData[k].pData + out.m_outData[k].nSize);
      }
      out.Clear();
    }
    return packets;
  };
  const std::vector<Bytes> plain = run(false);
  ASSERT_GT(plain.size(), 8u);
  // The encoder saw exactly the same samples: identical packets.
  EXPECT_EQ(run(true), plain);
}

// A whole-frame chunk goes through the work frame; the FIFO path later fills that same frame.
// The host's earlier chunk must be neither referenced nor written once the call returns. The
// sizes alternate between whole frames taken directly (the FIFO being empty) and the FIFO.
TEST(AudioEncode, WorkFrame_NeverReachesBackIntoTheHostsEarlierChunk) {
  for (const int flags : {0, OUTPARAM_FLAG_NOT_USE_CACHE}) {
    SCOPED_TRACE(flags);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16,
                                                          SAMPLE_FMT_NONE, 128000)),
              0);
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000);
    CAudioEncodeOutParam out(flags);
    size_t offset = 0;
    for (const int samples : {1024, 1000, 1048, 1024, 500, 1548, 1024, 1000, 3000}) {
      const size_t bytes = static_cast<size_t>(samples) * 4;
      auto chunk = std::make_unique<uint8_t[]>(bytes);
      std::memcpy(chunk.get(), pcm.data() + offset, bytes);
      ASSERT_GE(codec.Encode(chunk.get(), static_cast<int>(bytes), &out), 0);
      EXPECT_EQ(std::memcmp(chunk.get(), pcm.data() + offset, bytes), 0);
      // Freed right away: AddressSanitizer reports any later access through the work frame.
      chunk.reset();
      offset += bytes;
      out.Clear();
    }
  }
}

// Whole-frame chunks skip the encode FIFO only while it is empty: samples waiting there from a
// shorter chunk go first, so the encoder sees the host's samples in order.
TEST(AudioEncode, MixedChunkSizes_KeepTheSamplesInOrder) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 96000)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 1, 48000);
  const std::vector<Bytes> packets = EncodeInChunks(codec, pcm, {2000, 2048, 2048}).packets;
  const DecodedAudio decoded = DecodeTestAudio("aac", packets, 48000, 1);
  const int delay = Peer::Ctx(codec)->initial_padding;
  ExpectFollows(PcmToDoubles(pcm, AV_SAMPLE_FMT_S16, 1), 1, decoded.samples, 1,
                {2048, 40000, delay, delay});
}

TEST(AudioEncode, Failures_ReturnCodesAndLogLines) {
  CFFMpegAudioCodec codec;
  uint8_t bytes[8] = {};
  CAudioEncodeOutParam out;
  {
    SCOPED_TRACE("not initialised");
    ScopedLogCapture capture;
    EXPECT_EQ(codec.Encode(bytes, 8, &out), -1);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000)),
            0);
  {
    SCOPED_TRACE("no out-param");
    ScopedLogCapture capture;
    EXPECT_EQ(codec.Encode(bytes, 8, nullptr), -1);
    EXPECT_EQ(Peer::EncodeFrame(codec, Peer::WorkFrame(codec), nullptr), -1);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
  {
    SCOPED_TRACE("a frame longer than the encoder's");
    FramePtr frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 2048;
    av_channel_layout_default(&frame->ch_layout, 2);
    ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    av_samples_set_silence(frame->extended_data, 0, 2048, 2, AV_SAMPLE_FMT_FLTP);
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::EncodeFrame(codec, frame.get(), &out), -1);
    EXPECT_EQ(capture->OwnLines(),
              std::vector<LogLine>{Error("[CODE]audio avcodec_send_frame failed:" +
                                         std::to_string(AVERROR(EINVAL)))});
  }
  {
    SCOPED_TRACE("decoder");
    CFFMpegAudioCodec decoder;
    ASSERT_EQ(decoder.Init(AV_CODEC_TYPE_G711UDEC,
                           AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_NONE, SAMPLE_FMT_S16)),
              0);
    ScopedLogCapture capture;
    EXPECT_EQ(decoder.Encode(bytes, 8, &out), -1);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
  EXPECT_EQ(out.m_nNum, 0);
}

TEST(AudioEncode, AfterEndOfStream_EncoderTakesNothingMore) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16)),
            0);
  CAudioEncodeOutParam out;
  ASSERT_EQ(Peer::EncodeFrame(codec, nullptr, &out), 0);  // flushes the encoder
  Bytes chunk = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 160);
  ScopedLogCapture capture;
  EXPECT_EQ(codec.Encode(chunk.data(), static_cast<int>(chunk.size()), &out), 0);
  EXPECT_TRUE(capture->OwnLines().empty());
}

// Our encoders' packets decoded by FFmpeg's own decoders give back the tone.
TEST(AudioEncode, RoundTrip_OpusAndAacDecodeBackToTheSine) {
  struct Case {
    CodecType type;
    const char* decoder;
    int rate;
    int channels;
    int bitRate;
    int chunk;
  };
  for (const Case c : {Case{AV_CODEC_TYPE_OPUSENC, "libopus", 48000, 2, 96000, 960},
                       Case{AV_CODEC_TYPE_OPUSENC, "libopus", 48000, 1, 64000, 1000},
                       Case{AV_CODEC_TYPE_AACENC, "aac", 44100, 2, 128000, 1024},
                       Case{AV_CODEC_TYPE_AACENC, "aac", 48000, 1, 96000, 1000}}) {
    SCOPED_TRACE(std::string(c.decoder) + " " + std::to_string(c.channels) + " " +
                 std::to_string(c.chunk));
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(c.type, AudioParam(c.rate, c.rate, c.channels, c.channels,
                                            SAMPLE_FMT_S16, SAMPLE_FMT_NONE, c.bitRate)),
              0);
    const int total = c.rate;
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, c.rate, c.channels, total);
    const EncodeRun run = EncodeInChunks(codec, pcm, c.chunk * 2 * c.channels);
    const int frameSize = Peer::Ctx(codec)->frame_size;
    const int delay = Peer::Ctx(codec)->initial_padding;
    // Every whole frame sent is a packet, less those the encoder still holds.
    const int frames = total / frameSize;
    EXPECT_LE(static_cast<int>(run.packets.size()), frames);
    EXPECT_GE(static_cast<int>(run.packets.size()), frames - 2);
    const DecodedAudio decoded = DecodeTestAudio(c.decoder, run.packets, c.rate, c.channels);
    EXPECT_EQ(decoded.samples.size(),
              run.packets.size() * static_cast<size_t>(frameSize) * c.channels);
    ExpectFollows(PcmToDoubles(pcm, AV_SAMPLE_FMT_S16, c.channels), c.channels,
                  decoded.samples, c.channels, {c.rate / 10, c.rate / 2, delay, delay});
  }
}

TEST(AudioEncode, RoundTrip_SpeexPacketsDecodeWithFfmpeg) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_SPEEXENC,
                       AudioParam(16000, 16000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE)),
            0);
  const int frameSize = Peer::Ctx(codec)->frame_size;
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 16000, 1, 16000, 300.0);
  const EncodeRun run = EncodeInChunks(codec, pcm, 500 * 2);
  EXPECT_EQ(static_cast<int>(run.packets.size()), 16000 / frameSize);
  const DecodedAudio decoded = DecodeTestAudio("speex", run.packets, 16000, 1);
  EXPECT_EQ(decoded.samples.size(), run.packets.size() * static_cast<size_t>(frameSize));
  double energy = 0;
  for (const double s : decoded.samples) energy += s * s;
  // A vocoder does not keep the waveform, but it keeps the level of a steady tone roughly.
  const double rms = std::sqrt(energy / static_cast<double>(decoded.samples.size()));
  EXPECT_GT(rms, 0.5 / std::sqrt(2.0) * 0.3);
  EXPECT_LT(rms, 0.5 / std::sqrt(2.0) * 2.0);
}

// Every host format, rate and channel count into the encoders' own formats, planar AAC included.
TEST(AudioEncode, Conversion_EveryHostFormatIntoTheCodecs) {
  struct Case {
    CodecType type;
    const char* decoder;
    AVSampleFormat src;
    int srcRate;
    int srcChannels;
    int dstRate;
    int dstChannels;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_U8, 48000, 2, 48000, 2},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_S16, 16000, 1, 44100, 2},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_S32, 44100, 2, 48000, 1},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_FLT, 48000, 2, 48000, 2},
      {AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_DBL, 48000, 1, 16000, 1},
      {AV_CODEC_TYPE_OPUSENC, "libopus", AV_SAMPLE_FMT_FLT, 48000, 2, 48000, 2},
      {AV_CODEC_TYPE_OPUSENC, "libopus", AV_SAMPLE_FMT_S16, 16000, 1, 48000, 1},
      {AV_CODEC_TYPE_OPUSENC, "libopus", AV_SAMPLE_FMT_S32, 44100, 1, 48000, 2},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", AV_SAMPLE_FMT_FLT, 48000, 2, 8000, 1},
      {AV_CODEC_TYPE_G711UENC, "pcm_mulaw", AV_SAMPLE_FMT_DBL, 16000, 1, 8000, 1},
      {AV_CODEC_TYPE_G711AENC, "pcm_alaw", AV_SAMPLE_FMT_U8, 8000, 1, 8000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.decoder) + " " + av_get_sample_fmt_name(c.src) + " " +
                 std::to_string(c.srcRate) + "/" + std::to_string(c.srcChannels) + " -> " +
                 std::to_string(c.dstRate) + "/" + std::to_string(c.dstChannels));
    CFFMpegAudioCodec codec;
    const SampleFormat dst =
        c.type == AV_CODEC_TYPE_G711AENC ? SAMPLE_FMT_S16 : SAMPLE_FMT_NONE;
    ASSERT_EQ(codec.Init(c.type, AudioParam(c.srcRate, c.dstRate, c.srcChannels, c.dstChannels,
                                            Public(c.src), dst, 96000)),
              0);
    ASSERT_NE(Peer::Swr(codec), nullptr);
    // Odd chunk sizes so that both FIFOs take part.
    const Bytes pcm = MakeSinePcm(c.src, c.srcRate, c.srcChannels, c.srcRate);
    const EncodeRun run =
        EncodeInChunks(codec, pcm, 777 * c.srcChannels * av_get_bytes_per_sample(c.src));
    const DecodedAudio decoded = DecodeTestAudio(c.decoder, run.packets, c.dstRate, c.dstChannels);
    ASSERT_EQ(decoded.channels, c.dstChannels);
    // One second of sound, less the partial frame and what encoder and resampler still hold.
    const int frameSize = std::max(Peer::Ctx(codec)->frame_size, 64);
    const auto decodedSamples = static_cast<int>(decoded.samples.size()) / c.dstChannels;
    EXPECT_LE(decodedSamples, c.dstRate + frameSize);
    EXPECT_GE(decodedSamples, c.dstRate - 3 * frameSize);
    const std::vector<double> expected = PcmToDoubles(
        MakeSinePcm(AV_SAMPLE_FMT_DBL, c.dstRate, 1, c.dstRate), AV_SAMPLE_FMT_DBL, 1);
    // Channels mixed or spread keep the tone but not its phase or level.
    const int delay = Peer::Ctx(codec)->initial_padding;
    ExpectFollows(expected, 1, decoded.samples, c.dstChannels,
                  {c.dstRate / 5, c.dstRate / 2, delay, delay + c.dstRate / 440, 0.98, 2.0});
  }
}

}  // namespace
}  // namespace codec_test
