// Draining audio codecs, held to plain FFmpeg's encoders and decoders with their own drains.

#include "support/media.h"

namespace {

using namespace codec_test;

// Three seconds and a partial frame of the tone in 10 ms chunks, then the drain: as many
// packets as plain FFmpeg's encoder with its drain (more than without it, each AAC packet
// behind a true ADTS header), decoding to as long as the input within one frame. Twice: the
// drained object takes a new stream. A decoder drains, then decodes on.
TEST(AudioDrain, EncodedStreamLastsAsLongAsItsInput_DrainedObjectsGoOn) {
  // Speex takes no short last frame: the object pads it with silence.
  const std::tuple<CodecType, CodecType, const char*, int, int> cases[] = {
      {AV_CODEC_TYPE_AACENC, AV_CODEC_TYPE_AACDEC, "aac", 48000, 2}, {AV_CODEC_TYPE_OPUSENC, AV_CODEC_TYPE_OPUSDEC, "libopus", 48000, 2},
      {AV_CODEC_TYPE_SPEEXENC, AV_CODEC_TYPE_SPEEXDEC, "libspeex", 16000, 1}};
  for (const auto& [type, decoderType, name, rate, channels] : cases) {  // FFmpeg's encoder and decoder names
    const int samples = 3 * rate + 100;
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples);
    const EncodedStream plain = EncodeTone(name, rate, channels, samples);
    auto codec = OpenCodec(type, AudioParam(rate, rate, channels, channels, SAMPLE_FMT_S16, SAMPLE_FMT_NONE));
    for (int pass = 0; pass < 2; ++pass) {
      EncodedRecords run = EncodeInChunks(*codec, pcm, rate / 25);
      const size_t undrained = run.packets.size();
      for (CAudioEncodeOutParam out; ICodecInterface::Drain(*codec, &out) > 0; out.Clear()) Take(run, out);
      EXPECT_LT(undrained, run.packets.size()) << name;
      EXPECT_EQ(run.packets.size(), plain.packets.size()) << name << " pass " << pass;
      std::vector<Bytes> packets;
      for (size_t i = 0; i < run.packets.size(); ++i) {
        const uint8_t* h = run.headers[i].data();
        EXPECT_TRUE(run.headers[i].empty() || (((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5)) == 7 + int(run.packets[i].size()));
        packets.push_back(run.headers[i] + run.packets[i]);
      }
      int64_t decoded = -plain.initialPadding;
      for (const FramePtr& f : DecodeWith(name, packets, rate, channels)) decoded += f->nb_samples;
      EXPECT_GE(decoded, samples) << name;
      EXPECT_LT(decoded, samples + plain.frameSize) << name;
    }
    auto ours = OpenCodec(decoderType, AudioParam(rate, rate, channels, channels, SAMPLE_FMT_NONE, SAMPLE_FMT_FLT));
    CAudioDecodeOutParam out;
    size_t frames = 0;
    for (Bytes p : plain.data) frames += std::max(ours->Decode(p.data(), static_cast<int>(p.size()), &out), 0), out.Clear();
    for (int got; (got = ICodecInterface::Drain(*ours, &out)) > 0; out.Clear()) frames += got;
    EXPECT_EQ(frames, DecodeWith(name, plain.data, rate, channels).size()) << name;
    EXPECT_EQ(ours->Decode(Bytes(plain.data[0]).data(), static_cast<int>(plain.data[0].size()), &out), 1) << name;
  }
}

}  // namespace
