// The public PixelFormat against FFmpeg's AVPixelFormat, and the decoder's output size rule.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"

namespace codec_interface {

// Maps PIX_FMT_NONE .. PIX_FMT_VIDEOTOOLBOX (0 to 11); false for any other value, which
// leaves *pOut as it was.
bool PixelFormatToAv(PixelFormat eFormat, AVPixelFormat* pOut);

// The way back over the same pairs; PIX_FMT_NONE for any other format.
PixelFormat AvToPixelFormat(AVPixelFormat eFormat);

struct PictureSize {
  int nWidth;
  int nHeight;
};

// Size of the decoder's output for a w x h picture asked into W x H: unchanged when W or H is 0,
// W x H without bKeepAspect, else the largest size of the picture's aspect inside W x H.
PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect);

}  // namespace codec_interface
