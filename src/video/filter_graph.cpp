// The optional filter graph: the caller's filtergraph text between a "buffer" source fed with
// the codec's pictures and a "buffersink" they are pulled from.
#include "video/ffmpeg_video_codec.h"

#include <cstdio>

#include "interface/log.h"

namespace codec_interface {

namespace {

// The buffer source's description of the pictures: unset time bases fall back to 1/25.
std::string BufferSourceArgs(const AVCodecContext* pCtx, int nWidth, int nHeight,
                             AVPixelFormat eFormat) {
  const AVRational stTimeBase = pCtx != nullptr ? pCtx->time_base : AVRational{0, 1};
  const AVRational stAspect = pCtx != nullptr ? pCtx->sample_aspect_ratio : AVRational{0, 1};
  char szArgs[256];
  std::snprintf(szArgs, sizeof szArgs,
                "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", nWidth, nHeight,
                static_cast<int>(eFormat), stTimeBase.num == 0 ? 1 : stTimeBase.num,
                stTimeBase.den == 1 ? 25 : stTimeBase.den, stAspect.num, stAspect.den);
  return szArgs;
}

}  // namespace

int CFFMpegVideoCodec::InitFilter(AVCodecContext* pCtx, int nWidth, int nHeight,
                                  AVPixelFormat eFormat, const char* pFilterDesc) {
  FreeFilterGraph();
  const std::string strArgs = BufferSourceArgs(pCtx, nWidth, nHeight, eFormat);
  m_pFilterGraph = avfilter_graph_alloc();
  if (m_pFilterGraph == nullptr) return -1;

  int nRet = avfilter_graph_create_filter(&m_pBufferSrcCtx, avfilter_get_by_name("buffer"), "in",
                                          strArgs.c_str(), nullptr, m_pFilterGraph);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_graph_create_filter for src avfilter failed：[%s]",
              AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }
  nRet = avfilter_graph_create_filter(&m_pBufferSinkCtx, avfilter_get_by_name("buffersink"),
                                      "out", nullptr, nullptr, m_pFilterGraph);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_graph_create_filter for sink avfilter failed：[%s]",
              AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }
  nRet = avfilter_graph_parse2(m_pFilterGraph, pFilterDesc, &m_pFilterInputs, &m_pFilterOutputs);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_graph_parse2 for [%s] failed：[%s]", pFilterDesc,
              AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }
  // A description without an open input or output (a source or sink of its own) cannot be
  // linked: reported as a failed link.
  nRet = m_pFilterInputs == nullptr
             ? AVERROR(EINVAL)
             : avfilter_link(m_pBufferSrcCtx, 0, m_pFilterInputs->filter_ctx,
                             static_cast<unsigned>(m_pFilterInputs->pad_idx));
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_link filter input failed：[%s]",
              AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }
  nRet = m_pFilterOutputs == nullptr
             ? AVERROR(EINVAL)
             : avfilter_link(m_pFilterOutputs->filter_ctx,
                             static_cast<unsigned>(m_pFilterOutputs->pad_idx), m_pBufferSinkCtx,
                             0);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_link filter output failed：[%s]",
              AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }
  nRet = avfilter_graph_config(m_pFilterGraph, nullptr);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "[CODE]avfilter_graph_config failed：[%s]", AvErrorText(nRet).c_str());
    FreeFilterGraph();
    return -1;
  }

  if (m_pFilterFrame == nullptr) {
    m_pFilterFrame = av_frame_alloc();
  } else {
    av_frame_unref(m_pFilterFrame);
  }
  if (m_pFilterFrame == nullptr) {
    FreeFilterGraph();
    return -1;
  }
  return 0;
}

AVFrame* CFFMpegVideoCodec::FilterDecodeFrame(AVFrame* pFrame) {
  if (!m_strFilterDesc.empty() && m_pFilterGraph == nullptr) {
    if (InitFilter(m_pCodecCtx, pFrame->width, pFrame->height,
                   static_cast<AVPixelFormat>(pFrame->format), m_strFilterDesc.c_str()) != 0) {
      CODEC_LOG(kLogError, "[CODE]InitFilter failed");
      return nullptr;
    }
  }
  if (m_pFilterGraph == nullptr || m_pFilterFrame == nullptr) return nullptr;

  // The source takes over the picture's references: after a successful push pFrame is empty,
  // and a failed pull leaves the caller nothing to hand out for this picture.
  if (av_buffersrc_add_frame(m_pBufferSrcCtx, pFrame) < 0) {
    CODEC_LOG(kLogError, "[CODE]av_buffersrc_add_frame failed");
    return nullptr;
  }
  if (av_buffersink_get_frame(m_pBufferSinkCtx, m_pFilterFrame) < 0) {
    CODEC_LOG(kLogError, "[CODE]av_buffersink_get_frame failed");
    return nullptr;
  }
  return m_pFilterFrame;
}

AVFrame* CFFMpegVideoCodec::FilterEncodeFrame(AVFrame* pFrame) {
  if (m_pFilterGraph == nullptr) return nullptr;
  FramePtr pFiltered(av_frame_alloc());
  if (pFiltered == nullptr) return nullptr;
  if (av_buffersrc_add_frame(m_pBufferSrcCtx, pFrame) < 0) {
    CODEC_LOG(kLogError, "[CODE]av_buffersrc_add_frame failed");
    return nullptr;
  }
  if (av_buffersink_get_frame(m_pBufferSinkCtx, pFiltered.get()) < 0) {
    CODEC_LOG(kLogError, "[CODE]av_buffersink_get_frame failed");
    return nullptr;
  }
  return pFiltered.release();
}

void CFFMpegVideoCodec::FreeFilterGraph() {
  avfilter_inout_free(&m_pFilterInputs);
  avfilter_inout_free(&m_pFilterOutputs);
  avfilter_graph_free(&m_pFilterGraph);
  m_pBufferSrcCtx = nullptr;
  m_pBufferSinkCtx = nullptr;
}

}  // namespace codec_interface
