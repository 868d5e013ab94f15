// The MPEG-4 audio configuration numbers of an AAC stream: its channel configuration and its
// sampling frequency index.
#pragma once

#include <iterator>

namespace codec_interface {

// 1 to 6 channels are configurations 1 to 6; configuration 7 is the eight channels of 7.1. Any
// other count has no configuration (0), which readers accept only with a program config
// element.
constexpr int AacChannelConfiguration(int nChannels) {
  if (nChannels >= 1 && nChannels <= 6) return nChannels;
  return nChannels == 8 ? 7 : 0;
}

// The sampling frequency index of a rate (ISO/IEC 14496-3); -1 for a rate without one.
constexpr int AacFrequencyIndex(int nSampleRate) {
  constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                            22050, 16000, 12000, 11025, 8000,  7350};
  for (int i = 0; i < static_cast<int>(std::size(kRates)); ++i) {
    if (kRates[i] == nSampleRate) return i;
  }
  return -1;
}

}  // namespace codec_interface
