// FFmpeg's own decoding and scaling of test streams, the answers our decoder is held to.
#pragma once

#include <vector>

#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

// Decodes each packet with a plain libavcodec send/receive, one thread, and keeps every picture.
std::vector<codec_interface::FramePtr> ReferenceDecode(AVCodecID id,
                                                       const std::vector<Bytes>& packets);

// sws_scale_frame of the picture with SWS_LANCZOS into a new frame.
codec_interface::FramePtr ReferenceScale(const AVFrame* src, int width, int height,
                                         AVPixelFormat format);

// Fails the test unless both pictures have the same size, format and visible pixels.
void ExpectSamePicture(const AVFrame* actual, const AVFrame* expected);

// The visible pixels of a picture, plane after plane, without line padding.
Bytes PictureBytes(const AVFrame* frame);

}  // namespace codec_test
