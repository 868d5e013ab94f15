#include "media/aac_adts_config.h"

#include <algorithm>
#include <cstring>

namespace codec_interface {

namespace {

// Reads bits most significant first; past the end it gives zeros and remembers the overrun.
class BitReader {
 public:
  BitReader(const uint8_t* pData, int nSize) : m_pData(pData), m_nBits(nSize * 8) {}
  unsigned Read(int nCount) {
    unsigned value = 0;
    for (int i = 0; i < nCount; ++i, ++m_nPos) {
      const unsigned bit = m_nPos < m_nBits ? (m_pData[m_nPos / 8] >> (7 - m_nPos % 8)) & 1 : 0;
      value = (value << 1) | bit;
    }
    return value;
  }
  void Align() { m_nPos = (m_nPos + 7) / 8 * 8; }
  bool Overrun() const { return m_nPos > m_nBits; }

 private:
  const uint8_t* m_pData;
  int m_nBits;
  int m_nPos = 0;
};

class BitWriter {
 public:
  void Write(unsigned nValue, int nCount) {
    for (int i = nCount - 1; i >= 0; --i, ++m_nPos) {
      if (m_nPos % 8 == 0) m_vecBytes.push_back(0);
      m_vecBytes.back() |= static_cast<uint8_t>(((nValue >> i) & 1) << (7 - m_nPos % 8));
    }
  }
  void Align() { m_nPos = (m_nPos + 7) / 8 * 8; }
  std::vector<uint8_t> Take() { return std::move(m_vecBytes); }

 private:
  std::vector<uint8_t> m_vecBytes;
  int m_nPos = 0;
};

unsigned ObjectType(BitReader& in) {
  const unsigned type = in.Read(5);
  return type == 31 ? 32 + in.Read(6) : type;
}

// Copies a program config element field by field; the element id goes first.
std::vector<uint8_t> CopyPce(BitReader& in) {
  BitWriter out;
  out.Write(5, 3);  // ID_PCE
  auto copy = [&](int nBits) {
    const unsigned value = in.Read(nBits);
    out.Write(value, nBits);
    return value;
  };
  copy(10);  // element tag, object type, sampling frequency index
  unsigned fiveBit = copy(4) + copy(4) + copy(4);  // front, side, back elements
  const unsigned fourBit = copy(2) + copy(3);      // LFE and data elements
  fiveBit += copy(4);                              // coupling elements
  if (copy(1) != 0) copy(4);                       // mono mixdown
  if (copy(1) != 0) copy(4);                       // stereo mixdown
  if (copy(1) != 0) copy(3);                       // matrix mixdown
  for (unsigned bits = fiveBit * 5 + fourBit * 4; bits > 0;) {
    const int chunk = bits > 16 ? 16 : static_cast<int>(bits);
    copy(chunk);
    bits -= static_cast<unsigned>(chunk);
  }
  // Both sides align on their own start: the ADTS frame's payload starts on a byte.
  out.Align();
  in.Align();
  for (unsigned comment = copy(8); comment > 0; --comment) copy(8);
  return out.Take();
}

}  // namespace

const char* ParseAacAdtsConfig(const uint8_t* pAsc, int nSize, AacAdtsConfig* pConfig) {
  BitReader in(pAsc, nSize);
  unsigned type = ObjectType(in);
  unsigned index = in.Read(4);
  if (index == 15) return "an explicit sampling rate";
  const unsigned channels = in.Read(4);
  if (type == 5 || type == 29) {
    // Explicit SBR or PS: ADTS carries the core's type and rate; the decoder finds SBR itself.
    if (in.Read(4) == 15) return "an explicit sampling rate";
    type = ObjectType(in);
  }
  if (type < 1 || type > 4) return "an object type other than AAC Main, LC, SSR or LTP";
  if (in.Read(1) != 0) return "960-sample frames";
  if (in.Read(1) != 0) return "a core coder";
  if (in.Read(1) != 0) return "the extension flag";
  AacAdtsConfig config;
  config.stFields = {type, index, channels};
  if (channels == 0) config.vecPce = CopyPce(in);
  if (in.Overrun()) return "a configuration cut short";
  if (channels > 7) return "a channel configuration above 7";
  *pConfig = std::move(config);
  return nullptr;
}

bool FrameAacAsAdts(const AacAdtsConfig& config, const uint8_t* pFrame, int nSize,
                    std::vector<uint8_t>* pOut) {
  const size_t length = kAdtsHeaderSize + config.vecPce.size() + static_cast<size_t>(nSize);
  if (length > 0x1FFF) return false;
  pOut->resize(length);
  WriteAdtsHeader(pOut->data(), config.stFields, static_cast<unsigned>(length));
  std::copy(config.vecPce.begin(), config.vecPce.end(), pOut->begin() + kAdtsHeaderSize);
  if (nSize > 0) std::memcpy(pOut->data() + kAdtsHeaderSize + config.vecPce.size(), pFrame, nSize);
  return true;
}

}  // namespace codec_interface
