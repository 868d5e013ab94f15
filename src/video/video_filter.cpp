// The video codec's optional filter graph: an encoder builds it at Init, a decoder from the
// first picture that reaches it; pictures are pushed through it one at a time.
#include "interface/log.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

int CFFMpegVideoCodec::InitFilter(AVCodecContext* pCtx, int nWidth, int nHeight,
                                  AVPixelFormat eFormat, const char* pFilterDesc) {
  if (m_filterGraph.Build(FilterGraph::SourceArgs(pCtx, nWidth, nHeight, eFormat), pFilterDesc) !=
      0) {
    return -1;
  }
  if (m_pFilterFrame == nullptr) {
    m_pFilterFrame.reset(av_frame_alloc());
  } else {
    av_frame_unref(m_pFilterFrame.get());
  }
  if (m_pFilterFrame == nullptr) {
    m_filterGraph.Reset();
    return -1;
  }
  return 0;
}

bool CFFMpegVideoCodec::FitFilterGraph(const AVFrame& picture) {
  const auto format = static_cast<AVPixelFormat>(picture.format);
  if (m_filterGraph.Built() &&
      m_filterGraph.BuiltFor() !=
          FilterGraph::SourceArgs(m_pCodecCtx.get(), picture.width, picture.height, format)) {
    m_filterGraph.Reset();
  }
  if (!m_strFilterDesc.empty() && !m_filterGraph.Built() &&
      InitFilter(m_pCodecCtx.get(), picture.width, picture.height, format,
                 m_strFilterDesc.c_str()) != 0) {
    CODEC_LOG(kLogError, "[CODE]InitFilter failed");
    return false;
  }
  return m_filterGraph.Built();
}

AVFrame* CFFMpegVideoCodec::FilterDecodeFrame(AVFrame* pFrame) {
  if (!FitFilterGraph(*pFrame) || m_pFilterFrame == nullptr) return nullptr;
  // After a successful push pFrame is empty: a failed pull leaves the caller nothing to hand
  // out for this picture.
  return m_filterGraph.Filter(pFrame, m_pFilterFrame.get()) ? m_pFilterFrame.get() : nullptr;
}

FramePtr CFFMpegVideoCodec::FilterEncodeFrame(AVFrame* pFrame) {
  // A Reset to another source size or layout leaves a graph made for the old pictures.
  if (!FitFilterGraph(*pFrame)) return nullptr;
  FramePtr pFiltered(av_frame_alloc());
  if (pFiltered == nullptr || !m_filterGraph.Filter(pFrame, pFiltered.get())) return nullptr;
  return pFiltered;
}

}  // namespace codec_interface
