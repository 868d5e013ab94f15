#include "audio/resampler.h"

#include "interface/log.h"

namespace codec_interface {

SwrPtr MakeResampler(const SampleShape& input, const SampleShape& output) {
  SwrContext* created = nullptr;
  const int ret = swr_alloc_set_opts2(&created, output.pLayout, output.eFormat, output.nRate,
                                      input.pLayout, input.eFormat, input.nRate, 0, nullptr);
  SwrPtr swr(created);
  if (ret == AVERROR(ENOMEM) && swr == nullptr) {
    CODEC_LOG(kLogDebug, "Could not allocate resampler context");
    return nullptr;
  }
  // A rejected option shows up as a failed set-up, like a rejection by swr_init.
  if (ret < 0 || swr_init(swr.get()) < 0) {
    CODEC_LOG(kLogDebug, "Failed to initialize the resampling context");
    return nullptr;
  }
  return swr;
}

AudioResampler::AudioResampler(int nDstChannels, int nDstRate, AVSampleFormat eDstFormat)
    : m_nOutRate(nDstRate), m_eOutFormat(eDstFormat) {
  av_channel_layout_default(&m_stOut, nDstChannels);
}

AudioResampler::~AudioResampler() {
  av_channel_layout_uninit(&m_stIn);
  av_channel_layout_uninit(&m_stOut);
}

int AudioResampler::BuildFor(int nChannels, int nRate, AVSampleFormat eFormat) {
  AVChannelLayout input{};
  av_channel_layout_default(&input, nChannels);
  return Build(input, nRate, eFormat);
}

int AudioResampler::Fit(const AVFrame& frame) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const bool unspecified = frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC;
  if (m_pSwr != nullptr && format == m_eInFormat && frame.sample_rate == m_nInRate &&
      frame.ch_layout.nb_channels == m_stIn.nb_channels &&
      (unspecified || av_channel_layout_compare(&frame.ch_layout, &m_stIn) == 0)) {
    return 0;
  }
  if (unspecified) return BuildFor(frame.ch_layout.nb_channels, frame.sample_rate, format);
  AVChannelLayout input{};
  if (av_channel_layout_copy(&input, &frame.ch_layout) < 0) return -1;
  return Build(input, frame.sample_rate, format);
}

int AudioResampler::Build(AVChannelLayout stInput, int nRate, AVSampleFormat eFormat) {
  av_channel_layout_uninit(&m_stIn);
  m_stIn = stInput;
  m_nInRate = nRate;
  m_eInFormat = eFormat;
  m_pSwr = MakeResampler({&m_stIn, nRate, eFormat}, {&m_stOut, m_nOutRate, m_eOutFormat});
  return m_pSwr != nullptr ? 0 : -1;
}

}  // namespace codec_interface
