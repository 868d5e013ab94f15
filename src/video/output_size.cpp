#include "video/output_size.h"

#include <algorithm>
#include <cstdint>

namespace codec_interface {

namespace {

// A fitted side that rounds to nothing would make every picture fail: it keeps at least one
// pixel, and a whole chroma sample where the layout subsamples that direction.
int FittedSide(int64_t nSide, int nLog2Chroma) {
  return static_cast<int>(std::max<int64_t>(nSide, int64_t{1} << nLog2Chroma));
}

}  // namespace

PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect, AVPixelFormat eFormat) {
  if (W == 0 || H == 0) return {w, h};
  if (!bKeepAspect) return {W, H};
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(eFormat);
  const int nLog2W = desc != nullptr ? desc->log2_chroma_w : 0;
  const int nLog2H = desc != nullptr ? desc->log2_chroma_h : 0;
  // 64-bit products: the same result as 32-bit ones wherever those do not overflow.
  switch (av_cmp_q(AVRational{w, h}, AVRational{W, H})) {
    case 1:
      return {W, FittedSide(static_cast<int64_t>(h) * W / w, nLog2H)};
    case -1:
      return {FittedSide(static_cast<int64_t>(w) * H / h, nLog2W), H};
    default:  // same aspect, or both undefined
      return {W, H};
  }
}

}  // namespace codec_interface
