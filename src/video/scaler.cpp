#include "video/scaler.h"

#include "interface/log.h"

namespace codec_interface {

int Scaler::Init(const ScalerGeometry& g) {
  m_pCtx.reset(sws_getContext(g.nSrcWidth, g.nSrcHeight, g.eSrcFormat, g.nDstWidth, g.nDstHeight,
                              g.eDstFormat, SWS_LANCZOS, nullptr, nullptr, nullptr));
  if (m_pCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]sws_getContext failed:%d-%d %d  %d-%d %d", g.nSrcWidth,
              g.nSrcHeight, static_cast<int>(g.eSrcFormat), g.nDstWidth, g.nDstHeight,
              static_cast<int>(g.eDstFormat));
    return -1;
  }
  m_stGeometry = g;
  if (m_pFrame != nullptr) av_frame_unref(m_pFrame.get());
  return 0;
}

int Scaler::Scale(const AVFrame* pSrc) {
  if (m_pFrame == nullptr) m_pFrame.reset(av_frame_alloc());
  if (m_pFrame == nullptr) return AVERROR(ENOMEM);
  // A picture the caller still owns, or the encoder still holds, keeps its pixels.
  DetachSharedBuffers(m_pFrame.get());
  return sws_scale_frame(m_pCtx.get(), m_pFrame.get(), pSrc);
}

int Scaler::ScaleInto(const AVFrame& src, AVFrame& dst) const {
  return sws_scale(m_pCtx.get(), src.data, src.linesize, 0, src.height, dst.data, dst.linesize);
}

void DetachSharedBuffers(AVFrame* pFrame) {
  if (pFrame->buf[0] != nullptr && !av_frame_is_writable(pFrame)) av_frame_unref(pFrame);
}

}  // namespace codec_interface
