#include "interface/colour.h"

namespace codec_interface {

namespace {

bool IsRgb(AVPixelFormat eFormat) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(eFormat);
  return desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

// The JPEG layouts are full range by definition.
bool FullRangeLayout(AVPixelFormat eFormat) {
  return eFormat == AV_PIX_FMT_YUVJ420P || eFormat == AV_PIX_FMT_YUVJ422P ||
         eFormat == AV_PIX_FMT_YUVJ444P || eFormat == AV_PIX_FMT_YUVJ440P ||
         eFormat == AV_PIX_FMT_YUVJ411P;
}

bool FullRange(AVColorRange eRange, AVPixelFormat eFormat) {
  if (eRange == AVCOL_RANGE_UNSPECIFIED) return IsRgb(eFormat) || FullRangeLayout(eFormat);
  return eRange == AVCOL_RANGE_JPEG;
}

}  // namespace

int ApplyColourTags(SwsContext* pCtx, const ColourTags& tags, AVPixelFormat eSrc,
                    AVPixelFormat eDst) {
  // libswscale's table is indexed by FFmpeg's matrix values, unknown ones giving BT.601.
  const int* pMatrix = sws_getCoefficients(tags.eMatrix);
  const int nSrcFull = FullRange(tags.eRange, eSrc) ? 1 : 0;
  const int nDstFull = FullRange(AVCOL_RANGE_UNSPECIFIED, eDst) ? 1 : 0;
  return sws_setColorspaceDetails(pCtx, pMatrix, nSrcFull, pMatrix, nDstFull, 0, 1 << 16, 1 << 16);
}

ColourTags ConvertedTags(const ColourTags& tags, AVPixelFormat eDst) {
  if (IsRgb(eDst)) return {AVCOL_SPC_RGB, AVCOL_RANGE_JPEG};
  return {tags.eMatrix, FullRangeLayout(eDst) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG};
}

void TagEncoderColour(AVCodecContext* pCtx, AVPixelFormat eSource,
                      const ColourDescription& described) {
  const auto eTarget = static_cast<AVPixelFormat>(pCtx->pix_fmt);
  if (IsRgb(eTarget)) return;
  if (!IsRgb(eSource)) {
    pCtx->colorspace = described.eMatrix;
    pCtx->color_range = described.eRange;
    pCtx->color_primaries = described.ePrimaries;
    pCtx->color_trc = described.eTransfer;
    return;
  }
  pCtx->colorspace = AVCOL_SPC_BT470BG;
  pCtx->color_range = FullRangeLayout(eTarget) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

}  // namespace codec_interface
