// The codec headers the audio packer declares on its stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecParameters;

namespace codec_interface {

// Opus identification header as Ogg carries it: "OpusHead", version 1, channel count, pre-skip,
// input rate, gain 0, mapping family 0 for one or two channels; above that family 1 with the
// stream count, coupled count and channel mapping of the Opus encoder's surround layout (Vorbis
// channel order), which is what readers need to decode more than two channels.
std::vector<uint8_t> MakeOpusHead(int nSampleRate, int nChannels);

// The same fields laid out for MP4: the "dOps" box header (length always written as 0x1D)
// followed by version 0 and the fields at the offsets OpusHead has them, which is where
// FFmpeg's MP4 muxer reads them; the same family and mapping.
std::vector<uint8_t> MakeOpusDops(int nSampleRate, int nChannels);

// AAC-LC AudioSpecificConfig, 3 bytes. A rate outside the MPEG-4 table is written as 48000. The
// channel field is the MPEG-4 channel configuration: 1 to 6 for as many channels, 7 for 8.
std::vector<uint8_t> MakeAacSpecificConfig(int nSampleRate, int nChannels);

// Replaces the stream's extradata with a zero-padded copy of the bytes, as FFmpeg's readers
// expect. False when memory runs out (the old extradata is then kept).
bool SetExtradata(AVCodecParameters* pParams, const uint8_t* pBytes, size_t nSize);

}  // namespace codec_interface
