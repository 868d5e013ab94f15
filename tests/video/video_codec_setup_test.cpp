// Init's refusals, and the bridge that forwards FFmpeg's own log lines.

#include "support/media.h"

namespace {

using namespace codec_test;

TEST(VideoCodecInit, Refusals_LogExactLinesAndKeepNoType) {
  // This FFmpeg build has no MediaCodec, and no device of the families it may have.
  ASSERT_EQ(avcodec_find_decoder_by_name("h264_mediacodec"), nullptr);
  const auto mustSet = [](std::string f) {
    return std::vector<LogLine>{{60, "[CODE]PIX_FMT_" + f + " must set CodecType:AV_CODEC_TYPE_H264DEC_" +
                                         f + "/AV_CODEC_TYPE_HEVCDEC_" + f}};
  };
  const auto noSize = [](std::string f) {
    return std::vector<LogLine>{{60, "[CODE]PIX_FMT_" + f + " can not change size"}};
  };
  const LogLine uninit{0, "[CODE]video codec uninit"};
  const std::vector<LogLine> noFormat{
      {60, "[CODE]Encode can not set PIX_FMT_NONE"}, {0, "[CODE]InitEncode failed"}, uninit};
  const std::tuple<int, int, int, int, std::vector<LogLine>> cases[] = {
      {AV_CODEC_TYPE_H264DEC_DXVA2, PIX_FMT_D3D11VA, 1280, 720, mustSet("D3D11VA")},  // type first
      {AV_CODEC_TYPE_H264DEC_D3D11VA, PIX_FMT_D3D11VA, 1280, 0, noSize("D3D11VA")},
      {AV_CODEC_TYPE_HEVCDEC_D3D12VA, PIX_FMT_DXVA2, 0, 0, mustSet("DXVA2")},
      {AV_CODEC_TYPE_HEVCDEC_DXVA2, PIX_FMT_DXVA2, 2, 2, noSize("DXVA2")},
      {AV_CODEC_TYPE_MJPEGDEC, PIX_FMT_D3D12VA, 0, 0, mustSet("D3D12VA")},
      {AV_CODEC_TYPE_H264DEC_D3D12VA, PIX_FMT_D3D12VA, 0, 5, noSize("D3D12VA")},
      {AV_CODEC_TYPE_H264DEC_MEDIACODEC, PIX_FMT_VIDEOTOOLBOX, 0, 0, mustSet("VIDEOTOOLBOX")},
      {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, PIX_FMT_VIDEOTOOLBOX, 640, 480, noSize("VIDEOTOOLBOX")},
      {AV_CODEC_TYPE_H264DEC_MEDIACODEC, PIX_FMT_YUV420P, 0, 0,
       {{60, "[CODE]Codec not found for AVCodecType:11"}, uninit}},
      {AV_CODEC_TYPE_H264ENC, PIX_FMT_NONE, 320, 240, noFormat},
  };
  for (const auto& [type, format, width, height, lines] : cases) {
    auto codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
    ScopedLogCapture capture;
    EXPECT_EQ(codec->Init(CodecType(type), VideoParam(format, width, height, width, height)), -1);
    EXPECT_EQ(capture->OwnLines(), lines) << type << " " << format;
    EXPECT_EQ(codec->GetCodecType(), CodecType(-1));
  }
}

// Warnings and worse reach the logger at our level, without the "[... @ 0x...]" prefix FFmpeg's
// own printer would put before the text of a context with a class.
TEST(VideoCodecInit, FfmpegLines_WarningsAndWorseReachTheLoggerWithoutPrefix) {
  auto codec = ICodecInterface::Create(AV_CODEC_TYPE_MJPEGDEC);
  ASSERT_EQ(codec->Init(AV_CODEC_TYPE_MJPEGDEC, VideoParam(PIX_FMT_NONE)), 0);
  CodecCtxPtr context(avcodec_alloc_context3(nullptr));
  ScopedLogCapture capture;
  for (int level : {AV_LOG_PANIC, AV_LOG_FATAL, AV_LOG_ERROR, AV_LOG_WARNING, AV_LOG_INFO,
                    AV_LOG_VERBOSE, AV_LOG_DEBUG}) {
    av_log(context.get(), level, "broken %s %d\n", "slice", level);
  }
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_EQ(capture->ForwardedLines(),
            (std::vector<LogLine>{{80, "broken slice 0\n"}, {80, "broken slice 8\n"},
                                  {60, "broken slice 16\n"}, {40, "broken slice 24\n"}}));
}

}  // namespace
