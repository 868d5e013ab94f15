// Hardware device contexts and surface formats of the video decoder.
#include <cstring>
#include <string>

#include "base/sps_parse.h"
#include "base/system.h"
#include "interface/log.h"
#include "video/codec_table.h"
#include "video/ffmpeg_video_codec.h"
#include "video/hw_device_rules.h"

namespace codec_interface {

namespace {

// Builds the D3D11VA surface pool on the context's device and gives it to the context.
bool BuildD3D11SurfacePool(AVCodecContext* pCtx) {
  BufferRefPtr frames(av_hwframe_ctx_alloc(pCtx->hw_device_ctx));
  if (frames == nullptr) return false;
  FillD3D11SurfacePool(*reinterpret_cast<AVHWFramesContext*>(frames->data), pCtx->width,
                       pCtx->height);
  if (av_hwframe_ctx_init(frames.get()) < 0) return false;
  av_buffer_unref(&pCtx->hw_frames_ctx);
  pCtx->hw_frames_ctx = frames.release();
  return true;
}

// The context keeps its own reference to the device; the caller keeps (and releases) theirs.
bool AttachDevice(AVCodecContext* pCtx, AVBufferRef* pDevice) {
  return av_buffer_replace(&pCtx->hw_device_ctx, pDevice) >= 0;
}

}  // namespace

int CFFMpegVideoCodec::hw_decoder_init(AVBufferRef** ppDeviceRef, void** ppNative,
                                       AVHWDeviceType eType, int nCommandQueueCount,
                                       unsigned int nAdapterIndex) {
  AvOptions options;
  if (eType == AV_HWDEVICE_TYPE_D3D12VA) {
    av_dict_set_int(options.Slot(), "command_queue_count", CommandQueueCountFor(nCommandQueueCount),
                    AV_DICT_MATCH_CASE);
  }
  const std::string device = HwDeviceString(eType, nAdapterIndex);
  const int ret = av_hwdevice_ctx_create(ppDeviceRef, eType,
                                         device.empty() ? nullptr : device.c_str(),
                                         options.Get(), 0);
  if (ret < 0) {
    CODEC_LOG(kLogError, "[CODE]av_hwdevice_ctx_create failed:%s", AvErrorText(ret).c_str());
    return ret;
  }
  if (ppNative != nullptr) {
    *ppNative = reinterpret_cast<AVHWDeviceContext*>((*ppDeviceRef)->data)->hwctx;
  }
  return ret;
}

bool CFFMpegVideoCodec::GetHwPixelFormat(const AVCodec* pCodec, AVHWDeviceType eType,
                                         AVPixelFormat* pHwPixFmt) {
  for (int i = 0;; ++i) {
    const AVCodecHWConfig* config = avcodec_get_hw_config(pCodec, i);
    if (config == nullptr) break;
    CODEC_LOG(kLogDebug, "[CODE]hw[%d]", static_cast<int>(config->device_type));
    if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) &&
        config->device_type == eType) {
      *pHwPixFmt = config->pix_fmt;
      return true;
    }
  }
  CODEC_LOG(kLogError, "[CODE]avcodec_get_hw_config failed");
  return false;
}

AVPixelFormat CFFMpegVideoCodec::GetHwFormat(AVCodecContext* pCtx,
                                              const AVPixelFormat* pFormats) {
  if (pCtx == nullptr || pCtx->hw_device_ctx == nullptr) return AV_PIX_FMT_NONE;
  const auto* device = reinterpret_cast<const AVHWDeviceContext*>(pCtx->hw_device_ctx->data);
  const AVPixelFormat chosen = PickHwSurfaceFormat(device->type, pFormats);
  if (chosen != AV_PIX_FMT_D3D11) return chosen;
  return BuildD3D11SurfacePool(pCtx) ? AV_PIX_FMT_D3D11 : AV_PIX_FMT_NONE;
}

int CFFMpegVideoCodec::InitMediaCodec(const uint8_t* pData, int nSize, AVCodecContext* pCtx) {
  const int extradataSize = MediaCodecExtradataSize(pData, nSize);
  if (extradataSize < 0) return -1;

  // The parser's verdict is not needed: a size it could not read stays 0 x 0 and the decoder
  // refuses to open.
  base::h264_sps_data sps{};
  base::CSpsParse::H264DecodeSeqParameterSet(pData, static_cast<unsigned int>(nSize), sps);
  pCtx->width = sps.width;
  pCtx->height = sps.height;
  CODEC_LOG(kLogInfo, "[CODE]mediacodec get size[%d*%d]", sps.width, sps.height);
  pCtx->thread_count = base::GetCpuCount();
  pCtx->pix_fmt = m_eHwPixFmt;

  AvBytesPtr extradata(
      static_cast<uint8_t*>(av_malloc(static_cast<size_t>(extradataSize) +
                                      AV_INPUT_BUFFER_PADDING_SIZE)));
  if (extradata == nullptr) return -1;
  std::memcpy(extradata.get(), pData, static_cast<size_t>(extradataSize));
  std::memset(extradata.get() + extradataSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  av_freep(&pCtx->extradata);
  pCtx->extradata = extradata.release();
  pCtx->extradata_size = extradataSize;

  if (m_pHwDeviceRef != nullptr) return AttachDevice(pCtx, m_pHwDeviceRef.get()) ? 0 : -1;
  AVBufferRef* created = nullptr;
  if (hw_decoder_init(&created, nullptr, AV_HWDEVICE_TYPE_MEDIACODEC, m_nCommandQueueCount,
                      m_nDeviceIndex) < 0) {
    CODEC_LOG(kLogError, "[CODE]hw_decoder_init failed");
    return -1;
  }
  const BufferRefPtr device(created);
  return AttachDevice(pCtx, device.get()) ? 0 : -1;
}

void* ICodecInterface::CreateVideoHwDeviceCtx(CodecType eCodecType,
                                              unsigned int nCommandQueueCount,
                                              unsigned int nAdapterIndex, void** ppNativeDevice) {
  if (!MakesDeviceWithCodec(eCodecType)) return nullptr;
  AVBufferRef* device = nullptr;
  // A count beyond INT_MAX wraps negative and so takes the default, like any other bad count.
  if (CFFMpegVideoCodec::hw_decoder_init(&device, ppNativeDevice, VideoHwDeviceType(eCodecType),
                                         static_cast<int>(nCommandQueueCount),
                                         nAdapterIndex) < 0) {
    CODEC_LOG(kLogError, "[CODE]%s hw_decoder_create failed",
              "codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx");
    return nullptr;
  }
  return device;
}

void ICodecInterface::ReleaseVideoHwDeviceCtx(void** ppHwDeviceCtx) {
  if (ppHwDeviceCtx == nullptr || *ppHwDeviceCtx == nullptr) return;
  // The host's reference, released here.
  const BufferRefPtr device(static_cast<AVBufferRef*>(*ppHwDeviceCtx));
  *ppHwDeviceCtx = nullptr;
  CODEC_LOG(kLogDebug, "[CODE]hw_device_ctx [%d]", av_buffer_get_ref_count(device.get()));
}

}  // namespace codec_interface
