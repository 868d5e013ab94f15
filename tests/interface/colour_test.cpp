// Colours of tagged streams against FFmpeg's own conversion with the declared matrix and
// range, and the colours encoders declare.

#include "support/media.h"

namespace {

using namespace codec_test;

// A BT.709, a BT.2020 and a full-range clip decoded into RGB and NV12 (and the raw
// transcoder's conversion of the pictures) match FFmpeg's own conversion with the declared
// matrix and range; the BT.601 conversion of before does not.
TEST(Colour, TaggedStreamsConvertWithTheirMatrixAndRange) {
  // 8-bit full range comes out of FFmpeg's decoders in the JPEG layouts, converted right before.
  const Options kFull10 = {{"color_range", "pc"}, {"pixel_format", "yuv420p10le"}};
  const std::tuple<CodecType, const char*, Options, PixelFormat, AVPixelFormat> cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", {{"colorspace", "bt709"}}, PIX_FMT_RGB24, AV_PIX_FMT_RGB24}, {AV_CODEC_TYPE_H264DEC, "libx264", {{"colorspace", "bt2020nc"}}, PIX_FMT_BGRA, AV_PIX_FMT_BGRA},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", kFull10, PIX_FMT_RGB24, AV_PIX_FMT_RGB24}, {AV_CODEC_TYPE_HEVCDEC, "libx265", kFull10, PIX_FMT_NV12, AV_PIX_FMT_NV12}};
  for (const auto& [type, encoder, options, format, av] : cases) {
    const EncodedStream stream = EncodeVideo(encoder, 96, 64, 1, options);
    const auto plain = DecodeWith(type == AV_CODEC_TYPE_H264DEC ? "h264" : "hevc", stream.data);
    ASSERT_EQ(plain.size(), 1u);
    auto codec = OpenCodec(type, VideoParam(format));
    CVideoDecodeOutParam out;
    ASSERT_GE(Decode(*codec, stream.data[0], out), 0);
    ASSERT_EQ(out.m_nNum == 0 ? ICodecInterface::Drain(*codec, &out) : 1, 1);  // a frame-threaded decoder waits
    const FramePtr reference = Scale(plain[0].get(), 96, 64, av, SWS_LANCZOS, true);
    EXPECT_GE(Psnr(out.m_pFrame[0], reference.get()), 40.0) << encoder << " " << av;
    EXPECT_LT(Psnr(Scale(plain[0].get(), 96, 64, av).get(), reference.get()), 40.0) << encoder << " " << av;
    if (plain[0]->format == AV_PIX_FMT_YUV420P) {  // the raw transcoder converts it alike
      auto trans = ITransCoder::Create();
      ASSERT_EQ(trans->Init(0, TransParam(PIX_FMT_YUV420P, 96, 64, format, 96, 64)), 0);
      CVideoDecodeOutParam src(OUTPARAM_FLAG_NOT_USE_CACHE), dst(OUTPARAM_FLAG_NOT_USE_CACHE);
      Hold(src, FramePtr(av_frame_clone(plain[0].get())));
      ASSERT_EQ(trans->Transcode(&src, 0, &dst), 0);
      EXPECT_GE(Psnr(dst.m_pFrame[0], reference.get()), 40.0) << av;
    }
  }
}

// An encoder fed RGB declares the matrix and range of its conversion, and plain FFmpeg's
// conversion with them gives back the host's colours; YUV input declares what the host said
// (BT.709 matrix, BT.2020 primaries, PQ transfer, limited range), or nothing.
TEST(Colour, EncodersDeclareTheirConversionFromRgbOrTheHostsColours) {
  for (const auto& [type, decoder] : {std::pair{AV_CODEC_TYPE_H264ENC, "h264"}, {AV_CODEC_TYPE_HEVCENC, "hevc"}}) {
    for (const auto& [source, described] : {std::pair{AV_PIX_FMT_BGRA, true}, {AV_PIX_FMT_YUV420P, true}, {AV_PIX_FMT_YUV420P, false}}) {
      auto codec = ICodecInterface::Create(type);
      if (described) { ASSERT_EQ(ICodecInterface::SetEncoderColour(*codec, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AVCOL_PRI_BT2020, AVCOL_TRC_SMPTE2084), 0); }
      ASSERT_EQ(codec->Init(type, VideoParam(source == AV_PIX_FMT_BGRA ? PIX_FMT_BGRA : PIX_FMT_YUV420P, 96, 64)), 0);
      const FramePtr picture = MakePicture(96, 64, source, 0);
      CVideoEncodeOutParam out;
      ASSERT_EQ(codec->Encode(PackPicture(picture.get()).data(), static_cast<int>(PackPicture(picture.get()).size()), &out), 1);
      const auto decoded = DecodeWith(decoder, {Bytes(out.m_outData[0].pData, out.m_outData[0].pData + out.m_outData[0].nSize)});
      ASSERT_EQ(decoded.size(), 1u);
      const bool rgb = source == AV_PIX_FMT_BGRA;
      const AVFrame& d = *decoded[0];
      using Tags = std::tuple<AVColorSpace, AVColorRange, AVColorPrimaries, AVColorTransferCharacteristic>;
      EXPECT_EQ(Tags(d.colorspace, d.color_range, d.color_primaries, d.color_trc),
                rgb ? Tags(AVCOL_SPC_BT470BG, AVCOL_RANGE_MPEG, AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED)
                : described ? Tags(AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AVCOL_PRI_BT2020, AVCOL_TRC_SMPTE2084)
                            : Tags(AVCOL_SPC_UNSPECIFIED, d.color_range, AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED)) << decoder;
      EXPECT_GE(rgb ? Psnr(Scale(decoded[0].get(), 96, 64, source, SWS_LANCZOS, true).get(), picture.get()) : 99, 30.0);
    }
  }
  ScopedLogCapture log;
  auto video = ICodecInterface::Create(AV_CODEC_TYPE_H264ENC), audio = ICodecInterface::Create(AV_CODEC_TYPE_AACENC);
  EXPECT_EQ(ICodecInterface::SetEncoderColour(*video, 1, 1, 13, 1), -1);  // 13 is reserved
  EXPECT_EQ(ICodecInterface::SetEncoderColour(*video, 1, 3, 1, 1), -1);
  EXPECT_EQ(ICodecInterface::SetEncoderColour(*audio, 1, 1, 1, 1), -1);
  EXPECT_EQ(log->OwnLines(), (std::vector<LogLine>{{60, "[CODE]SetEncoderColour refuses primaries 1/1/13/1"},
                                                   {60, "[CODE]SetEncoderColour refuses range 1/3/1/1"},
                                                   {60, "[CODE]SetEncoderColour needs a video codec object"}}));
}

}  // namespace
