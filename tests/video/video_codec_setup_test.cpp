// Init's refusals and the bridge that forwards FFmpeg's own log lines.
#include <vector>

#include "interface/ffmpeg.h"
#include "video_test_util.h"

namespace codec_interface {
namespace {

using codec_test::LogLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using VideoCodecInit = VideoCodecTest;

TEST_F(VideoCodecInit, Refusals_LogExactLinesAndKeepNoType) {
  // This FFmpeg build has none of the five device families, nor MediaCodec.
  ASSERT_EQ(avcodec_get_hw_config(avcodec_find_decoder(AV_CODEC_ID_H264), 0), nullptr);
  ASSERT_EQ(avcodec_get_hw_config(avcodec_find_decoder(AV_CODEC_ID_HEVC), 0), nullptr);
  ASSERT_EQ(avcodec_find_decoder_by_name("h264_mediacodec"), nullptr);
  const LogLine noHwConfig{60, "[CODE]avcodec_get_hw_config failed"};
  const LogLine uninit{0, "[CODE]video codec uninit"};
  const LogLine noFormat{60, "[CODE]Encode can not set PIX_FMT_NONE"};
  const LogLine initEncode{0, "[CODE]InitEncode failed"};
  struct Case {
    CodecType type;
    PixelFormat format;
    int width, height;
    std::vector<LogLine> lines;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_H264DEC, PIX_FMT_D3D11VA, 0, 0,
       {{60, "[CODE]PIX_FMT_D3D11VA must set "
             "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA"}}},
      // The type is checked before the size.
      {AV_CODEC_TYPE_H264DEC_DXVA2, PIX_FMT_D3D11VA, 1280, 720,
       {{60, "[CODE]PIX_FMT_D3D11VA must set "
             "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA"}}},
      {AV_CODEC_TYPE_H264DEC_D3D11VA, PIX_FMT_D3D11VA, 1280, 0,
       {{60, "[CODE]PIX_FMT_D3D11VA can not change size"}}},
      {AV_CODEC_TYPE_HEVCDEC_D3D12VA, PIX_FMT_DXVA2, 0, 0,
       {{60, "[CODE]PIX_FMT_DXVA2 must set "
             "CodecType:AV_CODEC_TYPE_H264DEC_DXVA2/AV_CODEC_TYPE_HEVCDEC_DXVA2"}}},
      {AV_CODEC_TYPE_HEVCDEC_DXVA2, PIX_FMT_DXVA2, 2, 2,
       {{60, "[CODE]PIX_FMT_DXVA2 can not change size"}}},
      {AV_CODEC_TYPE_MJPEGDEC, PIX_FMT_D3D12VA, 0, 0,
       {{60, "[CODE]PIX_FMT_D3D12VA must set "
             "CodecType:AV_CODEC_TYPE_H264DEC_D3D12VA/AV_CODEC_TYPE_HEVCDEC_D3D12VA"}}},
      {AV_CODEC_TYPE_H264DEC_D3D12VA, PIX_FMT_D3D12VA, 0, 5,
       {{60, "[CODE]PIX_FMT_D3D12VA can not change size"}}},
      {AV_CODEC_TYPE_H264DEC_MEDIACODEC, PIX_FMT_VIDEOTOOLBOX, 0, 0,
       {{60, "[CODE]PIX_FMT_VIDEOTOOLBOX must set CodecType:"
             "AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX/AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX"}}},
      {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, PIX_FMT_VIDEOTOOLBOX, 640, 480,
       {{60, "[CODE]PIX_FMT_VIDEOTOOLBOX can not change size"}}},
      // Hardware types end without a usable configuration, and without Uninit.
      {AV_CODEC_TYPE_H264DEC_DXVA2, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_HEVCDEC_DXVA2, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_H264DEC_D3D12VA, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_HEVCDEC_D3D12VA, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_H264DEC_D3D11VA, PIX_FMT_D3D11VA, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_HEVCDEC_D3D11VA, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, PIX_FMT_NV12, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, PIX_FMT_NONE, 0, 0, {noHwConfig}},
      {AV_CODEC_TYPE_H264DEC_MEDIACODEC, PIX_FMT_YUV420P, 0, 0,
       {{60, "[CODE]Codec not found for AVCodecType:11"}, uninit}},
      {static_cast<CodecType>(-3), PIX_FMT_NONE, 0, 0,
       {{60, "[CODE]Codec not found for AVCodecType:-3"}, uninit}},
      {AV_CODEC_TYPE_H264ENC, PIX_FMT_NONE, 320, 240, {noFormat, initEncode, uninit}},
      {AV_CODEC_TYPE_HEVCENC, PIX_FMT_NONE, 320, 240, {noFormat, initEncode, uninit}},
      {AV_CODEC_TYPE_BMPENC, PIX_FMT_NONE, 0, 0, {noFormat, initEncode, uninit}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " format " << c.format);
    capture_->Clear();
    CFFMpegVideoCodec codec;
    EXPECT_EQ(codec.Init(c.type, Param(c.format, c.width, c.height)), -1);
    EXPECT_EQ(capture_->OwnLines(), c.lines);
    EXPECT_EQ(codec.GetCodecType(), static_cast<CodecType>(-1));
  }
}

TEST_F(VideoCodecInit, FfmpegLines_WarningsAndWorseReachTheLoggerWithoutPrefix) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_MJPEGDEC, Param()), 0);
  // A context with a class: FFmpeg's own printer would put "[... @ 0x...]" before the text.
  CodecCtxPtr context(avcodec_alloc_context3(nullptr));
  const std::pair<int, int> levels[] = {{AV_LOG_PANIC, 80},  {AV_LOG_FATAL, 80},
                                        {AV_LOG_ERROR, 60},  {AV_LOG_WARNING, 40},
                                        {AV_LOG_INFO, -1},   {AV_LOG_VERBOSE, -1},
                                        {AV_LOG_DEBUG, -1}};
  for (const auto& [ffmpeg, ours] : levels) {
    SCOPED_TRACE(ffmpeg);
    capture_->Clear();
    av_log(context.get(), ffmpeg, "broken %s %d\n", "slice", 7);
    EXPECT_THAT(capture_->OwnLines(), IsEmpty());
    if (ours < 0) {
      EXPECT_THAT(capture_->ForwardedLines(), IsEmpty());
    } else {
      EXPECT_THAT(capture_->ForwardedLines(), ElementsAre(LogLine{ours, "broken slice 7\n"}));
    }
  }
}

}  // namespace
}  // namespace codec_interface
