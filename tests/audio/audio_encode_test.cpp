// Encoding host PCM of any chunk size: the rate step, the FIFOs and the work frame.
#include <gtest/gtest.h>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

// 48000 to 16000 Hz in 1000-sample chunks: only multiples of three convert whole, the rest
// waits in the rate FIFO for the next call.
TEST(AudioEncode, RateStep_HoldsBackSamplesThatDoNotConvertWhole) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_G711UENC,
                       AudioParam(48000, 16000, 1, 1, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 1, 6000);
  CAudioEncodeOutParam out;
  const int sent[] = {999, 999, 1002, 999, 999, 1002};
  const int kept[] = {1, 2, 0, 1, 2, 0};
  int produced = 0;
  for (int call = 0; call < 6; ++call) {
    SCOPED_TRACE(call);
    Bytes chunk(pcm.begin() + call * 2000, pcm.begin() + (call + 1) * 2000);
    ASSERT_EQ(codec.Encode(chunk.data(), 2000, &out), 1);
    EXPECT_EQ(Peer::RateBuffer(codec).size(), static_cast<size_t>(sent[call]) * 2);
    EXPECT_EQ(av_audio_fifo_size(Peer::RateFifo(codec)), kept[call]);
    produced += out.m_outData[0].nSize;
    out.Clear();
  }
  // 6000 samples at 48 kHz are 2000 at 16 kHz, less what the resampler's filter still holds.
  EXPECT_LE(produced, 2000);
  EXPECT_GE(produced, 1950);
}

// Sizes of 0, -4, under one stereo sample or no data leave both FIFOs and the encoder as they
// were: the packets come out identical to a run without those calls.
TEST(AudioEncode, NothingToTake_LeavesFifosAndEncoderUntouched) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 1000 * 12);
  auto run = [&](bool interleaveEmptyCalls) {
    CFFMpegAudioCodec codec;
    EXPECT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                         AudioParam(48000, 44100, 2, 2, AV_SAMPLE_FMT_S16, -1, 128000)),
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
        for (const int size : {0, 3, -4}) EXPECT_EQ(codec.Encode(chunk.data(), size, &out), held);
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
  EXPECT_EQ(run(true), plain);
}

// Whole-frame chunks go straight through the work frame, others through the FIFO into that same
// frame. Each host chunk is checked unchanged and freed right after its call: AddressSanitizer
// reports any later access through the work frame.
TEST(AudioEncode, WorkFrame_NeverReachesBackIntoTheHostsEarlierChunk) {
  for (const int flags : {0, OUTPARAM_FLAG_NOT_USE_CACHE}) {
    SCOPED_TRACE(flags);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                         AudioParam(48000, 48000, 2, 2, AV_SAMPLE_FMT_S16, -1, 128000)),
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
      chunk.reset();
      offset += bytes;
      out.Clear();
    }
  }
}

}  // namespace
}  // namespace codec_test
