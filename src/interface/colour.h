// The colour matrix and range of pictures: followed by the scaler when a stream declares them,
// and declared by encoders for the conversion they make.
#pragma once

#include "interface/av_ptr.h"

namespace codec_interface {

// What a picture declares; both unspecified for an untagged one.
struct ColourTags {
  AVColorSpace eMatrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange eRange = AVCOL_RANGE_UNSPECIFIED;
  bool operator==(const ColourTags&) const = default;
};

inline ColourTags TagsOf(const AVFrame& picture) {
  return {picture.colorspace, picture.color_range};
}

// Sets the converter from eSrc to eDst for pictures with these tags: their matrix (BT.601 when
// none is declared) and range (the layout's own when none is declared); a YUV result keeps the
// matrix and takes its layout's range. 0, or a negative result of libswscale.
int ApplyColourTags(SwsContext* pCtx, const ColourTags& tags, AVPixelFormat eSrc,
                    AVPixelFormat eDst);

// The tags of a picture converted into eDst from one with these tags.
ColourTags ConvertedTags(const ColourTags& tags, AVPixelFormat eDst);

// How a host says its YUV pictures are coloured; all unspecified for untagged ones.
struct ColourDescription {
  AVColorSpace eMatrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange eRange = AVCOL_RANGE_UNSPECIFIED;
  AVColorPrimaries ePrimaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic eTransfer = AVCOL_TRC_UNSPECIFIED;
};

// An encoder that converts RGB pictures into YUV declares the conversion libswscale makes
// (BT.601, the encoder layout's range) so that players show the host's colours; YUV input
// declares what the host described.
void TagEncoderColour(AVCodecContext* pCtx, AVPixelFormat eSource,
                      const ColourDescription& described);

}  // namespace codec_interface
