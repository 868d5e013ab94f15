// A filter graph: the caller's filtergraph text between a "buffer" source and a "buffersink".
#pragma once

#include <string>

#include "interface/av_ptr.h"

namespace codec_interface {

class FilterGraph {
 public:
  // The buffer source's description of pictures of this size and format, with the context's
  // time base and sample aspect ratio (an unset time base counts as 1/25).
  static std::string SourceArgs(const AVCodecContext* pCtx, int nWidth, int nHeight,
                                AVPixelFormat eFormat);

  // Builds the graph, replacing any earlier one. 0, or -1 after the failing step's line (debug
  // level), with no graph left.
  int Build(const std::string& strSourceArgs, const char* pFilterDesc);
  void Reset();
  bool Built() const { return m_pFilterGraph != nullptr; }
  // The source description the graph was built from: pictures of another size or format need
  // a new graph.
  const std::string& BuiltFor() const { return m_strSourceArgs; }

  // Pushes a picture in and pulls the filtered one into pOut; false after the failing side's
  // line. The source takes over the picture's references: after a successful push pIn is empty.
  bool Filter(AVFrame* pIn, AVFrame* pOut);

 private:
  int Link(AVFilterInOut* pInputs, AVFilterInOut* pOutputs);

  FilterGraphPtr m_pFilterGraph;
  std::string m_strSourceArgs;
  AVFilterContext* m_pBufferSrcCtx = nullptr;   // owned by m_pFilterGraph
  AVFilterContext* m_pBufferSinkCtx = nullptr;  // owned by m_pFilterGraph
};

}  // namespace codec_interface
