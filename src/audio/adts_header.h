// The 7-byte ADTS header (no CRC) before one AAC frame: written for the AAC encoder's packets and
// for the AAC packets the media reader hands out.
#pragma once

#include <cstdint>

namespace codec_interface {

inline constexpr int kAdtsHeaderSize = 7;

struct AdtsFields {
  unsigned nObjectType;     // MPEG-4 audio object type, 1 (Main) to 4 (LTP); 2 is AAC LC
  unsigned nFreqIndex;      // sampling frequency index, 0 to 12
  unsigned nChannelConfig;  // 0 (a program config element in band) to 7
};

// Writes the header of a frame of nFrameLength bytes (header included) into pOut[0..6]; the
// length field keeps only the low 13 bits.
void WriteAdtsHeader(uint8_t* pOut, const AdtsFields& fields, unsigned nFrameLength);

}  // namespace codec_interface
