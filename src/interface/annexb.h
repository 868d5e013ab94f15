// Annex B start codes (00 00 01 and 00 00 00 01) of H.264 and HEVC byte streams.
#pragma once

#include <cstdint>
#include <cstring>

namespace codec_interface {

inline constexpr uint8_t kLongStartCode[] = {0, 0, 0, 1};

// Length of the start code at the front of the bytes: 4, 3, or 0 for none.
inline int LeadingStartCode(const uint8_t* pData, int nSize) {
  if (nSize >= 4 && std::memcmp(pData, kLongStartCode, 4) == 0) return 4;
  if (nSize >= 3 && std::memcmp(pData, kLongStartCode + 1, 3) == 0) return 3;
  return 0;
}

// Position of the next start code of the given length (3 or 4) at or after nFrom; -1 when none
// starts at or before nSize - nLength.
inline int FindStartCode(const uint8_t* pData, int nSize, int nFrom, int nLength) {
  const uint8_t* code = kLongStartCode + (4 - nLength);
  for (int i = nFrom; i <= nSize - nLength; ++i) {
    if (std::memcmp(pData + i, code, static_cast<size_t>(nLength)) == 0) return i;
  }
  return -1;
}

}  // namespace codec_interface
