// The decoder's output size rule.
#pragma once

#include "interface/ffmpeg.h"

namespace codec_interface {

struct PictureSize {
  int nWidth;
  int nHeight;
};

// Size of the decoder's output for a w x h picture asked into W x H: unchanged when W or H is 0,
// W x H without bKeepAspect, else the largest size of the picture's aspect inside W x H, no side
// below one pixel or one chroma sample of the output layout eFormat.
PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect, AVPixelFormat eFormat);

}  // namespace codec_interface
