// The public SampleFormat against FFmpeg's AVSampleFormat.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"

namespace codec_interface {

// The public formats are FFmpeg's packed ones under the same numbers; any other value means
// none.
inline AVSampleFormat SampleFormatToAv(SampleFormat eFormat) {
  static_assert(SAMPLE_FMT_U8 == static_cast<int>(AV_SAMPLE_FMT_U8) &&
                    SAMPLE_FMT_S16 == static_cast<int>(AV_SAMPLE_FMT_S16) &&
                    SAMPLE_FMT_S32 == static_cast<int>(AV_SAMPLE_FMT_S32) &&
                    SAMPLE_FMT_FLT == static_cast<int>(AV_SAMPLE_FMT_FLT) &&
                    SAMPLE_FMT_DBL == static_cast<int>(AV_SAMPLE_FMT_DBL),
                "the public sample formats carry FFmpeg's numbers");
  if (eFormat >= SAMPLE_FMT_U8 && eFormat <= SAMPLE_FMT_DBL) {
    return static_cast<AVSampleFormat>(eFormat);
  }
  return AV_SAMPLE_FMT_NONE;
}

}  // namespace codec_interface
