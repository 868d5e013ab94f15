#include "video/filter_graph.h"

#include <cstdio>

#include "interface/log.h"

namespace codec_interface {

std::string FilterGraph::SourceArgs(const AVCodecContext* pCtx, int nWidth, int nHeight,
                                    AVPixelFormat eFormat) {
  AVRational stTimeBase = pCtx != nullptr ? pCtx->time_base : AVRational{0, 1};
  // A decoder given timed packets hands out pictures with times in the packets' unit.
  if (pCtx != nullptr && pCtx->pkt_timebase.num > 0 && av_codec_is_decoder(pCtx->codec) != 0) {
    stTimeBase = pCtx->pkt_timebase;
  }
  const AVRational stAspect = pCtx != nullptr ? pCtx->sample_aspect_ratio : AVRational{0, 1};
  char szArgs[256];
  std::snprintf(szArgs, sizeof szArgs,
                "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", nWidth, nHeight,
                static_cast<int>(eFormat), stTimeBase.num == 0 ? 1 : stTimeBase.num,
                stTimeBase.den == 1 ? 25 : stTimeBase.den, stAspect.num, stAspect.den);
  return szArgs;
}

int FilterGraph::Build(const std::string& strSourceArgs, const char* pFilterDesc) {
  Reset();
  m_pFilterGraph.reset(avfilter_graph_alloc());
  if (m_pFilterGraph == nullptr) return -1;
  AVFilterGraph* graph = m_pFilterGraph.get();
  int nRet = avfilter_graph_create_filter(&m_pBufferSrcCtx, avfilter_get_by_name("buffer"), "in",
                                          strSourceArgs.c_str(), nullptr, graph);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_graph_create_filter for src avfilter failed：[%s]",
              AvErrorText(nRet).c_str());
    Reset();
    return -1;
  }
  nRet = avfilter_graph_create_filter(&m_pBufferSinkCtx, avfilter_get_by_name("buffersink"), "out",
                                      nullptr, nullptr, graph);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_graph_create_filter for sink avfilter failed：[%s]",
              AvErrorText(nRet).c_str());
    Reset();
    return -1;
  }
  AVFilterInOut* inputs = nullptr;
  AVFilterInOut* outputs = nullptr;
  nRet = avfilter_graph_parse2(graph, pFilterDesc, &inputs, &outputs);
  const FilterInOutPtr pInputs(inputs);
  const FilterInOutPtr pOutputs(outputs);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_graph_parse2 for [%s] failed：[%s]", pFilterDesc,
              AvErrorText(nRet).c_str());
    Reset();
    return -1;
  }
  if (Link(inputs, outputs) != 0) {
    Reset();
    return -1;
  }
  nRet = avfilter_graph_config(graph, nullptr);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_graph_config failed：[%s]", AvErrorText(nRet).c_str());
    Reset();
    return -1;
  }
  m_strSourceArgs = strSourceArgs;
  return 0;
}

// The source feeds the first open input, the first open output feeds the sink. A description
// without an open input or output (a source or sink of its own) cannot be linked: reported as
// a failed link.
int FilterGraph::Link(AVFilterInOut* pInputs, AVFilterInOut* pOutputs) {
  int nRet = pInputs == nullptr ? AVERROR(EINVAL)
                                : avfilter_link(m_pBufferSrcCtx, 0, pInputs->filter_ctx,
                                                static_cast<unsigned>(pInputs->pad_idx));
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_link filter input failed：[%s]", AvErrorText(nRet).c_str());
    return -1;
  }
  nRet = pOutputs == nullptr
             ? AVERROR(EINVAL)
             : avfilter_link(pOutputs->filter_ctx, static_cast<unsigned>(pOutputs->pad_idx),
                             m_pBufferSinkCtx, 0);
  if (nRet < 0) {
    CODEC_LOG(kLogDebug, "avfilter_link filter output failed：[%s]", AvErrorText(nRet).c_str());
    return -1;
  }
  return 0;
}

bool FilterGraph::Filter(AVFrame* pIn, AVFrame* pOut) {
  if (av_buffersrc_add_frame(m_pBufferSrcCtx, pIn) < 0) {
    CODEC_LOG(kLogError, "av_buffersrc_add_frame failed");
    return false;
  }
  if (av_buffersink_get_frame(m_pBufferSinkCtx, pOut) < 0) {
    CODEC_LOG(kLogError, "av_buffersink_get_frame failed");
    return false;
  }
  return true;
}

void FilterGraph::Reset() {
  m_pFilterGraph.reset();
  m_pBufferSrcCtx = nullptr;
  m_pBufferSinkCtx = nullptr;
  m_strSourceArgs.clear();
}

}  // namespace codec_interface
