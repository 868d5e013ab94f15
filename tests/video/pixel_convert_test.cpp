// Pixel-format mapping, the output size rule, SwsCtxInit and FillOutPixelFormat.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "interface/ffmpeg.h"
#include "support/log_capture.h"
#include "video/ffmpeg_video_codec.h"
#include "video/pixel_convert.h"
#include "video_codec_peer.h"

namespace codec_interface {
namespace {

using codec_test::LogLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Peer = VideoCodecTestPeer;

// The public names of the software formats are FFmpeg's own, upper-cased.
constexpr const char* kSoftwareNames[] = {"bgra",    "rgb24",    "rgba",   "yuv420p",
                                          "nv12",    "yuvj420p", "yuyv422"};

TEST(PixelFormatMapping, SoftwareByFfmpegNameSurfacesAsDeviceFormatsAndBack) {
  AVPixelFormat mapped = AV_PIX_FMT_GRAY16LE;
  ASSERT_TRUE(PixelFormatToAv(PIX_FMT_NONE, &mapped));
  EXPECT_EQ(mapped, AV_PIX_FMT_NONE);
  for (int value = PIX_FMT_BGRA; value <= PIX_FMT_VIDEOTOOLBOX; ++value) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(PixelFormatToAv(static_cast<PixelFormat>(value), &mapped));
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(mapped);
    ASSERT_NE(desc, nullptr);
    if (value <= PIX_FMT_YUYV422) {
      EXPECT_STREQ(desc->name, kSoftwareNames[value - PIX_FMT_BGRA]);
    } else {
      EXPECT_TRUE(desc->flags & AV_PIX_FMT_FLAG_HWACCEL) << desc->name;
    }
    EXPECT_EQ(AvToPixelFormat(mapped), static_cast<PixelFormat>(value));  // one pair each
  }
  for (int value : {-1, 12, 100}) {
    SCOPED_TRACE(value);
    mapped = AV_PIX_FMT_GRAY16LE;
    EXPECT_FALSE(PixelFormatToAv(static_cast<PixelFormat>(value), &mapped));
    EXPECT_EQ(mapped, AV_PIX_FMT_GRAY16LE);
  }
  for (AVPixelFormat other : {AV_PIX_FMT_GRAY8, AV_PIX_FMT_YUV444P, AV_PIX_FMT_MEDIACODEC,
                              AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_NONE}) {
    EXPECT_EQ(AvToPixelFormat(other), PIX_FMT_NONE) << other;
  }
}

TEST(PixelFormatMapping, FillOutPixelFormat_LogsFormatsOutsideTheTable) {
  CFFMpegVideoCodec codec;
  for (AVPixelFormat format : {AV_PIX_FMT_BGRA, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_D3D11}) {
    SCOPED_TRACE(format);
    codec_test::ScopedLogCapture capture;
    CVideoDecodeOutParam out;
    Peer::FillOutPixelFormat(codec, format, out);
    EXPECT_EQ(out.m_ePixelFormat, AvToPixelFormat(format));
    EXPECT_NE(out.m_ePixelFormat, PIX_FMT_NONE);
    EXPECT_THAT(capture->OwnLines(), IsEmpty());
  }
  struct Unmapped {
    AVPixelFormat format;
    const char* line;
  };
  const Unmapped unmapped[] = {{AV_PIX_FMT_GRAY8, "[CODE]unsupport format[8]"},
                               {AV_PIX_FMT_NONE, "[CODE]unsupport format[-1]"},
                               {AV_PIX_FMT_YUV444P, "[CODE]unsupport format[5]"}};
  for (const Unmapped& u : unmapped) {
    SCOPED_TRACE(u.line);
    codec_test::ScopedLogCapture capture;
    CVideoDecodeOutParam out;
    out.m_ePixelFormat = PIX_FMT_BGRA;
    Peer::FillOutPixelFormat(codec, u.format, out);
    EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_NONE);
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, u.line}));
  }
}

TEST(OutputSizeRule, FitsWithAndWithoutAspect) {
  struct Case {
    int w, h, W, H;
    bool keep;
    int outW, outH;
  };
  const Case cases[] = {
      {1920, 1080, 640, 640, true, 640, 360},   // wider than the box
      {1080, 1920, 640, 640, true, 360, 640},   // taller than the box
      {1920, 1080, 640, 640, false, 640, 640},
      {1080, 1920, 640, 640, false, 640, 640},
      {1280, 720, 640, 360, true, 640, 360},    // same aspect
      {1279, 719, 640, 640, true, 640, 359},    // divisions truncate
      {719, 1279, 640, 640, true, 359, 640},
      {1920, 1080, 640, 0, true, 1920, 1080},   // no size asked: the picture's own
      {1920, 1080, 0, 480, false, 1920, 1080},
      {101, 77, 33, 33, true, 33, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " into " << c.W << "x" << c.H
                                    << (c.keep ? " keep" : ""));
    const PictureSize size = FitOutputSize(c.w, c.h, c.W, c.H, c.keep);
    EXPECT_EQ(size.nWidth, c.outW);
    EXPECT_EQ(size.nHeight, c.outH);
  }
}

TEST(SwsCtxInit, BuildsOnceThenServesWhateverIsAsked) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(Peer::SwsCtxInit(codec, 640, 480, AV_PIX_FMT_YUV420P, 320, 240, AV_PIX_FMT_BGRA), 0);
  SwsContext* scaler = Peer::SwsCtx(codec);
  ASSERT_NE(scaler, nullptr);
  AVFrame* target = Peer::SwsFrame(codec);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->buf[0], nullptr);
  // A present scaler is kept whatever the new geometry.
  EXPECT_EQ(Peer::SwsCtxInit(codec, 16, 16, AV_PIX_FMT_NV12, 8, 8, AV_PIX_FMT_RGB24), 0);
  EXPECT_EQ(Peer::SwsCtx(codec), scaler);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());

  // The scaler does what sws_scale with Lanczos does.
  FramePtr src(av_frame_alloc());
  src->format = AV_PIX_FMT_YUV420P;
  src->width = 640;
  src->height = 480;
  ASSERT_EQ(av_frame_get_buffer(src.get(), 0), 0);
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) src->data[0][y * src->linesize[0] + x] = (x * 7 + y) & 0xff;
  }
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      src->data[1][y * src->linesize[1] + x] = (x + 2 * y) & 0xff;
      src->data[2][y * src->linesize[2] + x] = (3 * x + y) & 0xff;
    }
  }
  ASSERT_GE(sws_scale_frame(scaler, target, src.get()), 0);
  EXPECT_EQ(target->width, 320);
  EXPECT_EQ(target->format, AV_PIX_FMT_BGRA);
  SwsPtr plain(sws_getContext(640, 480, AV_PIX_FMT_YUV420P, 320, 240, AV_PIX_FMT_BGRA,
                              SWS_LANCZOS, nullptr, nullptr, nullptr));
  FramePtr expected(av_frame_alloc());
  ASSERT_GE(sws_scale_frame(plain.get(), expected.get(), src.get()), 0);
  for (int y = 0; y < 240; ++y) {
    ASSERT_EQ(std::memcmp(target->data[0] + y * target->linesize[0],
                          expected->data[0] + y * expected->linesize[0], 320 * 4),
              0)
        << "row " << y;
  }

  // A new scaler drops the old destination buffers so the next picture gets fitting ones.
  Peer::SwsCtx(codec) = nullptr;
  sws_freeContext(scaler);
  ASSERT_EQ(Peer::SwsCtxInit(codec, 64, 64, AV_PIX_FMT_YUV420P, 32, 32, AV_PIX_FMT_RGB24), 0);
  EXPECT_EQ(Peer::SwsFrame(codec), target);
  EXPECT_EQ(target->buf[0], nullptr);
}

TEST(SwsCtxInit, Failure_LogsAllSixValuesAndKeepsNoScaler) {
  struct Case {
    int sw, sh;
    AVPixelFormat sf;
    int dw, dh;
    AVPixelFormat df;
    const char* line;
  };
  const Case cases[] = {
      {0, 480, AV_PIX_FMT_YUV420P, 320, 240, AV_PIX_FMT_BGRA,
       "[CODE]sws_getContext failed:0-480 0  320-240 28"},
      {640, 480, AV_PIX_FMT_YUV420P, 320, -2, AV_PIX_FMT_NV12,
       "[CODE]sws_getContext failed:640-480 0  320--2 23"},
      // Device surfaces cannot be scaled.
      {1280, 720, AV_PIX_FMT_D3D11, 640, 360, AV_PIX_FMT_BGRA,
       "[CODE]sws_getContext failed:1280-720 171  640-360 28"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    EXPECT_EQ(Peer::SwsCtxInit(codec, c.sw, c.sh, c.sf, c.dw, c.dh, c.df), -1);
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, c.line}));
    EXPECT_EQ(Peer::SwsCtx(codec), nullptr);
    EXPECT_EQ(Peer::SwsFrame(codec), nullptr);
  }
}

}  // namespace
}  // namespace codec_interface
