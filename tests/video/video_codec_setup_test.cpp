// Set-up and teardown of the video codec: Init checks and lines, Uninit, Reset, easy
// parameters and the bridge from FFmpeg's own log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <thread>

#include "interface/ffmpeg.h"
#include "support/log_capture.h"
#include "video/ffmpeg_video_codec.h"
#include "video_codec_peer.h"
#include "video_test_util.h"

namespace codec_interface {
namespace {

using codec_test::LogLine;
using codec_test::VideoParam;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Peer = VideoCodecTestPeer;

const LogLine kUninitLine{0, "[CODE]video codec uninit"};

TEST(VideoCodecInit, SoftwareDecoders_OpenLogAndKeepParameters) {
  struct Case {
    CodecType type;
    const char* line;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_H264DEC, "[CODE]video codec init succ; Using codec: h264 (ID: 27)"},
      {AV_CODEC_TYPE_HEVCDEC, "[CODE]video codec init succ; Using codec: hevc (ID: 173)"},
      {AV_CODEC_TYPE_MJPEGDEC, "[CODE]video codec init succ; Using codec: mjpeg (ID: 7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    CodecParam param = VideoParam(PIX_FMT_BGRA, 320, 240);
    param.stVideo.bKeepAspectRatio = true;
    param.stVideo.nSrcWidth = 640;
    param.stVideo.nCommandQueueCount = 7;
    param.stVideo.nAdapterIndex = 3;
    std::strcpy(param.stVideo.szFilterDesc, "hflip");
    ASSERT_EQ(codec.Init(c.type, param), 0);
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{20, c.line}));
    EXPECT_EQ(codec.GetCodecType(), c.type);
    EXPECT_TRUE(Peer::IsDecoder(codec));
    EXPECT_TRUE(Peer::IsInit(codec));
    ASSERT_NE(Peer::CodecCtx(codec), nullptr);
    EXPECT_TRUE(avcodec_is_open(Peer::CodecCtx(codec)));
    EXPECT_NE(Peer::Packet(codec), nullptr);
    EXPECT_NE(Peer::VideoFrame(codec), nullptr);
    EXPECT_NE(Peer::TempFrame(codec), nullptr);
    EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_BGRA);
    EXPECT_EQ(Peer::DstWidth(codec), 320);
    EXPECT_EQ(Peer::DstHeight(codec), 240);
    EXPECT_TRUE(Peer::KeepAspect(codec));
    EXPECT_EQ(Peer::SrcWidth(codec), 640);
    EXPECT_EQ(Peer::SrcHeight(codec), 0);
    EXPECT_TRUE(Peer::SrcSizeFixed(codec));
    EXPECT_EQ(Peer::CommandQueueCount(codec), 7);
    EXPECT_EQ(Peer::DeviceIndex(codec), 3u);
    EXPECT_EQ(Peer::FilterDesc(codec), "hflip");
    // Software decoders get no option: FFmpeg's default of one thread stays.
    EXPECT_EQ(Peer::CodecCtx(codec)->thread_count, 1);
  }
}

TEST(VideoCodecInit, SecondInit_ReturnsZeroAndKeepsFirstCodec) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  AVCodecContext* first = Peer::CodecCtx(codec);
  capture->Clear();
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_MJPEGDEC, VideoParam(PIX_FMT_RGBA, 10, 10)), 0);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_H264DEC);
  EXPECT_EQ(Peer::CodecCtx(codec), first);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_NONE);
  EXPECT_EQ(Peer::DstWidth(codec), 0);
}

TEST(VideoCodecInit, SurfaceFormats_RefusedForOtherTypesAndSizes) {
  struct Case {
    PixelFormat format;
    CodecType type;
    int width;
    int height;
    const char* line;
  };
  const Case cases[] = {
      {PIX_FMT_D3D11VA, AV_CODEC_TYPE_H264DEC, 0, 0,
       "[CODE]PIX_FMT_D3D11VA must set "
       "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA"},
      // The type is checked before the size.
      {PIX_FMT_D3D11VA, AV_CODEC_TYPE_H264DEC_DXVA2, 1280, 720,
       "[CODE]PIX_FMT_D3D11VA must set "
       "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA"},
      {PIX_FMT_D3D11VA, AV_CODEC_TYPE_H264DEC_D3D11VA, 1280, 0,
       "[CODE]PIX_FMT_D3D11VA can not change size"},
      {PIX_FMT_D3D11VA, AV_CODEC_TYPE_HEVCDEC_D3D11VA, 0, 1,
       "[CODE]PIX_FMT_D3D11VA can not change size"},
      {PIX_FMT_DXVA2, AV_CODEC_TYPE_HEVCDEC_D3D12VA, 0, 0,
       "[CODE]PIX_FMT_DXVA2 must set "
       "CodecType:AV_CODEC_TYPE_H264DEC_DXVA2/AV_CODEC_TYPE_HEVCDEC_DXVA2"},
      {PIX_FMT_DXVA2, AV_CODEC_TYPE_HEVCDEC_DXVA2, 2, 2,
       "[CODE]PIX_FMT_DXVA2 can not change size"},
      {PIX_FMT_D3D12VA, AV_CODEC_TYPE_MJPEGDEC, 0, 0,
       "[CODE]PIX_FMT_D3D12VA must set "
       "CodecType:AV_CODEC_TYPE_H264DEC_D3D12VA/AV_CODEC_TYPE_HEVCDEC_D3D12VA"},
      {PIX_FMT_D3D12VA, AV_CODEC_TYPE_H264DEC_D3D12VA, 0, 5,
       "[CODE]PIX_FMT_D3D12VA can not change size"},
      {PIX_FMT_VIDEOTOOLBOX, AV_CODEC_TYPE_H264DEC_MEDIACODEC, 0, 0,
       "[CODE]PIX_FMT_VIDEOTOOLBOX must set "
       "CodecType:AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX/AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX"},
      {PIX_FMT_VIDEOTOOLBOX, AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, 640, 480,
       "[CODE]PIX_FMT_VIDEOTOOLBOX can not change size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    EXPECT_EQ(codec.Init(c.type, VideoParam(c.format, c.width, c.height)), -1);
    // Refused before anything is built, and without Uninit.
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, c.line}));
    EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_NONE);
    EXPECT_EQ(Peer::Codec(codec), nullptr);
    EXPECT_EQ(Peer::CodecCtx(codec), nullptr);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
  }
}

TEST(VideoCodecInit, HardwareTypes_FailWithoutConfigurationAndWithoutUninit) {
  // This FFmpeg build carries none of the five device families.
  const CodecType types[] = {AV_CODEC_TYPE_HEVCDEC_DXVA2,       AV_CODEC_TYPE_HEVCDEC_D3D12VA,
                             AV_CODEC_TYPE_HEVCDEC_D3D11VA,     AV_CODEC_TYPE_H264DEC_DXVA2,
                             AV_CODEC_TYPE_H264DEC_D3D12VA,     AV_CODEC_TYPE_H264DEC_D3D11VA,
                             AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX};
  ASSERT_EQ(avcodec_get_hw_config(avcodec_find_decoder(AV_CODEC_ID_H264), 0), nullptr);
  ASSERT_EQ(avcodec_get_hw_config(avcodec_find_decoder(AV_CODEC_ID_HEVC), 0), nullptr);
  for (CodecType type : types) {
    SCOPED_TRACE(static_cast<int>(type));
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    EXPECT_EQ(codec.Init(type, VideoParam(PIX_FMT_NV12)), -1);
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, "[CODE]avcodec_get_hw_config failed"}));
    // The codec was found and the format mapped; nothing else happened.
    EXPECT_NE(Peer::Codec(codec), nullptr);
    EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_NV12);
    EXPECT_EQ(Peer::CodecCtx(codec), nullptr);
    EXPECT_EQ(Peer::Packet(codec), nullptr);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
  }
  // The matching surface format passes its own check and meets the same end.
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC_D3D11VA, VideoParam(PIX_FMT_D3D11VA)), -1);
  EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, "[CODE]avcodec_get_hw_config failed"}));
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_D3D11);
}

TEST(VideoCodecInit, MissingCodec_LogsTypeAndRunsUninit) {
  struct Case {
    int type;
    const char* line;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_H264DEC_MEDIACODEC, "[CODE]Codec not found for AVCodecType:11"},
      {15, "[CODE]Codec not found for AVCodecType:15"},
      {-3, "[CODE]Codec not found for AVCodecType:-3"},
  };
  ASSERT_EQ(avcodec_find_decoder_by_name("h264_mediacodec"), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    EXPECT_EQ(codec.Init(static_cast<CodecType>(c.type), VideoParam(PIX_FMT_YUV420P)), -1);
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, c.line}, kUninitLine));
    EXPECT_FALSE(Peer::IsInit(codec));
    EXPECT_EQ(Peer::Packet(codec), nullptr);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
  }
}

TEST(VideoCodecInit, EncoderWithoutPixelFormat_IsRefused) {
  for (CodecType type : {AV_CODEC_TYPE_H264ENC, AV_CODEC_TYPE_HEVCENC, AV_CODEC_TYPE_BMPENC}) {
    SCOPED_TRACE(static_cast<int>(type));
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    EXPECT_EQ(codec.Init(type, VideoParam(PIX_FMT_NONE, 320, 240)), -1);
    EXPECT_THAT(capture->OwnLines(),
                ElementsAre(LogLine{60, "[CODE]Encode can not set PIX_FMT_NONE"},
                            LogLine{0, "[CODE]InitEncode failed"}, kUninitLine));
    EXPECT_FALSE(Peer::IsDecoder(codec));
    EXPECT_EQ(Peer::CodecCtx(codec), nullptr);
    EXPECT_EQ(Peer::VideoFrame(codec), nullptr);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
  }
}

TEST(VideoCodecInit, InitUninitInit_WorksWithNewParameters) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NV12)), 0);
  codec.Uninit();
  EXPECT_FALSE(Peer::IsInit(codec));
  EXPECT_EQ(Peer::CodecCtx(codec), nullptr);
  EXPECT_EQ(Peer::TempFrame(codec), nullptr);
  // Uninit keeps the type and the parameters.
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_H264DEC);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_NV12);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_HEVCDEC, VideoParam(PIX_FMT_RGB24, 64, 32)), 0);
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_HEVCDEC);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_RGB24);
  EXPECT_THAT(capture->OwnLines(),
              ElementsAre(LogLine{20, "[CODE]video codec init succ; Using codec: h264 (ID: 27)"},
                          kUninitLine,
                          LogLine{20, "[CODE]video codec init succ; Using codec: hevc (ID: 173)"}));
}

TEST(VideoCodecInit, PixelFormatOutsideTable_LeavesFormatUnchanged) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  Peer::PixFmt(codec) = AV_PIX_FMT_GRAY8;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam(static_cast<PixelFormat>(12))), 0);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_GRAY8);
}

TEST(VideoCodecInit, FilterTextWithoutTerminator_IsTakenWhole) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  CodecParam param = VideoParam();
  std::memset(param.stVideo.szFilterDesc, 'a', sizeof param.stVideo.szFilterDesc);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_MJPEGDEC, param), 0);
  EXPECT_EQ(Peer::FilterDesc(codec), std::string(256, 'a'));
}

TEST(VideoCodecUninit, NewObject_FreesNothingAndStillLogs) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  codec.Uninit();
  codec.Uninit();
  EXPECT_THAT(capture->OwnLines(), ElementsAre(kUninitLine, kUninitLine));
  EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
}

TEST(VideoCodecUninit, LastSharedPointer_RunsUninit) {
  codec_test::ScopedLogCapture capture;
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  ASSERT_EQ(codec->Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  capture->Clear();
  codec.reset();
  EXPECT_THAT(capture->OwnLines(), ElementsAre(kUninitLine));
}

TEST(VideoCodecReset, WithoutContext_Fails) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  EXPECT_EQ(codec.Reset(VideoParam(PIX_FMT_BGRA, 320, 240)), -1);
  EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, "[CODE]AVCodecContext is null"}));
  // The parameters before the context check are taken all the same.
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_BGRA);
  EXPECT_EQ(Peer::DstWidth(codec), 320);

  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  codec.Uninit();
  capture->Clear();
  EXPECT_EQ(codec.Reset(VideoParam()), -1);
  EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{60, "[CODE]AVCodecContext is null"}));
}

TEST(VideoCodecReset, Decoder_ReopensContextWithNewParameters) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NV12)), 0);
  ASSERT_EQ(Peer::SwsCtxInit(codec, 64, 64, AV_PIX_FMT_YUV420P, 32, 32, AV_PIX_FMT_BGRA), 0);
  AVFrame* temp = Peer::TempFrame(codec);
  capture->Clear();

  CodecParam param = VideoParam(PIX_FMT_BGRA, 640, 360);
  param.stVideo.bKeepAspectRatio = true;
  param.stVideo.nSrcWidth = 1280;
  param.stVideo.nSrcHeight = 720;
  EXPECT_EQ(codec.Reset(param), 0);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
  ASSERT_NE(Peer::CodecCtx(codec), nullptr);
  EXPECT_TRUE(avcodec_is_open(Peer::CodecCtx(codec)));
  EXPECT_EQ(Peer::SwsCtx(codec), nullptr);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_BGRA);
  EXPECT_EQ(Peer::DstWidth(codec), 640);
  EXPECT_EQ(Peer::DstHeight(codec), 360);
  EXPECT_TRUE(Peer::KeepAspect(codec));
  EXPECT_EQ(Peer::SrcWidth(codec), 1280);
  EXPECT_EQ(Peer::SrcHeight(codec), 720);
  EXPECT_TRUE(Peer::SrcSizeFixed(codec));
  // Frames, type and state stay.
  EXPECT_EQ(Peer::TempFrame(codec), temp);
  EXPECT_TRUE(Peer::IsInit(codec));
  EXPECT_EQ(codec.GetCodecType(), AV_CODEC_TYPE_H264DEC);

  // Surface formats and values outside the table leave the format alone.
  for (int format : {static_cast<int>(PIX_FMT_D3D11VA), static_cast<int>(PIX_FMT_DXVA2), 12, -1}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(codec.Reset(VideoParam(static_cast<PixelFormat>(format))), 0);
    EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_BGRA);
    EXPECT_FALSE(Peer::SrcSizeFixed(codec));
  }
  EXPECT_EQ(codec.Reset(VideoParam(PIX_FMT_NONE)), 0);
  EXPECT_EQ(Peer::PixFmt(codec), AV_PIX_FMT_NONE);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
}

// No device family exists in this FFmpeg build, so a plain buffer stands in for a device
// context: what matters is who holds which reference and what is logged when it goes.
TEST(VideoCodecDeviceRefs, UninitAndResetReleaseEveryReferenceTheyHold) {
  codec_test::ScopedLogCapture capture;
  BufferRefPtr device(av_buffer_alloc(16));
  ASSERT_NE(device, nullptr);
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  Peer::HwDeviceRef(codec) = av_buffer_ref(device.get());
  Peer::CodecCtx(codec)->hw_device_ctx = av_buffer_ref(device.get());
  capture->Clear();
  EXPECT_EQ(codec.Reset(VideoParam()), 0);
  // The count is taken before the context's reference goes, after the object's own went.
  EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{0, "[CODE]hw_device_ctx [2]"}));
  EXPECT_EQ(av_buffer_get_ref_count(device.get()), 1);
  EXPECT_EQ(Peer::HwDeviceRef(codec), nullptr);

  Peer::HwDeviceRef(codec) = av_buffer_ref(device.get());
  Peer::CodecCtx(codec)->hw_device_ctx = av_buffer_ref(device.get());
  capture->Clear();
  codec.Uninit();
  EXPECT_THAT(capture->OwnLines(),
              ElementsAre(LogLine{0, "[CODE]hw_device_ctx [3]"}, kUninitLine));
  EXPECT_EQ(av_buffer_get_ref_count(device.get()), 1);
  EXPECT_EQ(Peer::HwDeviceRef(codec), nullptr);
}

TEST(VideoCodecEasyParam, StoresWholeRecordAsPending) {
  CFFMpegVideoCodec codec;
  VideoEasyParam param = codec_test::EasyParam(320, 240, "hflip");
  param.szFilterDesc[200] = 'x';  // bytes after the terminator are copied too
  codec.SetEasyParam(param);
  EXPECT_TRUE(Peer::EasyParamPending(codec));
  EXPECT_EQ(std::memcmp(&Peer::EasyParam(codec), &param, sizeof param), 0);
  // Nothing is applied before a decoded picture asks for it.
  EXPECT_EQ(Peer::DstWidth(codec), 0);
  EXPECT_EQ(Peer::FilterDesc(codec), "");
}

// Calls the bridge the way FFmpeg does, with a va_list.
void CallBridge(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  CFFMpegVideoCodec::FFmpegLogCallback(nullptr, level, format, args);
  va_end(args);
}

TEST(VideoCodecLogBridge, LevelsMapAndInfoIsDropped) {
  struct Case {
    int ffmpegLevel;
    int expected;  // -1: dropped
  };
  const Case cases[] = {{AV_LOG_PANIC, 80},   {AV_LOG_FATAL, 80},   {AV_LOG_ERROR, 60},
                        {AV_LOG_WARNING, 40}, {AV_LOG_QUIET, 0},    {4, 0},
                        {20, 0},              {AV_LOG_INFO, -1},    {25, -1},
                        {AV_LOG_VERBOSE, -1}, {AV_LOG_DEBUG, -1},   {AV_LOG_TRACE, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ffmpegLevel);
    codec_test::ScopedLogCapture capture;
    CallBridge(c.ffmpegLevel, "frame %d of %s\n", 7, "stream");
    EXPECT_THAT(capture->OwnLines(), IsEmpty());
    if (c.expected < 0) {
      EXPECT_THAT(capture->ForwardedLines(), IsEmpty());
    } else {
      EXPECT_THAT(capture->ForwardedLines(),
                  ElementsAre(LogLine{c.expected, "frame 7 of stream\n"}));
    }
  }
}

TEST(VideoCodecLogBridge, InstalledByInit_ForwardsFfmpegWarningsWithoutPrefix) {
  {
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_MJPEGDEC, VideoParam()), 0);
  }
  codec_test::ScopedLogCapture capture;
  av_log(nullptr, AV_LOG_ERROR, "broken %s\n", "slice");
  av_log(nullptr, AV_LOG_INFO, "just info\n");
  av_log(nullptr, AV_LOG_WARNING, "odd %d\n", 3);
  EXPECT_THAT(capture->ForwardedLines(),
              ElementsAre(LogLine{60, "broken slice\n"}, LogLine{40, "odd 3\n"}));
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
}

TEST(VideoCodecLogBridge, ConcurrentInits_InstallOnceAndForwardFromEveryThread) {
  codec_test::ScopedLogCapture capture;
  std::thread threads[2];
  for (std::thread& t : threads) {
    t = std::thread([] {
      CFFMpegVideoCodec codec;
      EXPECT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
      av_log(nullptr, AV_LOG_ERROR, "from a thread\n");
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_THAT(capture->ForwardedLines(),
              ElementsAre(LogLine{60, "from a thread\n"}, LogLine{60, "from a thread\n"}));
}

}  // namespace
}  // namespace codec_interface
