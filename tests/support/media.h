// Test media made in-process with FFmpeg's own encoders (never with this library's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/av_ptr.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

// A synthetic picture: four coloured quadrants with a moving bar, so frames differ.
codec_interface::FramePtr MakeTestPicture(int width, int height, AVPixelFormat format,
                                          int index);

struct EncodedVideo {
  std::vector<Bytes> packets;  // Annex B for H.264/HEVC, one JPEG each for MJPEG
  Bytes extradata;
};

// Opens the named FFmpeg encoder for test pictures: 25 fps, a key frame every 10, no B-frames,
// one thread, the fastest preset; options as for EncodeTestVideo. Fails the current test and
// returns null if the encoder is missing or refuses the settings.
codec_interface::CodecCtxPtr OpenTestVideoEncoder(
    const char* encoder, int width, int height,
    const std::vector<std::pair<std::string, std::string>>& options = {});

// Encodes `frames` test pictures with the named FFmpeg encoder ("libx264", "libx265",
// "mjpeg", ...), flushing at the end so every picture has its packet. Options are given as
// "key=value" pairs to the encoder's dictionary. Fails the current test if the encoder is
// missing or refuses the settings.
EncodedVideo EncodeTestVideo(const char* encoder, int width, int height, int frames,
                             const std::vector<std::pair<std::string, std::string>>& options =
                                 {});

}  // namespace codec_test
