// Test access to the hardware steps of CFFMpegVideoCodec.
#pragma once

#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

struct VideoCodecTestPeer {
  static int InitMediaCodec(CFFMpegVideoCodec& codec, const uint8_t* pData, int nSize,
                            AVCodecContext* pCtx) {
    return codec.InitMediaCodec(pData, nSize, pCtx);
  }
  static bool GetHwPixelFormat(CFFMpegVideoCodec& codec, const AVCodec* pCodec,
                               AVHWDeviceType eType, AVPixelFormat* pFormat) {
    return codec.GetHwPixelFormat(pCodec, eType, pFormat);
  }
  // What Init would have stored for a MediaCodec decoder.
  static void SetDeviceSettings(CFFMpegVideoCodec& codec, AVPixelFormat eHwPixFmt,
                                int nCommandQueueCount, unsigned int nAdapterIndex) {
    codec.m_eHwPixFmt = eHwPixFmt;
    codec.m_nCommandQueueCount = nCommandQueueCount;
    codec.m_nDeviceIndex = nAdapterIndex;
  }
  static AVBufferRef*& DeviceRef(CFFMpegVideoCodec& codec) { return codec.m_pHwDeviceRef; }
};

}  // namespace codec_interface
