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

// The NAL unit type in the first byte of a unit's header: 5 bits in H.264, 6 after the forbidden
// bit in HEVC.
inline int NalUnitType(uint8_t header, bool bHevc) {
  return bHevc ? (header >> 1) & 0x3F : header & 0x1F;
}

// Whether an Annex B access unit carries its sequence parameter set (H.264 NAL type 7, HEVC 33)
// ahead of its first slice.
inline bool CarriesSequenceParameters(const uint8_t* pData, int nSize, bool bHevc) {
  for (int i = FindStartCode(pData, nSize, 0, 3); i >= 0 && i + 3 < nSize;
       i = FindStartCode(pData, nSize, i + 3, 3)) {
    const int type = NalUnitType(pData[i + 3], bHevc);
    if (type == (bHevc ? 33 : 7)) return true;
    if (bHevc ? type < 32 : (type >= 1 && type <= 5)) return false;  // a slice
  }
  return false;
}

}  // namespace codec_interface
