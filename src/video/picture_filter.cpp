#include "video/picture_filter.h"

#include "interface/log.h"

namespace codec_interface {

int PictureFilter::Build(const AVCodecContext* pCtx, int nWidth, int nHeight,
                         AVPixelFormat eFormat) {
  if (m_graph.Build(FilterGraph::SourceArgs(pCtx, nWidth, nHeight, eFormat), m_strDesc.c_str()) !=
      0) {
    return -1;
  }
  if (m_pFrame == nullptr) {
    m_pFrame.reset(av_frame_alloc());
  } else {
    av_frame_unref(m_pFrame.get());
  }
  if (m_pFrame == nullptr) {
    m_graph.Reset();
    return -1;
  }
  return 0;
}

bool PictureFilter::Fit(const AVCodecContext* pCtx, const AVFrame& picture) {
  const auto format = static_cast<AVPixelFormat>(picture.format);
  if (m_graph.Built() &&
      m_graph.BuiltFor() != FilterGraph::SourceArgs(pCtx, picture.width, picture.height, format)) {
    m_graph.Reset();
  }
  if (!m_strDesc.empty() && !m_graph.Built() &&
      Build(pCtx, picture.width, picture.height, format) != 0) {
    CODEC_LOG(kLogError, "InitFilter failed");
    return false;
  }
  return m_graph.Built();
}

AVFrame* PictureFilter::FilterDecoded(const AVCodecContext* pCtx, AVFrame* pFrame) {
  if (!Fit(pCtx, *pFrame) || m_pFrame == nullptr) return nullptr;
  return m_graph.Filter(pFrame, m_pFrame.get()) ? m_pFrame.get() : nullptr;
}

FramePtr PictureFilter::FilterForEncoder(const AVCodecContext* pCtx, AVFrame* pFrame) {
  // A Reset to another source size or layout leaves a graph made for the old pictures.
  if (!Fit(pCtx, *pFrame)) return nullptr;
  FramePtr pFiltered(av_frame_alloc());
  if (pFiltered == nullptr || !m_graph.Filter(pFrame, pFiltered.get())) return nullptr;
  return pFiltered;
}

}  // namespace codec_interface
