// Colours of tagged streams against FFmpeg's own conversion with the declared matrix and
// range, and the colours encoders declare.
#include <gtest/gtest.h>

#include <cmath>

#include "support/media.h"

namespace {

using namespace codec_interface;
using namespace codec_test;

// The picture converted by plain libswscale as it declares itself, or as libswscale assumes
// when `declared` is false (BT.601, the layout's range).
FramePtr Convert(const AVFrame* picture, AVPixelFormat format, bool declared) {
  SwsPtr sws(sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                            picture->width, picture->height, format, SWS_LANCZOS, nullptr, nullptr, nullptr));
  const int* matrix = sws_getCoefficients(picture->colorspace);
  const bool yuvOut = !(av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB);
  if (declared) {
    sws_setColorspaceDetails(sws.get(), matrix, picture->color_range == AVCOL_RANGE_JPEG, matrix, !yuvOut, 0,
                             1 << 16, 1 << 16);
  }
  FramePtr out(av_frame_alloc());
  out->format = format, out->width = picture->width, out->height = picture->height;
  EXPECT_GE(av_frame_get_buffer(out.get(), 0), 0);
  sws_scale(sws.get(), picture->data, picture->linesize, 0, picture->height, out->data, out->linesize);
  return out;
}

double Psnr(const AVFrame* a, const AVFrame* b) {
  const Bytes x = PackPicture(a), y = PackPicture(b);
  double squared = 0;
  for (size_t i = 0; i < x.size(); ++i) squared += (x[i] - y[i]) * (x[i] - y[i]);
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(x.size()) / std::max(squared, 1.0));
}

// A BT.709, a BT.2020 and a full-range clip decoded into RGB and NV12 match FFmpeg's own
// conversion with the declared matrix and range; the BT.601 conversion of before does not.
TEST(Colour, TaggedStreamsConvertWithTheirMatrixAndRange) {
  const std::tuple<CodecType, const char*, Options, PixelFormat, AVPixelFormat> cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", {{"colorspace", "bt709"}}, PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
      {AV_CODEC_TYPE_H264DEC, "libx264", {{"colorspace", "bt2020nc"}}, PIX_FMT_BGRA, AV_PIX_FMT_BGRA},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", {{"color_range", "pc"}}, PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", {{"color_range", "pc"}}, PIX_FMT_NV12, AV_PIX_FMT_NV12},
  };
  for (const auto& [type, encoder, options, format, av] : cases) {
    const EncodedStream stream = EncodeVideo(encoder, 96, 64, 1, options);
    const auto plain = DecodeWith(type == AV_CODEC_TYPE_H264DEC ? "h264" : "hevc", stream.data);
    ASSERT_EQ(plain.size(), 1u);
    auto codec = OpenCodec(type, VideoParam(format));
    CVideoDecodeOutParam out;
    ASSERT_GE(codec->Decode(stream.data[0].data(), static_cast<int>(stream.data[0].size()), &out), 0);
    if (out.m_nNum == 0) ASSERT_EQ(ICodecInterface::Drain(*codec, &out), 1);
    const FramePtr reference = Convert(plain[0].get(), av, true);
    EXPECT_GE(Psnr(out.m_pFrame[0], reference.get()), 40.0) << encoder << " " << av;
    EXPECT_LT(Psnr(Convert(plain[0].get(), av, false).get(), reference.get()), 40.0) << encoder << " " << av;
  }
}

// An encoder fed RGB declares the matrix and range of its conversion, and plain FFmpeg's
// conversion with them gives back the host's colours; YUV input stays untagged.
TEST(Colour, EncodersDeclareTheirConversionFromRgb) {
  for (const auto& [type, decoder] : {std::pair{AV_CODEC_TYPE_H264ENC, "h264"}, {AV_CODEC_TYPE_HEVCENC, "hevc"}}) {
    for (const AVPixelFormat source : {AV_PIX_FMT_BGRA, AV_PIX_FMT_YUV420P}) {
      auto codec = OpenCodec(type, VideoParam(source == AV_PIX_FMT_BGRA ? PIX_FMT_BGRA : PIX_FMT_YUV420P, 96, 64));
      const FramePtr picture = MakePicture(96, 64, source, 0);
      Bytes bytes = PackPicture(picture.get());
      CVideoEncodeOutParam out;
      ASSERT_EQ(codec->Encode(bytes.data(), static_cast<int>(bytes.size()), &out), 1);
      const auto decoded = DecodeWith(decoder, {Bytes(out.m_outData[0].pData, out.m_outData[0].pData + out.m_outData[0].nSize)});
      ASSERT_EQ(decoded.size(), 1u);
      const bool rgb = source == AV_PIX_FMT_BGRA;
      EXPECT_EQ(std::pair(decoded[0]->colorspace, decoded[0]->color_range),
                rgb ? std::pair(AVCOL_SPC_BT470BG, AVCOL_RANGE_MPEG) : std::pair(AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED))
          << decoder;
      if (rgb) EXPECT_GE(Psnr(Convert(decoded[0].get(), source, true).get(), picture.get()), 30.0) << decoder;
    }
  }
}

}  // namespace
