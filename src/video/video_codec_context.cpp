// The video codec context and its hardware device.
#include "video/video_codec_context.h"

#include <cstring>

#include "base/sps_parse.h"
#include "base/system.h"
#include "interface/log.h"
#include "video/hw_device.h"
#include "video/hw_device_rules.h"

namespace codec_interface {

int VideoCodecContext::Create(void* pNewDevice) {
  m_pCtx.reset(avcodec_alloc_context3(m_facts.pCodec));
  if (m_pCtx == nullptr) return -1;
  // Hardware decoders keep their own settings; encoders take theirs with their options.
  if (m_facts.bDecoder && m_facts.pHw == nullptr) ApplyDecoderThreads(m_threads, m_pCtx.get());
  if (!m_facts.MakesDeviceWithCodec()) return 0;
  m_pCtx->pix_fmt = m_facts.eHwPixFmt;
  if (pNewDevice != nullptr) KeepDevice(pNewDevice);
  if (m_pHwDeviceRef != nullptr) {
    m_pCtx->hw_device_ctx = av_buffer_ref(m_pHwDeviceRef.get());
    return 0;
  }
  return AttachNewDevice(m_facts.Device()) == 0 ? 0 : kDeviceFailed;
}

// The context holds the only reference to a device made for it.
int VideoCodecContext::AttachNewDevice(AVHWDeviceType eType) {
  AVBufferRef* created = nullptr;
  if (CreateHwDevice(&created, nullptr, eType, m_nCommandQueueCount, m_nAdapterIndex) < 0) {
    return -1;
  }
  const BufferRefPtr device(created);
  return av_buffer_replace(&m_pCtx->hw_device_ctx, device.get()) >= 0 ? 0 : -1;
}

void VideoCodecContext::Release(bool bLogDeviceRef) {
  m_bDraining = false;
  if (m_pCtx == nullptr) return;
  if (m_pCtx->hw_device_ctx != nullptr && bLogDeviceRef) {
    CODEC_LOG(kLogDebug, "hw_device_ctx [%d]", av_buffer_get_ref_count(m_pCtx->hw_device_ctx));
  }
  m_pCtx.reset();  // releases the context's device reference and extradata with it
}

void VideoCodecContext::KeepDevice(void* pHwDeviceCtx) {
  m_pHwDeviceRef.reset(av_buffer_ref(static_cast<AVBufferRef*>(pHwDeviceCtx)));
}

int VideoCodecContext::PrepareMediaCodec(const uint8_t* pData, int nSize) {
  AVCodecContext* ctx = m_pCtx.get();
  const int extradataSize = MediaCodecExtradataSize(pData, nSize);
  if (extradataSize < 0) return -1;

  // The parser's verdict is not needed: a size it could not read stays 0 x 0 and the decoder
  // refuses to open.
  base::h264_sps_data sps{};
  base::CSpsParse::H264DecodeSeqParameterSet(pData, static_cast<unsigned int>(nSize), sps);
  ctx->width = sps.width;
  ctx->height = sps.height;
  CODEC_LOG(kLogInfo, "mediacodec get size[%d*%d]", sps.width, sps.height);
  ctx->thread_count = base::GetCpuCount();
  ctx->pix_fmt = m_facts.eHwPixFmt;

  AvBytesPtr extradata(static_cast<uint8_t*>(
      av_malloc(static_cast<size_t>(extradataSize) + AV_INPUT_BUFFER_PADDING_SIZE)));
  if (extradata == nullptr) return -1;
  std::memcpy(extradata.get(), pData, static_cast<size_t>(extradataSize));
  std::memset(extradata.get() + extradataSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  av_freep(&ctx->extradata);
  ctx->extradata = extradata.release();
  ctx->extradata_size = extradataSize;

  // The context keeps its own reference to a caller's device; the caller keeps theirs.
  if (m_pHwDeviceRef != nullptr) {
    return av_buffer_replace(&ctx->hw_device_ctx, m_pHwDeviceRef.get()) >= 0 ? 0 : -1;
  }
  if (AttachNewDevice(AV_HWDEVICE_TYPE_MEDIACODEC) != 0) {
    CODEC_LOG(kLogError, "hw_decoder_init failed");
    return -1;
  }
  return 0;
}

int AllocateWorkFrames(PacketPtr& packet, FramePtr& picture, FramePtr& temp) {
  packet.reset(av_packet_alloc());
  picture.reset(av_frame_alloc());
  if (picture == nullptr) {
    CODEC_LOG(kLogDebug, "Could not allocate video frame");
    return -1;
  }
  temp.reset(av_frame_alloc());
  if (temp == nullptr) {
    CODEC_LOG(kLogDebug, "Could not allocate temp video frame");
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
