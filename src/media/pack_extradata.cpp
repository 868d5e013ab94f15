#include "media/pack_extradata.h"

#include <cstring>

#include "audio/aac_config.h"
#include "interface/av_ptr.h"

namespace codec_interface {

namespace {

constexpr int kOpusHeadSize = 19;
// Opus pre-skip: 3840 samples at 48000 Hz, scaled to the input rate.
constexpr int kPreSkipAt48k = 3840;

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

// Bytes 8 to 18, shared by OpusHead and the MP4 layout.
void PutOpusFields(uint8_t* p, int nSampleRate, int nChannels) {
  p[9] = static_cast<uint8_t>(nChannels);
  PutLe16(p + 10, static_cast<uint32_t>(static_cast<int64_t>(nSampleRate) * kPreSkipAt48k / 48000));
  PutLe32(p + 12, static_cast<uint32_t>(nSampleRate));
  PutLe16(p + 16, 0);
}

// Above two channels Opus needs channel mapping family 1: the stream count, how many of the
// streams are coupled (stereo) and which decoded channel each output channel takes, in Vorbis
// channel order. These are libopus's surround layouts, the ones FFmpeg's libopus encoder (the
// library's Opus encoder) sets up for these counts.
struct OpusFamily1 {
  uint8_t nStreams;
  uint8_t nCoupled;
  uint8_t byMapping[8];
};
constexpr OpusFamily1 kOpusFamily1[8] = {
    {1, 0, {0}},
    {1, 1, {0, 1}},
    {2, 1, {0, 2, 1}},
    {2, 2, {0, 1, 2, 3}},
    {3, 2, {0, 4, 1, 2, 3}},
    {4, 2, {0, 4, 1, 2, 3, 5}},
    {4, 3, {0, 4, 1, 2, 3, 5, 6}},
    {5, 3, {0, 6, 1, 2, 3, 4, 5, 7}},
};

bool NeedsOpusFamily1(int nChannels) { return nChannels > 2 && nChannels <= 8; }

// The identification header's tail from the family byte on (offset 18).
void PutOpusMapping(std::vector<uint8_t>& head, int nChannels) {
  if (!NeedsOpusFamily1(nChannels)) {
    head[18] = 0;
    return;
  }
  const OpusFamily1& family = kOpusFamily1[nChannels - 1];
  head[18] = 1;
  head[19] = family.nStreams;
  head[20] = family.nCoupled;
  std::memcpy(head.data() + 21, family.byMapping, static_cast<size_t>(nChannels));
}

size_t OpusHeadSize(int nChannels) {
  return NeedsOpusFamily1(nChannels) ? 21 + static_cast<size_t>(nChannels) : kOpusHeadSize;
}

}  // namespace

std::vector<uint8_t> MakeOpusHead(int nSampleRate, int nChannels) {
  std::vector<uint8_t> head(OpusHeadSize(nChannels), 0);
  std::memcpy(head.data(), "OpusHead", 8);
  head[8] = 1;
  PutOpusFields(head.data(), nSampleRate, nChannels);
  PutOpusMapping(head, nChannels);
  return head;
}

std::vector<uint8_t> MakeOpusDops(int nSampleRate, int nChannels) {
  std::vector<uint8_t> dops(OpusHeadSize(nChannels), 0);
  const uint8_t kBoxHeader[8] = {0x00, 0x00, 0x00, 0x1D, 'd', 'O', 'p', 's'};
  std::memcpy(dops.data(), kBoxHeader, sizeof kBoxHeader);
  dops[8] = 0;
  PutOpusFields(dops.data(), nSampleRate, nChannels);
  PutOpusMapping(dops, nChannels);
  return dops;
}

std::vector<uint8_t> MakeAacSpecificConfig(int nSampleRate, int nChannels) {
  const int nKnown = AacFrequencyIndex(nSampleRate);
  const int nIndex = nKnown >= 0 ? nKnown : 3;  // 48000
  return {static_cast<uint8_t>(0x10 | (nIndex >> 1)),
          static_cast<uint8_t>(((nIndex & 1) << 7) | (AacChannelConfiguration(nChannels) << 3)), 0};
}

bool SetExtradata(AVCodecParameters* pParams, const uint8_t* pBytes, size_t nSize) {
  AvBytesPtr pData(static_cast<uint8_t*>(av_mallocz(nSize + AV_INPUT_BUFFER_PADDING_SIZE)));
  if (pData == nullptr) return false;
  if (nSize > 0) std::memcpy(pData.get(), pBytes, nSize);
  av_freep(&pParams->extradata);
  pParams->extradata = pData.release();
  pParams->extradata_size = static_cast<int>(nSize);
  return true;
}

}  // namespace codec_interface
