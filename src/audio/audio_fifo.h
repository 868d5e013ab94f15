// Sample FIFOs that carry PCM between Encode calls.
#pragma once

#include "interface/av_ptr.h"

namespace codec_interface {

// Appends nbSamples samples to fifo, creating it on first use and growing it by exactly the
// shortfall. 0, or -1 after the failing step's line.
int FillAudioFifo(AudioFifoPtr& fifo, AVSampleFormat eFormat, int nChannels, int nbSamples,
                  uint8_t* const* ppPlanes);

}  // namespace codec_interface
