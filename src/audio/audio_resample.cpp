// The resampler between the host's PCM and the codec's, shared by encoding and decoding, and
// the encoder's conversion of host PCM through it.
#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"

namespace codec_interface {

int CFFMpegAudioCodec::SwrResamplingInit(AVSampleFormat eInputFormat) {
  // The work frame's size decides the output capacity; read it before anything changes.
  const int nbSamples = m_pAudioFrame->nb_samples;

  m_pSwrCtx.reset(swr_alloc());
  if (m_pSwrCtx == nullptr) {
    CODEC_LOG(kLogDebug, "[CODE]Could not allocate resampler context");
    return -1;
  }
  av_channel_layout_uninit(&m_stSrcChLayout);
  av_channel_layout_uninit(&m_stDstChLayout);
  av_channel_layout_default(&m_stSrcChLayout, m_nSrcChannels);
  av_channel_layout_default(&m_stDstChLayout, m_nDstChannels);

  // Rate and layout come from the configuration; only the input format follows the frames.
  SwrContext* swr = m_pSwrCtx.get();
  av_opt_set_chlayout(swr, "in_chlayout", &m_stSrcChLayout, 0);
  av_opt_set_int(swr, "in_sample_rate", m_nSrcSampleRate, 0);
  av_opt_set_sample_fmt(swr, "in_sample_fmt", eInputFormat, 0);
  av_opt_set_chlayout(swr, "out_chlayout", &m_stDstChLayout, 0);
  av_opt_set_int(swr, "out_sample_rate", m_nDstSampleRate, 0);
  av_opt_set_sample_fmt(swr, "out_sample_fmt", m_eDstSampleFormat, 0);
  if (swr_init(swr) < 0) {
    CODEC_LOG(kLogDebug, "[CODE]Failed to initialize the resampling context");
    return -1;
  }

  m_pSwrFrame.reset();
  m_nSwrOutSamples = static_cast<int>(
      av_rescale_rnd(nbSamples, m_nDstSampleRate, m_nSrcSampleRate, AV_ROUND_UP));
  FramePtr frame(av_frame_alloc());
  if (frame == nullptr) return 0;
  frame->nb_samples = m_nSwrOutSamples;
  frame->format = m_eDstSampleFormat;
  av_channel_layout_copy(&frame->ch_layout, &m_stDstChLayout);
  frame->sample_rate = m_nDstSampleRate;
  // A frame without buffers is not kept: Decode then reports the missing frame instead of
  // converting into nothing.
  if (av_frame_get_buffer(frame.get(), 0) == 0) m_pSwrFrame = std::move(frame);
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
