// What an ADTS header needs from an AAC stream's AudioSpecificConfig, and the framing of one raw
// AAC frame with it.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/adts_header.h"

namespace codec_interface {

struct AacAdtsConfig {
  AdtsFields stFields{};
  // Channel configuration 0: the program config element (its element id first, byte-aligned)
  // that goes in band after every header, as FFmpeg's ADTS muxer puts it.
  std::vector<uint8_t> vecPce;
};

// Reads the AudioSpecificConfig into *pConfig. Returns null, or the reason ADTS cannot carry
// the configuration (an object type other than 1 to 4, an explicit sampling rate, 960-sample
// frames, a core coder, the extension flag, a config cut short).
const char* ParseAacAdtsConfig(const uint8_t* pAsc, int nSize, AacAdtsConfig* pConfig);

// Whether the bytes start with an ADTS frame's sync word.
inline bool StartsWithAdtsSync(const uint8_t* pData, int nSize) {
  return nSize >= 2 && pData[0] == 0xFF && (pData[1] & 0xF0) == 0xF0;
}

// pOut receives header, program config element and the frame; false when it is too long for
// the 13-bit length field.
bool FrameAacAsAdts(const AacAdtsConfig& config, const uint8_t* pFrame, int nSize,
                    std::vector<uint8_t>* pOut);

}  // namespace codec_interface
