// Checks on pictures with plain FFmpeg: packing a picture as a caller's buffer, decoding packets
// with libavcodec, filtering with libavfilter and comparing pictures.
#pragma once

#include <span>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

// The picture's planes one after another without row gaps, as a caller of Encode passes it.
Bytes PackPicture(const AVFrame* picture);

// Decodes every packet with FFmpeg's decoder for `id` and drains it at the end.
std::vector<codec_interface::FramePtr> DecodePackets(AVCodecID id,
                                                     const std::vector<Bytes>& packets);

// Runs one picture through a graph built from `description` by plain libavfilter.
codec_interface::FramePtr FilterReference(const char* description, const AVFrame* picture);

// PSNR over all bytes of two pictures; `b` is first scaled to `a`'s size and format (bicubic).
double Psnr(const AVFrame* a, const AVFrame* b);

// True when both pictures have the same size, format and pixel bytes.
bool SamePixels(const AVFrame* a, const AVFrame* b);

// An encoder record at a generous 4 Mbit/s, 25 pictures per second, a key picture every 10.
codec_interface::CodecParam EncoderParam(codec_interface::PixelFormat format, int width,
                                         int height, const char* filter = "");

// What Encode gave for each picture: its results and the packets with their timestamps.
struct EncodeRun {
  std::vector<int> results;
  std::vector<Bytes> packets;
  std::vector<int64_t> pts;
};

// Passes each picture to Encode as a packed buffer; the out-param is cleared after every call.
EncodeRun EncodePictures(codec_interface::ICodecInterface& codec,
                         std::span<const codec_interface::FramePtr> pictures);

}  // namespace codec_test
