// Draining audio codecs, held to plain FFmpeg's encoders and decoders with their own drains.
#include <gtest/gtest.h>

#include "support/media.h"

namespace {

using namespace codec_interface;
using namespace codec_test;

// Three seconds and a partial frame of the tone in 10 ms chunks, then the drain: as many
// packets as plain FFmpeg's encoder with its drain (more than without it, each AAC packet
// behind a true ADTS header), decoding to as long as the input within one frame. Twice: the
// drained object takes a new stream. A decoder drains, then decodes on.
TEST(AudioDrain, EncodedStreamLastsAsLongAsItsInput_DrainedObjectsGoOn) {
  const std::tuple<CodecType, CodecType, const char*, const char*, int> cases[] = {
      {AV_CODEC_TYPE_AACENC, AV_CODEC_TYPE_AACDEC, "aac", "aac", 1024},
      {AV_CODEC_TYPE_OPUSENC, AV_CODEC_TYPE_OPUSDEC, "libopus", "libopus", 960},
  };
  const int rate = 48000, channels = 2, samples = 3 * rate + 100;
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples);
  for (const auto& [type, decoderType, encoder, decoder, frame] : cases) {
    const EncodedStream plain = EncodeTone(encoder, rate, channels, samples);
    auto codec = OpenCodec(type, AudioParam(rate, rate, channels, channels, SAMPLE_FMT_S16, SAMPLE_FMT_NONE));
    for (int pass = 0; pass < 2; ++pass) {
      CAudioEncodeOutParam out;
      std::vector<Bytes> packets;
      const auto take = [&] {
        for (int k = 0; k < out.m_nNum; ++k) {
          const AudioEncOutData& d = out.m_outData[k];
          const uint8_t* h = d.byHeader;
          if (d.nHeaderSize > 0) EXPECT_EQ(((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5), 7 + d.nSize);
          packets.push_back(Bytes(h, h + d.nHeaderSize) + Bytes(d.pData, d.pData + d.nSize));
        }
        out.Clear();
      };
      for (size_t offset = 0; offset < pcm.size(); offset += 1920) {
        ASSERT_GE(codec->Encode(const_cast<uint8_t*>(pcm.data()) + offset,
                                static_cast<int>(std::min<size_t>(1920, pcm.size() - offset)), &out), 0);
        take();
      }
      const size_t undrained = packets.size();
      while (ICodecInterface::Drain(*codec, &out) > 0) take();
      EXPECT_LT(undrained, packets.size()) << encoder;
      EXPECT_EQ(packets.size(), plain.packets.size()) << encoder << " pass " << pass;
      int64_t decoded = -plain.initialPadding;
      for (const FramePtr& f : DecodeWith(decoder, packets, rate, channels)) decoded += f->nb_samples;
      EXPECT_GE(decoded, samples) << encoder;
      EXPECT_LT(decoded, samples + frame) << encoder;
    }
    auto ours = OpenCodec(decoderType, AudioParam(rate, rate, channels, channels, SAMPLE_FMT_NONE, SAMPLE_FMT_FLTP));
    CAudioDecodeOutParam out;
    size_t frames = 0;
    for (Bytes packet : plain.data) {
      frames += std::max(ours->Decode(packet.data(), static_cast<int>(packet.size()), &out), 0);
      out.Clear();
    }
    for (int got; (got = ICodecInterface::Drain(*ours, &out)) > 0; out.Clear()) frames += got;
    EXPECT_EQ(frames, DecodeWith(decoder, plain.data, rate, channels).size()) << decoder;
    Bytes first = plain.data[0];
    EXPECT_EQ(ours->Decode(first.data(), static_cast<int>(first.size()), &out), 1) << decoder;
  }
}

}  // namespace
