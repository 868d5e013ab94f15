// ImageGetBufferSize, ImageCopyToBuffer and ImageHwCopyToMemory: sizes, copies checked against
// FFmpeg's own packed copy, and every refusal with its exact line.

#include "support/media.h"
#include "video/image_buffer.h"

namespace {

using namespace codec_test;

TEST(ImageCopyToBuffer, EachEntryEqualsFfmpegsPackedCopyOfItsSize) {
  // In the order of the public formats from PIX_FMT_BGRA on.
  const AVPixelFormat formats[] = {AV_PIX_FMT_BGRA, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGBA,
                                   AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, AV_PIX_FMT_YUVJ420P,
                                   AV_PIX_FMT_YUYV422};
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  for (AVPixelFormat format : formats) Hold(out, MakePicture(146, 99, format, out.m_nNum));
  ScopedLogCapture capture;
  for (int i = 0; i < out.m_nNum; ++i) {
    SCOPED_TRACE(formats[i]);
    // An odd width makes FFmpeg pad the lines, so a copy that ignored the line size differs.
    ASSERT_GT(out.m_pFrame[i]->linesize[0], av_image_get_linesize(formats[i], 146, 0));
    PixelFormat handedBack = PIX_FMT_NONE;
    const int size = ICodecInterface::ImageGetBufferSize(PixelFormat(i + 1), handedBack, 146, 99);
    const Bytes expected = PackPicture(out.m_pFrame[i]);
    ASSERT_EQ(size, static_cast<int>(expected.size()));
    Bytes copied(expected.size(), 0xEE);
    // Too small a buffer gets FFmpeg's code and nothing written; no buffer the same code.
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(copied.data(), size - 1, out, i), AVERROR(EINVAL));
    EXPECT_EQ(copied, Bytes(expected.size(), 0xEE));
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(nullptr, size, out, i), AVERROR(EINVAL));
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(copied.data(), size, out, i), size);
    EXPECT_EQ(copied, expected);
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(ImagePictureFunctions, RefusalsLeaveBufferAndDestinationAlone) {
  CVideoDecodeOutParam src(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(src, MakePicture(144, 256, AV_PIX_FMT_GRAY8, 0));
  // Device surfaces as a decoder hands them out, but with no frames context behind them: the
  // download fails as it does for a surface whose device is gone. D3D11 ones are not downloaded.
  for (AVPixelFormat format :
       {AV_PIX_FMT_D3D11, AV_PIX_FMT_DXVA2_VLD, AV_PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_D3D12}) {
    Hold(src, FramePtr(av_frame_alloc()));
    src.m_pFrame[src.m_nNum - 1]->format = format;
  }
  const LogLine failed{60, "[CODE]av_hwframe_transfer_data failed"};
  const LogLine cacheMode{60,
                          "[CODE]ImageHwCopyToMemory Out Param Can not set "
                          "OUTPARAM_FLAG_NOT_USE_CACHE flag"};
  for (int index : {0, 1, 2, 3, 4, 5, -1, 20}) {
    SCOPED_TRACE(index);
    ScopedLogCapture capture;
    Bytes buffer(144 * 256 * 4, 0xEE);
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), 144 * 256 * 4, src, index), -1);
    EXPECT_EQ(buffer, Bytes(144 * 256 * 4, 0xEE));
    CVideoDecodeOutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE), cached(0);
    EXPECT_EQ(ICodecInterface::ImageHwCopyToMemory(dst, src, index), -1);
    EXPECT_EQ(ICodecInterface::ImageHwCopyToMemory(cached, src, index), -1);  // checked first
    EXPECT_EQ(std::tuple(dst.m_nNum, cached.m_nNum), std::tuple(0, 0));
    const bool download = index >= 2 && index <= 4;
    EXPECT_EQ(capture->OwnLines(),
              (download ? std::vector{failed, failed, cacheMode} : std::vector{cacheMode}));
  }
}

// A download becomes entry 0 without releasing what the destination held: the host may still
// read that picture, and frees it itself.
TEST(ImageHwCopyToMemory, DownloadLeavesEarlierEntriesToTheHost) {
  CVideoDecodeOutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(dst, MakePicture(16, 8, AV_PIX_FMT_GRAY8, 0));
  AVFrame* earlier = dst.m_pFrame[0];
  const Bytes pixels = PackPicture(earlier);
  PutOwnedPicture(dst, MakePicture(32, 16, AV_PIX_FMT_NV12, 1));
  EXPECT_EQ(std::tuple(dst.m_nNum, dst.m_nWidth, dst.m_ePixelFormat), std::tuple(1, 32, PIX_FMT_NV12));
  EXPECT_EQ(PackPicture(earlier), pixels);
  av_frame_free(&earlier);
}

}  // namespace
