// The video codec's optional filter: the caller's filtergraph text and the graph built from it
// for the pictures that reach it. An encoder builds it at Init, a decoder from the first
// picture; pictures of another size or format get a new graph.
#pragma once

#include <string>
#include <utility>

#include "interface/av_ptr.h"
#include "video/filter_graph.h"

namespace codec_interface {

class PictureFilter {
 public:
  const std::string& Description() const { return m_strDesc; }
  // A new text: the next picture that reaches the filter builds the graph again from it.
  void Describe(std::string strDesc) {
    m_graph.Reset();
    m_strDesc = std::move(strDesc);
  }
  // Builds the graph for pictures of this size and format. 0, or -1 with no graph.
  int Build(const AVCodecContext* pCtx, int nWidth, int nHeight, AVPixelFormat eFormat);

  // The decoder's picture through the graph: the filtered picture, owned by the filter until
  // the next one, or null when there is no graph or nothing came out. After a successful push
  // pFrame is empty.
  AVFrame* FilterDecoded(const AVCodecContext* pCtx, AVFrame* pFrame);
  // The encoder's input through the graph into a new frame; null after a failure.
  FramePtr FilterForEncoder(const AVCodecContext* pCtx, AVFrame* pFrame);

 private:
  // A graph built for this picture's size and format, rebuilt when it was built for others;
  // false when there is none (after the "[CODE]InitFilter failed" line when building failed).
  bool Fit(const AVCodecContext* pCtx, const AVFrame& picture);

  std::string m_strDesc;
  FilterGraph m_graph;
  FramePtr m_pFrame;  // the decoder's filtered picture
};

}  // namespace codec_interface
