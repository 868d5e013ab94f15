// Pixel conversion of the video codec: the scaler it builds, the decoder's output size and the
// public format of the pictures it hands out.
#include "video/pixel_convert.h"

#include <cstdint>

#include "interface/log.h"
#include "interface/pixel_formats.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect) {
  if (W == 0 || H == 0) return {w, h};
  if (!bKeepAspect) return {W, H};
  // 64-bit products: the same result as 32-bit ones wherever those do not overflow.
  switch (av_cmp_q(AVRational{w, h}, AVRational{W, H})) {
    case 1:
      return {W, static_cast<int>(static_cast<int64_t>(h) * W / w)};
    case -1:
      return {static_cast<int>(static_cast<int64_t>(w) * H / h), H};
    default:  // same aspect, or both undefined
      return {W, H};
  }
}

int CFFMpegVideoCodec::SwsCtxInit(int nSrcWidth, int nSrcHeight, AVPixelFormat eSrcFmt,
                                  int nDstWidth, int nDstHeight, AVPixelFormat eDstFmt) {
  if (m_scaler.Ready()) return 0;
  return m_scaler.Init({nSrcWidth, nSrcHeight, eSrcFmt, nDstWidth, nDstHeight, eDstFmt});
}

void CFFMpegVideoCodec::FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out) {
  out.m_ePixelFormat = AvToPixelFormat(eFormat);
  if (out.m_ePixelFormat == PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]unsupport format[%d]", static_cast<int>(eFormat));
  }
}

int CFFMpegVideoCodec::ScaleTempFrame(AVPixelFormat eDstFmt) {
  AVFrame* picture = m_pTempFrame.get();
  // A source of another size or format (MJPEG switching its subsampling, a hardware decoder
  // falling back to software) needs a scaler built for its layout.
  if (!m_scaler.Takes(*picture) || m_scaler.Geometry().eDstFormat != eDstFmt) m_scaler.Reset();
  if (!m_scaler.Ready()) {
    const PictureSize size = FitOutputSize(picture->width, picture->height, m_nDstWidth,
                                           m_nDstHeight, m_bKeepAspect);
    m_nRealDstWidth = size.nWidth;
    m_nRealDstHeight = size.nHeight;
    CODEC_LOG(kLogInfo, "[CODE]Get RelDst[%d*%d] format[%d->%d]", m_nRealDstWidth,
              m_nRealDstHeight, m_pVideoFrame->format, static_cast<int>(eDstFmt));
    if (SwsCtxInit(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                   m_nRealDstWidth, m_nRealDstHeight, eDstFmt) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      av_frame_unref(picture);
      return -1;
    }
  }
  const int ret = m_scaler.Scale(picture);
  if (ret < 0) {
    CODEC_LOG(kLogError, "[CODE]sws_scale_frame failed:%d", ret);
    av_frame_unref(picture);
    return -1;
  }
  av_frame_replace(picture, m_scaler.Frame());
  if (picture->width != m_nRealDstWidth || picture->height != m_nRealDstHeight) {
    CODEC_LOG(kLogError, "[CODE]sws_scale get height[%d] is diff with [%d]", picture->height,
              picture->width);
    av_frame_unref(picture);
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
