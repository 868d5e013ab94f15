// Draining video codecs, picture times and encoder frame rates, held to plain FFmpeg.

#include "support/media.h"

namespace {

using namespace codec_test;

constexpr AVRational kUs{1, 1000000};

// Plain FFmpeg's pictures of the stream, its packets timed in microseconds, drained at the end;
// the frame rate the stream declares into *pRate.
std::vector<FramePtr> PlainTimed(const char* decoder, const EncodedStream& stream, AVRational* pRate = nullptr) {
  const CodecCtxPtr ctx = OpenContext(avcodec_find_decoder_by_name(decoder), [](AVCodecContext* c) { c->pkt_timebase = kUs; });
  std::vector<FramePtr> frames;
  for (size_t i = 0; i <= stream.packets.size(); ++i) {
    PacketPtr p(i < stream.packets.size() ? av_packet_clone(stream.packets[i].get()) : nullptr);
    if (p != nullptr) p->pts = av_rescale_q(p->pts, stream.timeBase, kUs), p->dts = AV_NOPTS_VALUE;
    frames = std::move(frames) + SendReceive(ctx.get(), p.get());
  }
  if (pRate != nullptr) *pRate = ctx->framerate;
  return frames;
}

// B-frame streams through DecodeTimed and Drain: as many pictures as plain FFmpeg with its own
// drain, in presentation order with its times (through scaling and a filter too), the drained
// ones with its pixels; without the drain pictures are missing. Then the object takes the
// stream again from the start.
TEST(VideoDrain, DecoderHandsOutEveryPictureWithPlainFfmpegsTimes_ThenTakesANewStream) {
  const Options x264 = {{"bf", "2"}}, x265 = {{"x265-params", "log-level=error:bframes=2:b-adapt=0"}};
  const std::tuple<CodecType, const char*, Options, CodecParam> cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", x264, VideoParam(PIX_FMT_NONE)}, {AV_CODEC_TYPE_HEVCDEC, "libx265", x265, VideoParam(PIX_FMT_NONE)},
      {AV_CODEC_TYPE_H264DEC, "libx264", x264, VideoParam(PIX_FMT_RGB24, 0, 0, 40, 30, false, "hflip")}};
  for (const auto& [type, encoder, options, param] : cases) {
    const EncodedStream stream = EncodeVideo(encoder, 64, 48, 12, options);
    const auto plain = PlainTimed(type == AV_CODEC_TYPE_H264DEC ? "h264" : "hevc", stream);
    ASSERT_EQ(plain.size(), 12u) << encoder;
    auto codec = OpenCodec(type, param);
    CVideoDecodeOutParam out;
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<int64_t> times;
      for (const PacketPtr& p : stream.packets) {
        ASSERT_GE(ICodecInterface::DecodeTimed(*codec, p->data, p->size, av_rescale_q(p->pts, stream.timeBase, kUs), &out), 0);
        if (out.m_nNum == 1) times.push_back(ICodecInterface::GetPictureTime(out, 0));
        EXPECT_EQ(ICodecInterface::GetPictureTime(out, out.m_nNum), MEDIA_NO_TIMESTAMP);
      }
      EXPECT_LT(times.size(), plain.size()) << "the stream keeps pictures back for reordering";
      while (ICodecInterface::Drain(*codec, &out) == 1) {
        times.push_back(ICodecInterface::GetPictureTime(out, 0));
        EXPECT_TRUE(param.stVideo.ePixelFormat != PIX_FMT_NONE || SamePixels(out.m_pFrame[0], plain[times.size() - 1].get()));
      }
      ASSERT_EQ(times.size(), plain.size()) << encoder << " pass " << pass;
      for (size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], plain[i]->pts) << encoder << " picture " << i;
    }
  }
}

// Encoders built without delay hold nothing: the drain says so at once and leaves an encoder
// that takes pictures again; a rational frame rate reaches the stream's own timing information,
// which plain FFmpeg reads back.
TEST(VideoDrain, EncoderHoldsNothing_EncodesAfterTheDrain_RationalRateInTheStream) {
  const std::tuple<CodecType, const char*, int, int> cases[] = {
      {AV_CODEC_TYPE_H264ENC, "h264", 60000, 1001}, {AV_CODEC_TYPE_HEVCENC, "hevc", 30000, 1001}, {AV_CODEC_TYPE_H264ENC, "h264", 0, 0}};
  for (const auto& [type, decoder, num, den] : cases) {
    auto codec = ICodecInterface::Create(type);
    ASSERT_EQ(ICodecInterface::SetEncoderFrameRate(*codec, num, den), 0);
    ASSERT_EQ(codec->Init(type, VideoParam(PIX_FMT_YUV420P, 64, 48)), 0);
    CVideoEncodeOutParam out;
    EncodedStream ours;  // its times are not looked at
    for (int i = 0; i < 6; ++i) {
      Bytes picture = PackPicture(MakePicture(64, 48, AV_PIX_FMT_YUV420P, i).get());
      ASSERT_EQ(codec->Encode(picture.data(), static_cast<int>(picture.size()), &out), 1) << decoder << i;
      ours.packets.emplace_back(av_packet_clone(out.m_pPacket[0]));
      EXPECT_EQ(i == 2 ? ICodecInterface::Drain(*codec, &out) : 0, 0);
    }
    // The stream's own timing, as plain FFmpeg's decoder reads it; the record's 25 without a rate.
    AVRational rate{0, 1};
    EXPECT_EQ(PlainTimed(decoder, ours, &rate).size(), 6u);
    EXPECT_EQ(av_cmp_q(rate, num > 0 ? AVRational{num, den} : AVRational{25, 1}), 0) << decoder << " " << rate.num << "/" << rate.den;
  }
  ScopedLogCapture capture;
  auto audio = ICodecInterface::Create(AV_CODEC_TYPE_AACENC), video = ICodecInterface::Create(AV_CODEC_TYPE_H264ENC);
  EXPECT_EQ(ICodecInterface::SetEncoderFrameRate(*audio, 25, 1), -1);
  EXPECT_EQ(ICodecInterface::SetEncoderFrameRate(*video, 0, 1), -1);
  EXPECT_EQ(ICodecInterface::Drain(*video, nullptr), -1);
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{60, "[CODE]SetEncoderFrameRate needs a video codec object"}, {60, "[CODE]SetEncoderFrameRate refuses 0/1"}}));
}

}  // namespace
