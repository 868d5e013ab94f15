// Checks on pictures with plain FFmpeg: packing a picture as a caller's buffer, decoding packets
// with libavcodec, filtering with libavfilter and comparing pictures.
#pragma once

#include <vector>

#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

// The picture's planes one after another without row gaps (alignment 1), as a caller of
// Encode passes it.
Bytes PackPicture(const AVFrame* picture);

// Decodes every packet with FFmpeg's decoder for `id` and drains it at the end.
std::vector<codec_interface::FramePtr> DecodePackets(AVCodecID id,
                                                     const std::vector<Bytes>& packets);

// The picture converted to another size and format (bicubic), as plain swscale does it.
codec_interface::FramePtr ConvertPicture(const AVFrame* picture, int width, int height,
                                         AVPixelFormat format);

// Runs one picture through a filter graph built from `description` by plain libavfilter.
codec_interface::FramePtr FilterReference(const char* description, const AVFrame* picture);

// Peak signal-to-noise ratio over all planes of two pictures of one size; the second is
// converted to the first one's format when they differ. Identical pictures give 100.
double Psnr(const AVFrame* a, const AVFrame* b);

// True when both pictures have the same size, format and pixel bytes.
bool SamePixels(const AVFrame* a, const AVFrame* b);

}  // namespace codec_test
