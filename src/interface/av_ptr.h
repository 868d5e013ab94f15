// One owner type per FFmpeg object: nothing else calls a *_free.
#pragma once

#include <memory>
#include <type_traits>

#include "interface/ffmpeg.h"

namespace codec_interface {

template <auto Fn>
struct AvFree {
  template <class T>
  void operator()(T* p) const noexcept {
    if constexpr (std::is_invocable_v<decltype(Fn), T**>) {
      Fn(&p);
    } else {
      Fn(p);
    }
  }
};

template <class T, auto Fn>
using AvPtr = std::unique_ptr<T, AvFree<Fn>>;

using FramePtr = AvPtr<AVFrame, av_frame_free>;
using PacketPtr = AvPtr<AVPacket, av_packet_free>;
using CodecCtxPtr = AvPtr<AVCodecContext, avcodec_free_context>;
using BufferRefPtr = AvPtr<AVBufferRef, av_buffer_unref>;
using SwsPtr = AvPtr<SwsContext, sws_freeContext>;
using SwrPtr = AvPtr<SwrContext, swr_free>;
using FilterGraphPtr = AvPtr<AVFilterGraph, avfilter_graph_free>;
using FilterInOutPtr = AvPtr<AVFilterInOut, avfilter_inout_free>;
using AudioFifoPtr = AvPtr<AVAudioFifo, av_audio_fifo_free>;
using BsfCtxPtr = AvPtr<AVBSFContext, av_bsf_free>;
using BufferPoolPtr = AvPtr<AVBufferPool, av_buffer_pool_uninit>;
// av_malloc'ed bytes: av_freep, never av_free (which would take the owner's own address).
using AvBytesPtr = AvPtr<uint8_t, av_freep>;

struct InputFormatCtxFree {
  void operator()(AVFormatContext* c) const noexcept { avformat_close_input(&c); }
};
using InputFormatCtxPtr = std::unique_ptr<AVFormatContext, InputFormatCtxFree>;

// Whether the output's muxer writes through the context's own file (pb), which its owner closes.
inline bool WritesFile(const AVFormatContext* c) {
  return c->oformat != nullptr && !(c->oformat->flags & AVFMT_NOFILE);
}

struct OutputFormatCtxFree {
  void operator()(AVFormatContext* c) const noexcept {
    if (WritesFile(c)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
using OutputFormatCtxPtr = std::unique_ptr<AVFormatContext, OutputFormatCtxFree>;

// A dictionary of options that frees itself on every path.
class AvOptions {
 public:
  AvOptions() = default;
  AvOptions(const AvOptions&) = delete;
  AvOptions& operator=(const AvOptions&) = delete;
  ~AvOptions() { av_dict_free(&m_pDict); }

  int Set(const char* key, const char* value) { return av_dict_set(&m_pDict, key, value, 0); }
  void Clear() { av_dict_free(&m_pDict); }
  AVDictionary** Slot() { return &m_pDict; }
  AVDictionary* Get() const { return m_pDict; }

 private:
  AVDictionary* m_pDict = nullptr;
};

}  // namespace codec_interface
