// Test access to the encoder's and the filter graph's private steps and members.
#pragma once

#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

struct VideoCodecTestPeer {
  using Codec = CFFMpegVideoCodec;

  static int InitEncode(Codec& c, AVCodecContext* ctx, const VideoCodecParam& param) {
    return c.InitEncode(ctx, param);
  }
  static int InitFilter(Codec& c, AVCodecContext* ctx, int width, int height,
                        AVPixelFormat format, const char* description) {
    return c.InitFilter(ctx, width, height, format, description);
  }
  static AVFrame* FilterDecodeFrame(Codec& c, AVFrame* picture) {
    return c.FilterDecodeFrame(picture);
  }
  static AVFrame* FilterEncodeFrame(Codec& c, AVFrame* picture) {
    return c.FilterEncodeFrame(picture);
  }
  static void FreeFilterGraph(Codec& c) { c.FreeFilterGraph(); }

  static AVPixelFormat& PixFmt(Codec& c) { return c.m_ePixFmt; }
  static std::string& FilterDesc(Codec& c) { return c.m_strFilterDesc; }
  static AVFrame*& VideoFrame(Codec& c) { return c.m_pVideoFrame; }
  static AVFrame*& FilterFrame(Codec& c) { return c.m_pFilterFrame; }
  static AVCodecContext* CodecCtx(Codec& c) { return c.m_pCodecCtx; }
  static AVDictionary*& EncodeOptions(Codec& c) { return c.m_pEncodeOptions; }
  static SwsContext* Sws(Codec& c) { return c.m_pSwsCtx; }
  static int SwsSrcWidth(Codec& c) { return c.m_nSwsSrcWidth; }
  static int SwsSrcHeight(Codec& c) { return c.m_nSwsSrcHeight; }
  static AVPixelFormat SwsSrcPixFmt(Codec& c) { return c.m_eSwsSrcPixFmt; }
  static int SrcWidth(Codec& c) { return c.m_nSrcWidth; }
  static int SrcHeight(Codec& c) { return c.m_nSrcHeight; }
  static int RealDstWidth(Codec& c) { return c.m_nRealDstWidth; }
  static int RealDstHeight(Codec& c) { return c.m_nRealDstHeight; }
  static const uint8_t* ImageBuf(Codec& c) { return c.m_pImageBuf; }
  static int ImageBufSize(Codec& c) { return c.m_nImageBufSize; }
  static AVPacket* Packet(Codec& c) { return c.m_pPacket; }
  static AVFilterGraph* Graph(Codec& c) { return c.m_pFilterGraph; }
  static AVFilterContext* BufferSrc(Codec& c) { return c.m_pBufferSrcCtx; }
  static AVFilterContext* BufferSink(Codec& c) { return c.m_pBufferSinkCtx; }
  static AVFilterInOut* FilterInputs(Codec& c) { return c.m_pFilterInputs; }
  static AVFilterInOut* FilterOutputs(Codec& c) { return c.m_pFilterOutputs; }
};

}  // namespace codec_interface
