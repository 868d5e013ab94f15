// One video codec context with the hardware device it decodes on: made, re-made for a new
// stream or size, opened and released with the codec's facts.
#pragma once

#include "interface/av_ptr.h"
#include "video/codec_threads.h"
#include "video/video_codec_facts.h"

namespace codec_interface {

class VideoCodecContext {
 public:
  VideoCodecContext(const VideoCodecFacts& facts, int nCommandQueueCount,
                    unsigned int nAdapterIndex, ThreadChoice threads)
      : m_facts(facts),
        m_nCommandQueueCount(nCommandQueueCount),
        m_nAdapterIndex(nAdapterIndex),
        m_threads(threads) {}
  ~VideoCodecContext() { Release(true); }
  VideoCodecContext(const VideoCodecContext&) = delete;
  VideoCodecContext& operator=(const VideoCodecContext&) = delete;

  static constexpr int kDeviceFailed = -2;
  // A new, unopened context, a software decoder's with its threads; a hardware type that makes its
  // device with the codec gets its surface format and device: pNewDevice (a caller's AVBufferRef,
  // which is kept from then on), else the kept one, else a new device. Logs nothing but the
  // device's failure; 0, -1 when the context cannot be allocated, or kDeviceFailed.
  int Create(void* pNewDevice);
  // Frees the context and its device reference; with bLogDeviceRef the device's reference
  // count is logged first.
  void Release(bool bLogDeviceRef);
  int Recreate(bool bLogDeviceRef, void* pNewDevice) {
    Release(bLogDeviceRef);
    return Create(pNewDevice);
  }
  // avcodec_open2 with these options; FFmpeg's result.
  int Open(AvOptions& options) {
    return avcodec_open2(m_pCtx.get(), m_facts.pCodec, options.Slot());
  }

  // A caller's device kept for a decoder that makes its own later (MediaCodec).
  void KeepDevice(void* pHwDeviceCtx);
  void DropDevice() { m_pHwDeviceRef.reset(); }
  // MediaCodec: the picture size and extradata from a packet that starts with the parameter
  // sets, and the device. 0 when the decoder can be opened now.
  int PrepareMediaCodec(const uint8_t* pData, int nSize);

  AVCodecContext* Get() const { return m_pCtx.get(); }
  const VideoCodecFacts& Facts() const { return m_facts; }
  const ThreadChoice& Threads() const { return m_threads; }
  // The context has been told the stream ended; a new context starts a new stream.
  bool Draining() const { return m_bDraining; }
  void SetDraining(bool bDraining) { m_bDraining = bDraining; }

 private:
  int AttachNewDevice(AVHWDeviceType eType);

  const VideoCodecFacts m_facts;
  const int m_nCommandQueueCount;
  const unsigned int m_nAdapterIndex;
  const ThreadChoice m_threads;
  BufferRefPtr m_pHwDeviceRef;  // a caller's device, referenced by every context made
  CodecCtxPtr m_pCtx;
  bool m_bDraining = false;
};

// The packet and the two frames every video session works with; -1 after the line of the
// frame that could not be allocated (a missing packet is refused by the call that needs it).
int AllocateWorkFrames(PacketPtr& packet, FramePtr& picture, FramePtr& temp);

}  // namespace codec_interface
