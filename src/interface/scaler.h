// A scaler shared by the video codecs and the transcoder: the frame it writes into and the
// geometry it was built for.
#pragma once

#include "interface/av_ptr.h"
#include "interface/colour.h"

namespace codec_interface {

struct ScalerGeometry {
  int nSrcWidth;
  int nSrcHeight;
  AVPixelFormat eSrcFormat;
  int nDstWidth;
  int nDstHeight;
  AVPixelFormat eDstFormat;
};

class Scaler {
 public:
  // Builds the converter for this geometry (Lanczos), replacing any earlier one; the next
  // Scale writes into new buffers of the new size and format. 0, or -1 after the
  // "[CODE]sws_getContext failed" line, with no converter left.
  int Init(const ScalerGeometry& geometry);
  // Frees the converter; the destination frame and its last picture stay.
  void Reset() { m_pCtx.reset(); }
  bool Ready() const { return m_pCtx != nullptr; }
  const ScalerGeometry& Geometry() const { return m_stGeometry; }
  // Whether the converter reads pictures of this size and format.
  bool Takes(const AVFrame& src) const {
    return Ready() && src.width == m_stGeometry.nSrcWidth &&
           src.height == m_stGeometry.nSrcHeight && src.format == m_stGeometry.eSrcFormat;
  }

  // Scales a picture into Frame(), whose buffers are reused while nobody else references them;
  // the source is read in place, never copied first. The result carries the source's times,
  // and the colours it has when the source declares any. 0, or a negative FFmpeg error.
  int Scale(const AVFrame* pSrc);
  AVFrame* Frame() const { return m_pFrame.get(); }

  // Scales a picture into the planes of a frame of the caller's; returns the rows written.
  int ScaleInto(const AVFrame& src, AVFrame& dst) const;

  // Reads pictures with src's colour tags from now on (an untagged picture as libswscale
  // does by default); costs a comparison while the tags stay. 0, or libswscale's failure.
  int FollowColour(const AVFrame& src);
  // Declares on a converted picture the colours it has when its source declared any, else
  // none.
  void TagConverted(AVFrame& dst) const;

 private:
  SwsPtr m_pCtx;
  ColourTags m_stColour;  // the tags the converter reads pictures with
  FramePtr m_pFrame;
  ScalerGeometry m_stGeometry{};
};

// Drops a reused frame's buffers while anyone else still references them, so that the next
// write into the frame allocates new ones.
void DetachSharedBuffers(AVFrame* pFrame);

}  // namespace codec_interface
