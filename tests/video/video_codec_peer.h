// Test access to CFFMpegVideoCodec's members and private steps.
#pragma once

#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

struct VideoCodecTestPeer {
  using C = CFFMpegVideoCodec;

  // Members.
  static AVPixelFormat& HwPixFmt(C& c) { return c.m_eHwPixFmt; }
  static BufferRefPtr& HwDeviceRef(C& c) { return c.m_pHwDeviceRef; }
  static AVCodecContext* CodecCtx(C& c) { return c.m_pCodecCtx.get(); }

  // Private steps.
  static int InitMediaCodec(C& c, const uint8_t* pData, int nSize, AVCodecContext* pCtx) {
    return c.InitMediaCodec(pData, nSize, pCtx);
  }
};

}  // namespace codec_interface
