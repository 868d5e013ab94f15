#include "interface/scaler.h"

#include "interface/log.h"

namespace codec_interface {

namespace {

// Only the times: av_frame_copy_props would also clone side data, allocations on every call.
void CopyTimes(const AVFrame& src, AVFrame& dst) {
  dst.pts = src.pts;
  dst.pkt_dts = src.pkt_dts;
  dst.best_effort_timestamp = src.best_effort_timestamp;
  dst.duration = src.duration;
  dst.time_base = src.time_base;
}

}  // namespace

int Scaler::Init(const ScalerGeometry& g) {
  m_pCtx.reset(sws_getContext(g.nSrcWidth, g.nSrcHeight, g.eSrcFormat, g.nDstWidth, g.nDstHeight,
                              g.eDstFormat, SWS_LANCZOS, nullptr, nullptr, nullptr));
  if (m_pCtx == nullptr) {
    CODEC_LOG(kLogError, "sws_getContext failed:%d-%d %d  %d-%d %d", g.nSrcWidth, g.nSrcHeight,
              static_cast<int>(g.eSrcFormat), g.nDstWidth, g.nDstHeight,
              static_cast<int>(g.eDstFormat));
    return -1;
  }
  m_stGeometry = g;
  m_stColour = ColourTags{};
  if (m_pFrame != nullptr) av_frame_unref(m_pFrame.get());
  return 0;
}

int Scaler::Scale(const AVFrame* pSrc) {
  if (m_pFrame == nullptr) m_pFrame.reset(av_frame_alloc());
  if (m_pFrame == nullptr) return AVERROR(ENOMEM);
  AVFrame* pDst = m_pFrame.get();
  // A picture the caller still owns, or the encoder still holds, keeps its pixels.
  DetachSharedBuffers(pDst);
  if (pDst->buf[0] == nullptr) {
    pDst->width = m_stGeometry.nDstWidth;
    pDst->height = m_stGeometry.nDstHeight;
    pDst->format = m_stGeometry.eDstFormat;
    const int nAllocated = av_frame_get_buffer(pDst, 0);
    if (nAllocated < 0) return nAllocated;
  }
  const int nColour = FollowColour(*pSrc);
  if (nColour < 0) return nColour;
  CopyTimes(*pSrc, *pDst);
  TagConverted(*pDst);
  // The source planes are read where they are. sws_scale_frame would first take a reference to
  // the source, and for a picture bound in a host's buffer (not reference-counted) that is a
  // copy of the whole picture on every call.
  const int nRows = ScaleInto(*pSrc, *pDst);
  return nRows < 0 ? nRows : 0;
}

int Scaler::ScaleInto(const AVFrame& src, AVFrame& dst) const {
  return sws_scale(m_pCtx.get(), src.data, src.linesize, 0, src.height, dst.data, dst.linesize);
}

int Scaler::FollowColour(const AVFrame& src) {
  const ColourTags tags = TagsOf(src);
  if (tags == m_stColour) return 0;
  const int nApplied =
      ApplyColourTags(m_pCtx.get(), tags, m_stGeometry.eSrcFormat, m_stGeometry.eDstFormat);
  if (nApplied < 0) {
    CODEC_LOG(kLogError, "sws_setColorspaceDetails failed:%d matrix[%d] range[%d]", nApplied,
              static_cast<int>(tags.eMatrix), static_cast<int>(tags.eRange));
    return nApplied;
  }
  m_stColour = tags;
  return 0;
}

void Scaler::TagConverted(AVFrame& dst) const {
  const ColourTags out = m_stColour == ColourTags{}
                             ? ColourTags{}
                             : ConvertedTags(m_stColour, m_stGeometry.eDstFormat);
  dst.colorspace = out.eMatrix;
  dst.color_range = out.eRange;
}

void DetachSharedBuffers(AVFrame* pFrame) {
  if (pFrame->buf[0] != nullptr && !av_frame_is_writable(pFrame)) av_frame_unref(pFrame);
}

}  // namespace codec_interface
