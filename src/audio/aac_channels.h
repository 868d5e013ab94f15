// The MPEG-4 channel configuration of an AAC stream with a given channel count.
#pragma once

namespace codec_interface {

// 1 to 6 channels are configurations 1 to 6; configuration 7 is the eight channels of 7.1. Any
// other count has no configuration (0), which readers accept only with a program config
// element.
constexpr int AacChannelConfiguration(int nChannels) {
  if (nChannels >= 1 && nChannels <= 6) return nChannels;
  return nChannels == 8 ? 7 : 0;
}

}  // namespace codec_interface
