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
  for (int call = 0; call < 6; ++call) {
    SCOPED_TRACE(call);
    Bytes chunk(pcm.begin() + call * 2000, pcm.begin() + (call + 1) * 2000);
    ASSERT_EQ(codec.Encode(chunk.data(), 2000, &out), 1);
    const int kept = (call + 1) % 3;  // 999/1, 999/2, 1002/0, and round again
    EXPECT_EQ(Peer::RateBuffer(codec).size(), (kept == 0 ? 1002u : 999u) * 2);
    EXPECT_EQ(av_audio_fifo_size(Peer::RateFifo(codec)), kept);
    out.Clear();
  }
}

// Chunks of many sizes, at the codec's rate (whole frames go straight through the work frame,
// others through the FIFO into that same frame) and at another rate. Each host chunk is checked
// unchanged and freed right after its call: AddressSanitizer reports any later access through
// the work frame. Sizes of 0, -4, under one stereo sample or no data in between leave both FIFOs
// and the encoder as they were: the packets equal those of a run without such calls.
TEST(AudioEncode, OddCalls_LeaveFifosEncoderAndHostChunksUntouched) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000);
  const auto fifoSize = [](AVAudioFifo* f) { return f == nullptr ? 0 : av_audio_fifo_size(f); };
  auto run = [&](int dstRate, bool oddCalls) {
    CFFMpegAudioCodec codec;
    EXPECT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                         AudioParam(48000, dstRate, 2, 2, AV_SAMPLE_FMT_S16, -1, 128000)),
              0);
    std::vector<Bytes> packets;
    CAudioEncodeOutParam out(oddCalls ? OUTPARAM_FLAG_NOT_USE_CACHE : 0);
    size_t offset = 0;
    for (const int samples : {1024, 1000, 1048, 1024, 500, 1548, 1024, 1000, 3000, 2000}) {
      const size_t bytes = static_cast<size_t>(samples) * 4;
      auto chunk = std::make_unique<uint8_t[]>(bytes);
      std::memcpy(chunk.get(), pcm.data() + offset, bytes);
      EXPECT_GE(codec.Encode(chunk.get(), static_cast<int>(bytes), &out), 0);
      EXPECT_EQ(std::memcmp(chunk.get(), pcm.data() + offset, bytes), 0);
      offset += bytes;
      if (oddCalls) {
        const int rate = fifoSize(Peer::RateFifo(codec)), encode = fifoSize(Peer::EncodeFifo(codec));
        ScopedLogCapture capture;
        for (const int size : {0, 3, -4}) EXPECT_EQ(codec.Encode(chunk.get(), size, &out), out.m_nNum);
        EXPECT_EQ(codec.Encode(nullptr, 4000, &out), out.m_nNum);
        EXPECT_EQ(fifoSize(Peer::RateFifo(codec)), rate);
        EXPECT_EQ(fifoSize(Peer::EncodeFifo(codec)), encode);
        EXPECT_TRUE(capture->OwnLines().empty());
      }
      chunk.reset();
      for (int k = 0; k < out.m_nNum; ++k) {
        packets.emplace_back(out.m_outData[k].pData, out.m_outData[k].pData + out.m_outData[k].nSize);
      }
      out.Clear();
    }
    return packets;
  };
  for (const int dstRate : {48000, 44100}) {
    SCOPED_TRACE(dstRate);
    const std::vector<Bytes> plain = run(dstRate, false);
    ASSERT_GT(plain.size(), 8u);
    EXPECT_EQ(run(dstRate, true), plain);
  }
}

}  // namespace
}  // namespace codec_test
