#include "audio/decoded_frames.h"

namespace codec_interface {

namespace {

bool SameShape(const AVFrame* a, const AVFrame* b) {
  return a->format == b->format && a->nb_samples == b->nb_samples &&
         a->sample_rate == b->sample_rate && a->ch_layout.nb_channels == b->ch_layout.nb_channels &&
         a->ch_layout.order == b->ch_layout.order;
}

}  // namespace

AVFrame* DecodedFrames::Slot(int nIndex) {
  if (nIndex < 0) return nullptr;
  const auto index = static_cast<size_t>(nIndex);
  if (index >= m_vecFrames.size()) m_vecFrames.resize(index + 1);
  if (m_vecFrames[index] == nullptr) m_vecFrames[index].reset(av_frame_alloc());
  return m_vecFrames[index].get();
}

int DecodedFrames::HandOver(int nIndex, AVFrame* pDecoded) {
  AVFrame* frame = Slot(nIndex);
  if (frame == nullptr) return -1;
  av_frame_unref(frame);
  av_frame_move_ref(frame, pDecoded);
  return 0;
}

int DecodedFrames::GetFrameBuffer(AVFrame* pFrame) {
  const auto format = static_cast<AVSampleFormat>(pFrame->format);
  const int channels = pFrame->ch_layout.nb_channels;
  // Plane pointers beyond the frame's own array need an allocation of their own anyway.
  if (av_sample_fmt_is_planar(format) != 0 && channels > AV_NUM_DATA_POINTERS) {
    return av_frame_get_buffer(pFrame, 0);
  }
  const int size = av_samples_get_buffer_size(nullptr, channels, pFrame->nb_samples, format, 0);
  if (size < 0) return size;
  if (m_pPool == nullptr || m_nPoolSize != size) {
    m_pPool.reset(av_buffer_pool_init(static_cast<size_t>(size), nullptr));
    m_nPoolSize = m_pPool != nullptr ? size : 0;
    if (m_pPool == nullptr) return AVERROR(ENOMEM);
  }
  // One buffer holds every plane, laid out as av_frame_get_buffer would.
  pFrame->buf[0] = av_buffer_pool_get(m_pPool.get());
  if (pFrame->buf[0] == nullptr) return AVERROR(ENOMEM);
  pFrame->extended_data = pFrame->data;
  return av_samples_fill_arrays(pFrame->data, &pFrame->linesize[0], pFrame->buf[0]->data, channels,
                                pFrame->nb_samples, format, 0);
}

int DecodedFrames::CopyWithReuse(int nIndex, const AVFrame* pSource) {
  AVFrame* frame = Slot(nIndex);
  if (frame == nullptr) return -1;
  // A buffer that a host's owning entry still references is left to that entry: writing into
  // it would change samples the host was given earlier.
  const bool reuse =
      frame->buf[0] != nullptr && SameShape(frame, pSource) && av_frame_is_writable(frame) != 0;
  if (!reuse) {
    av_frame_unref(frame);
    frame->nb_samples = pSource->nb_samples;
    frame->format = pSource->format;
    frame->sample_rate = pSource->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &pSource->ch_layout) < 0 ||
        GetFrameBuffer(frame) < 0) {
      av_frame_unref(frame);
      return -1;
    }
  }
  return av_frame_copy(frame, pSource) < 0 ? -1 : 0;
}

}  // namespace codec_interface
