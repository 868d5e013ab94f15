// Test access to CFFMpegVideoCodec's members and private steps.
#pragma once

#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

struct VideoCodecTestPeer {
  using C = CFFMpegVideoCodec;

  // Members.
  static bool& KeepAspect(C& c) { return c.m_bKeepAspect; }
  static int32_t& RealDstWidth(C& c) { return c.m_nRealDstWidth; }
  static int32_t& RealDstHeight(C& c) { return c.m_nRealDstHeight; }
  static int32_t& DstWidth(C& c) { return c.m_nDstWidth; }
  static int32_t& DstHeight(C& c) { return c.m_nDstHeight; }
  static int32_t& SrcWidth(C& c) { return c.m_nSrcWidth; }
  static int32_t& SrcHeight(C& c) { return c.m_nSrcHeight; }
  static int32_t& CommandQueueCount(C& c) { return c.m_nCommandQueueCount; }
  static uint32_t& DeviceIndex(C& c) { return c.m_nDeviceIndex; }
  static bool& SrcSizeFixed(C& c) { return c.m_bSrcSizeFixed; }
  static std::string& FilterDesc(C& c) { return c.m_strFilterDesc; }
  static bool& IsDecoder(C& c) { return c.m_bDecoder; }
  static AVPixelFormat& PixFmt(C& c) { return c.m_ePixFmt; }
  static AVPixelFormat& HwPixFmt(C& c) { return c.m_eHwPixFmt; }
  static AVBufferRef*& HwDeviceRef(C& c) { return c.m_pHwDeviceRef; }
  static const AVCodec*& Codec(C& c) { return c.m_pCodec; }
  static AVCodecContext*& CodecCtx(C& c) { return c.m_pCodecCtx; }
  static SwsContext*& SwsCtx(C& c) { return c.m_pSwsCtx; }
  static AVFrame*& VideoFrame(C& c) { return c.m_pVideoFrame; }
  static AVFrame*& FilterFrame(C& c) { return c.m_pFilterFrame; }
  static AVFrame*& SwFrame(C& c) { return c.m_pSwFrame; }
  static AVFrame*& SwsFrame(C& c) { return c.m_pSwsFrame; }
  static AVFrame*& TempFrame(C& c) { return c.m_pTempFrame; }
  static AVPacket*& Packet(C& c) { return c.m_pPacket; }
  static bool& EasyParamPending(C& c) { return c.m_bEasyParamPending; }
  static VideoEasyParam& EasyParam(C& c) { return c.m_stEasyParam; }
  static bool& IsInit(C& c) { return c.m_bInit; }

  // Private steps.
  static int SwsCtxInit(C& c, int sw, int sh, AVPixelFormat sf, int dw, int dh,
                        AVPixelFormat df) {
    return c.SwsCtxInit(sw, sh, sf, dw, dh, df);
  }
  static void FillOutPixelFormat(C& c, AVPixelFormat f, CVideoDecodeOutParam& out) {
    c.FillOutPixelFormat(f, out);
  }
  static int OutPutFrame(C& c, CVideoDecodeOutParam* out) { return c.OutPutFrame(out); }
  static int DecodeChangeSize(C& c) { return c.DecodeChangeSize(); }
  static int InitMediaCodec(C& c, const uint8_t* pData, int nSize, AVCodecContext* pCtx) {
    return c.InitMediaCodec(pData, nSize, pCtx);
  }
};

}  // namespace codec_interface
