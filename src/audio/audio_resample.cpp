// The resampler between the host's PCM and the codec's, shared by encoding and decoding, and
// the encoder's conversion of host PCM through it.
#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"

namespace codec_interface {

int CFFMpegAudioCodec::SwrResamplingInit(AVSampleFormat eInputFormat) {
  AVChannelLayout input{};
  av_channel_layout_default(&input, m_nSrcChannels);
  return BuildResampler(input, m_nSrcSampleRate, eInputFormat);
}

int CFFMpegAudioCodec::SwrResamplingInit(const AVFrame& frame) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const bool unspecified = frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC;
  if (m_pSwrCtx != nullptr && format == m_eSwrInFormat && frame.sample_rate == m_nSwrInRate &&
      frame.ch_layout.nb_channels == m_stSrcChLayout.nb_channels &&
      (unspecified || av_channel_layout_compare(&frame.ch_layout, &m_stSrcChLayout) == 0)) {
    return 0;
  }
  AVChannelLayout input{};
  if (unspecified) {
    av_channel_layout_default(&input, frame.ch_layout.nb_channels);
  } else if (av_channel_layout_copy(&input, &frame.ch_layout) < 0) {
    return -1;
  }
  return BuildResampler(input, frame.sample_rate, format);
}

// Takes over stInput. On failure no resampler is left, so the next frame tries again.
int CFFMpegAudioCodec::BuildResampler(AVChannelLayout stInput, int nInputRate,
                                      AVSampleFormat eInputFormat) {
  av_channel_layout_uninit(&m_stSrcChLayout);
  m_stSrcChLayout = stInput;
  m_nSwrInRate = nInputRate;
  m_eSwrInFormat = eInputFormat;
  av_channel_layout_uninit(&m_stDstChLayout);
  av_channel_layout_default(&m_stDstChLayout, m_nDstChannels);

  m_pSwrCtx.reset(swr_alloc());
  if (m_pSwrCtx == nullptr) {
    CODEC_LOG(kLogDebug, "[CODE]Could not allocate resampler context");
    return -1;
  }
  SwrContext* swr = m_pSwrCtx.get();
  av_opt_set_chlayout(swr, "in_chlayout", &m_stSrcChLayout, 0);
  av_opt_set_int(swr, "in_sample_rate", nInputRate, 0);
  av_opt_set_sample_fmt(swr, "in_sample_fmt", eInputFormat, 0);
  av_opt_set_chlayout(swr, "out_chlayout", &m_stDstChLayout, 0);
  av_opt_set_int(swr, "out_sample_rate", m_nDstSampleRate, 0);
  av_opt_set_sample_fmt(swr, "out_sample_fmt", m_eDstSampleFormat, 0);
  if (swr_init(swr) < 0) {
    CODEC_LOG(kLogDebug, "[CODE]Failed to initialize the resampling context");
    m_pSwrCtx.reset();
    return -1;
  }
  return 0;
}

int CFFMpegAudioCodec::PrepareSwrFrame(int nSamples) {
  if (m_pSwrFrame != nullptr && m_nSwrOutSamples >= nSamples) return 0;
  // Room for every sample this frame can yield, what the resampler holds back included, so
  // nothing piles up inside it.
  m_pSwrFrame.reset();
  m_nSwrOutSamples = 0;
  FramePtr frame(av_frame_alloc());
  if (frame == nullptr) return -1;
  frame->nb_samples = nSamples;
  frame->format = m_eDstSampleFormat;
  frame->sample_rate = m_nDstSampleRate;
  if (av_channel_layout_copy(&frame->ch_layout, &m_stDstChLayout) < 0 ||
      av_frame_get_buffer(frame.get(), 0) < 0) {
    return -1;
  }
  m_pSwrFrame = std::move(frame);
  m_nSwrOutSamples = nSamples;
  return 0;
}

int CFFMpegAudioCodec::ConvertSamples(uint8_t* pChunk, int nbSamples, uint8_t** ppPlanes) {
  if (m_pSwrCtx == nullptr) {
    ppPlanes[0] = pChunk;
    return nbSamples;
  }
  const int capacity = static_cast<int>(
      av_rescale_rnd(nbSamples, m_nDstSampleRate, m_nSrcSampleRate, AV_ROUND_UP));
  const int bytes =
      av_samples_get_buffer_size(nullptr, m_nDstChannels, capacity, m_eDstSampleFormat, 1);
  if (bytes < 0 || m_nDstChannels > kMaxPlanes) return -1;
  // resize keeps the storage, so steady-state calls do not allocate.
  m_vecSwrBuffer.resize(static_cast<size_t>(bytes));
  uint8_t* base = m_vecSwrBuffer.data();
  if (av_sample_fmt_is_planar(m_eDstSampleFormat) != 0) {
    const int planeBytes = bytes / m_nDstChannels;
    for (int c = 0; c < m_nDstChannels; ++c) ppPlanes[c] = base + c * planeBytes;
  } else {
    ppPlanes[0] = base;
  }
  const uint8_t* source[1] = {pChunk};
  const int converted = swr_convert(m_pSwrCtx.get(), ppPlanes, capacity, source, nbSamples);
  if (converted < 0) {
    CODEC_LOG(kLogError, "[CODE]swr_convert failed");
    return -1;
  }
  return converted;
}

}  // namespace codec_interface
