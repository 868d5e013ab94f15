// Quality figures from decoding a result back: PSNR for pictures, SNR for sound.
#pragma once

#include <cstdint>
#include <vector>

#include "audio_codec.h"
#include "video_codec.h"

namespace codec_tool {

// Accumulates the squared error of picture pairs of the same layout; PSNR over all of them.
class PsnrMeter {
 public:
  void Add(const Bytes& reference, const Bytes& decoded);
  double Decibels() const;  // 0 when nothing was added, 99 for identical pictures
  long Pictures() const { return m_nPictures; }

 private:
  double m_dSquaredError = 0;
  double m_dSamples = 0;
  long m_nPictures = 0;
};

// SNR of decoded sound against its source at the same rate. The decoded sound may start late
// by the codec's delay (found by searching up to `maxDelay` samples) and may be one channel
// of a two-channel source (compared with the source's mix). Only the stretch both cover
// counts.
double SoundSnr(const Pcm& source, const Pcm& decoded, int maxDelay);

}  // namespace codec_tool
