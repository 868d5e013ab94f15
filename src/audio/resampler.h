// Sample conversion between channel layouts, rates and formats: the one set-up of a libswresample
// context, and the codecs' resampler that remembers the input it was built for.
#pragma once

#include "interface/av_ptr.h"

namespace codec_interface {

struct SampleShape {
  const AVChannelLayout* pLayout;
  int nRate;
  AVSampleFormat eFormat;
};

// A ready resampler from one shape to another; null after the "[CODE]Could not allocate
// resampler context" or "[CODE]Failed to initialize the resampling context" line (debug).
SwrPtr MakeResampler(const SampleShape& input, const SampleShape& output);

class AudioResampler {
 public:
  // Output of nDstChannels in their default layout, at nDstRate in eDstFormat.
  AudioResampler(int nDstChannels, int nDstRate, AVSampleFormat eDstFormat);
  ~AudioResampler();
  AudioResampler(const AudioResampler&) = delete;
  AudioResampler& operator=(const AudioResampler&) = delete;

  // Built for nChannels in their default layout at nRate in eFormat. 0, or -1 after the line
  // with no resampler left.
  int BuildFor(int nChannels, int nRate, AVSampleFormat eFormat);
  // Built for the layout, rate and format the frame really has (a stream may differ from what
  // the host declared, or change midway); kept while frames match it.
  int Fit(const AVFrame& frame);

  SwrContext* Get() const { return m_pSwr.get(); }
  const AVChannelLayout& OutLayout() const { return m_stOut; }

 private:
  // Takes over stInput. On failure no resampler is left, so the next frame tries again.
  int Build(AVChannelLayout stInput, int nRate, AVSampleFormat eFormat);

  SwrPtr m_pSwr;
  AVChannelLayout m_stIn{};
  int m_nInRate = 0;
  AVSampleFormat m_eInFormat = AV_SAMPLE_FMT_NONE;
  AVChannelLayout m_stOut{};
  const int m_nOutRate;
  const AVSampleFormat m_eOutFormat;
};

}  // namespace codec_interface
