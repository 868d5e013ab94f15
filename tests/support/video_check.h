// Checks on pictures with plain FFmpeg: packing a picture as a caller's buffer, decoding packets
// with libavcodec, filtering with libavfilter and comparing pictures.
#pragma once

#include <span>
#include <vector>

#include "codec_interface.h"
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

// Test pictures number first, first + 1, ... (see MakeTestPicture).
std::vector<codec_interface::FramePtr> TestPictures(AVPixelFormat format, int width, int height,
                                                    int count, int first = 0);

// An encoder record for pictures of this layout and size at a generous 4 Mbit/s, 25 pictures
// per second, a key picture every 10, with an optional filter description.
codec_interface::CodecParam EncoderParam(codec_interface::PixelFormat format, int width,
                                         int height, const char* filter = "");

// What Encode gave for each picture: its results and the packets with their timestamps.
struct EncodeRun {
  std::vector<int> results;
  std::vector<Bytes> packets;
  std::vector<int64_t> pts;
};

// Passes each picture to Encode as a packed buffer, with an out-param of these flags that is
// cleared after every call.
EncodeRun EncodePictures(codec_interface::ICodecInterface& codec,
                         std::span<const codec_interface::FramePtr> pictures, int flags = 0);

}  // namespace codec_test
