// The codec headers the audio packer declares on its stream.
#pragma once

#include <cstdint>
#include <vector>

namespace codec_interface {

// Opus identification header as Ogg carries it: "OpusHead", version 1, channel count, pre-skip,
// input rate, gain 0, mapping family 0 (also for more than two channels).
std::vector<uint8_t> MakeOpusHead(int nSampleRate, int nChannels);

// The same fields laid out for MP4: the "dOps" box header (length always written as 0x1D)
// followed by version 0 and the fields at the offsets OpusHead has them, which is where
// FFmpeg's MP4 muxer reads them. Above two channels: family 1, one stream per channel, none
// coupled, an all-zero mapping.
std::vector<uint8_t> MakeOpusDops(int nSampleRate, int nChannels);

// AAC-LC AudioSpecificConfig, 3 bytes. A rate outside the MPEG-4 table is written as 48000. The
// channel field takes the low 4 bits of the count as given, so 8 channels are written as 8.
std::vector<uint8_t> MakeAacSpecificConfig(int nSampleRate, int nChannels);

}  // namespace codec_interface
