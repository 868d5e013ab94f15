// ImageGetBufferSize, ImageCopyToBuffer and ImageHwCopyToMemory: sizes and copies checked
// against FFmpeg's own image functions, and every refusal with its exact line.
#include <gtest/gtest.h>

#include <vector>

#include "codec_interface.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "video/image_buffer.h"

namespace {

using namespace codec_interface;
using codec_test::LogLine;
using codec_test::ScopedLogCapture;

const LogLine kTransferFailed{60, "[CODE]av_hwframe_transfer_data failed"};

struct SoftwareFormat {
  PixelFormat ePublic;
  AVPixelFormat eAv;
};

constexpr SoftwareFormat kSoftwareFormats[] = {
    {PIX_FMT_BGRA, AV_PIX_FMT_BGRA},       {PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
    {PIX_FMT_RGBA, AV_PIX_FMT_RGBA},       {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
    {PIX_FMT_NV12, AV_PIX_FMT_NV12},       {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P},
    {PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422},
};

constexpr PixelFormat kHardwareFormats[] = {PIX_FMT_DXVA2, PIX_FMT_D3D12VA, PIX_FMT_D3D11VA,
                                            PIX_FMT_VIDEOTOOLBOX};

// A device surface as a decoder would hand it out, but with no frames context behind it: the
// download fails the way it does for a surface whose device is gone.
FramePtr FakeSurface(AVPixelFormat format) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->width = 144;
  frame->height = 256;
  return frame;
}

// Appends the pictures to an owning out-param's entries.
template <class... Pictures>
void Hold(CVideoDecodeOutParam& out, Pictures... pictures) {
  ((out.m_pFrame[out.m_nNum++] = pictures.release()), ...);
}

TEST(ImageGetBufferSize, SizesOf144x256) {
  PixelFormat out = PIX_FMT_NONE;
  EXPECT_EQ(ICodecInterface::ImageGetBufferSize(PIX_FMT_YUV420P, out, 144, 256), 55296);
  EXPECT_EQ(out, PIX_FMT_YUV420P);
  for (PixelFormat hw : kHardwareFormats) {
    SCOPED_TRACE(hw);
    out = PIX_FMT_NONE;
    EXPECT_EQ(ICodecInterface::ImageGetBufferSize(hw, out, 144, 256), 55296);
    EXPECT_EQ(out, PIX_FMT_NV12);
  }
}

TEST(ImageGetBufferSize, SoftwareFormatsMatchFfmpegAtAnOddSize) {
  for (const SoftwareFormat& f : kSoftwareFormats) {
    SCOPED_TRACE(f.ePublic);
    PixelFormat out = PIX_FMT_NONE;
    EXPECT_EQ(ICodecInterface::ImageGetBufferSize(f.ePublic, out, 146, 99),
              av_image_get_buffer_size(f.eAv, 146, 99, 1));
    EXPECT_EQ(out, f.ePublic);
  }
}

TEST(ImageGetBufferSize, UnknownFormatsGiveZeroAndKeepTheFormat) {
  ScopedLogCapture capture;
  for (int value : {0, -1, 12, 1000}) {
    SCOPED_TRACE(value);
    PixelFormat out = PIX_FMT_BGRA;
    EXPECT_EQ(ICodecInterface::ImageGetBufferSize(static_cast<PixelFormat>(value), out, 144, 256),
              0);
    EXPECT_EQ(out, static_cast<PixelFormat>(value));
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(ImageGetBufferSize, InvalidSizeGivesFfmpegsCode) {
  ScopedLogCapture capture;  // FFmpeg's complaint about the size is its own line
  for (auto [w, h] : {std::pair{0, 0}, std::pair{-4, 10}, std::pair{144, -1}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    PixelFormat out = PIX_FMT_NONE;
    const int expected = av_image_get_buffer_size(AV_PIX_FMT_NV12, w, h, 1);
    ASSERT_LT(expected, 0);
    EXPECT_EQ(ICodecInterface::ImageGetBufferSize(PIX_FMT_D3D11VA, out, w, h), expected);
    EXPECT_EQ(out, PIX_FMT_NV12);
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(ImageCopyToBuffer, SoftwarePicturesEqualFfmpegsPackedCopy) {
  // An odd width makes FFmpeg pad the lines, so a copy that ignored the line size would differ.
  constexpr int kW = 146;
  constexpr int kH = 98;
  for (const SoftwareFormat& f : kSoftwareFormats) {
    SCOPED_TRACE(f.ePublic);
    FramePtr picture = codec_test::MakeTestPicture(kW, kH, f.eAv, 3);
    ASSERT_NE(picture, nullptr);
    ASSERT_GT(picture->linesize[0], av_image_get_linesize(f.eAv, kW, 0));
    PixelFormat sized = PIX_FMT_NONE;
    const int size = ICodecInterface::ImageGetBufferSize(f.ePublic, sized, kW, kH);
    std::vector<uint8_t> expected(static_cast<size_t>(size));
    ASSERT_EQ(av_image_copy_to_buffer(expected.data(), size, picture->data, picture->linesize,
                                      f.eAv, kW, kH, 1),
              size);

    CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
    Hold(out, std::move(picture));
    std::vector<uint8_t> copied(static_cast<size_t>(size), 0xEE);
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(copied.data(), size, out, 0), size);
    EXPECT_EQ(copied, expected);
  }
}

TEST(ImageCopyToBuffer, PicksTheIndexedEntry) {
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(out, codec_test::MakeTestPicture(32, 16, AV_PIX_FMT_YUV420P, 0),
       codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_RGB24, 1));
  std::vector<uint8_t> buffer(64 * 48 * 3);
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), static_cast<int>(buffer.size()),
                                               out, 1),
            64 * 48 * 3);
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), static_cast<int>(buffer.size()),
                                               out, 0),
            32 * 16 * 3 / 2);
}

TEST(ImageCopyToBuffer, TooSmallBufferGivesFfmpegsCodeAndWritesNothing) {
  ScopedLogCapture capture;
  FramePtr picture = codec_test::MakeTestPicture(144, 256, AV_PIX_FMT_YUV420P, 0);
  std::vector<uint8_t> buffer(55296 - 1, 0xEE);
  const int expected = av_image_copy_to_buffer(buffer.data(), 55296 - 1, picture->data,
                                               picture->linesize, AV_PIX_FMT_YUV420P, 144,
                                               256, 1);
  ASSERT_LT(expected, 0);
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(out, std::move(picture));
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), 55296 - 1, out, 0), expected);
  EXPECT_EQ(buffer, std::vector<uint8_t>(55296 - 1, 0xEE));
  // No buffer at all, whatever size is claimed, is refused the same way.
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(nullptr, 55296, out, 0), AVERROR(EINVAL));
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(ImageCopyToBuffer, RefusalsWithoutALine) {
  ScopedLogCapture capture;
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(out, codec_test::MakeTestPicture(144, 256, AV_PIX_FMT_YUV420P, 0),
       codec_test::MakeTestPicture(144, 256, AV_PIX_FMT_GRAY8, 0),
       FakeSurface(AV_PIX_FMT_D3D11));
  std::vector<uint8_t> buffer(144 * 256 * 4, 0xEE);
  const int size = static_cast<int>(buffer.size());
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, 3), -1);  // == m_nNum
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, -1), -1);
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, 1), -1);  // GRAY8
  EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, 2), -1);  // D3D11
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_EQ(buffer, std::vector<uint8_t>(144 * 256 * 4, 0xEE));
}

TEST(ImageCopyToBuffer, FailedDownloadOfEachSurfaceLogsAndFails) {
  for (AVPixelFormat format : {AV_PIX_FMT_DXVA2_VLD, AV_PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_D3D12}) {
    SCOPED_TRACE(format);
    ScopedLogCapture capture;
    CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
    Hold(out, FakeSurface(format));
    std::vector<uint8_t> buffer(55296);
    EXPECT_EQ(ICodecInterface::ImageCopyToBuffer(buffer.data(), 55296, out, 0), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{kTransferFailed}));
  }
}

// A destination whose fields show whether anything was written.
void Mark(CVideoDecodeOutParam& dst) {
  dst.m_nWidth = 7;
  dst.m_nHeight = 9;
  dst.m_ePixelFormat = PIX_FMT_RGBA;
  dst.m_bDecodeError = true;
}

void ExpectUntouched(const CVideoDecodeOutParam& dst) {
  EXPECT_EQ(dst.m_nNum, 0);
  EXPECT_EQ(dst.m_pFrame[0], nullptr);
  EXPECT_EQ(dst.m_nWidth, 7);
  EXPECT_EQ(dst.m_nHeight, 9);
  EXPECT_EQ(dst.m_ePixelFormat, PIX_FMT_RGBA);
  EXPECT_TRUE(dst.m_bDecodeError);
}

TEST(ImageHwCopyToMemory, CacheModeDestinationIsRefusedWithItsLine) {
  ScopedLogCapture capture;
  CVideoDecodeOutParam src(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(src, FakeSurface(AV_PIX_FMT_DXVA2_VLD));
  CVideoDecodeOutParam dst(0);
  Mark(dst);
  EXPECT_EQ(ICodecInterface::ImageHwCopyToMemory(dst, src, 0), -1);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{60,
                                  "[CODE]ImageHwCopyToMemory Out Param Can not set "
                                  "OUTPARAM_FLAG_NOT_USE_CACHE flag"}}));
  ExpectUntouched(dst);
}

TEST(ImageHwCopyToMemory, SilentRefusals) {
  ScopedLogCapture capture;
  CVideoDecodeOutParam src(OUTPARAM_FLAG_NOT_USE_CACHE);
  Hold(src, codec_test::MakeTestPicture(144, 256, AV_PIX_FMT_NV12, 0),
       FakeSurface(AV_PIX_FMT_D3D11),
       codec_test::MakeTestPicture(16, 16, AV_PIX_FMT_YUV420P, 0));
  CVideoDecodeOutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE);
  Mark(dst);
  for (int index : {0, 1, 2, 3, -1, 20}) {
    EXPECT_EQ(ICodecInterface::ImageHwCopyToMemory(dst, src, index), -1) << index;
  }
  EXPECT_TRUE(capture->OwnLines().empty());
  ExpectUntouched(dst);
}

TEST(ImageHwCopyToMemory, FailedDownloadLogsAndLeavesTheDestination) {
  for (AVPixelFormat format : {AV_PIX_FMT_DXVA2_VLD, AV_PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_D3D12}) {
    SCOPED_TRACE(format);
    ScopedLogCapture capture;
    CVideoDecodeOutParam src(OUTPARAM_FLAG_NOT_USE_CACHE);
    Hold(src, FakeSurface(format));
    CVideoDecodeOutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE);
    Mark(dst);
    EXPECT_EQ(ICodecInterface::ImageHwCopyToMemory(dst, src, 0), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{kTransferFailed}));
    ExpectUntouched(dst);
  }
}

TEST(ImageHwCopyToMemory, DownloadedPictureBecomesTheOwnedSingleEntry) {
  // What a successful download hands over: a system-memory NV12 picture.
  ScopedLogCapture capture;
  CVideoDecodeOutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE);
  // Owned entries that must not leak (ASan checks).
  Hold(dst, codec_test::MakeTestPicture(16, 16, AV_PIX_FMT_YUV420P, 0),
       codec_test::MakeTestPicture(16, 16, AV_PIX_FMT_YUV420P, 1));
  dst.m_bDecodeError = true;

  FramePtr downloaded = codec_test::MakeTestPicture(144, 256, AV_PIX_FMT_NV12, 0);
  AVFrame* raw = downloaded.get();
  PutOwnedPicture(dst, std::move(downloaded));
  EXPECT_EQ(dst.m_nNum, 1);
  EXPECT_EQ(dst.m_pFrame[0], raw);
  EXPECT_EQ(dst.m_pFrame[1], nullptr);
  for (int plane = 0; plane < 4; ++plane) {
    EXPECT_EQ(dst.m_outData[0].pData[plane], raw->data[plane]) << plane;
    EXPECT_EQ(dst.m_outData[0].nLinesize[plane], raw->linesize[plane]) << plane;
  }
  EXPECT_EQ(dst.m_ePixelFormat, PIX_FMT_NV12);
  EXPECT_EQ(dst.m_nWidth, 144);
  EXPECT_EQ(dst.m_nHeight, 256);
  EXPECT_TRUE(dst.m_bDecodeError);  // not the picture functions' business

  // A download in a format outside the public list is reported as PIX_FMT_NONE, silently.
  PutOwnedPicture(dst, codec_test::MakeTestPicture(32, 32, AV_PIX_FMT_GRAY8, 0));
  EXPECT_EQ(dst.m_ePixelFormat, PIX_FMT_NONE);
  EXPECT_TRUE(capture->OwnLines().empty());
}

}  // namespace
