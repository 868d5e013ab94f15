// Hardware devices of the video decoders, and the host's own devices made through
// ICodecInterface.
#include "video/hw_device.h"

#include <string>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "interface/log.h"
#include "video/hw_device_rules.h"
#include "video/hw_family_table.h"

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

}  // namespace

int CreateHwDevice(AVBufferRef** ppDeviceRef, void** ppNative, AVHWDeviceType eType,
                   int nCommandQueueCount, unsigned int nAdapterIndex) {
  AvOptions options;
  if (eType == AV_HWDEVICE_TYPE_D3D12VA) {
    av_dict_set_int(options.Slot(), "command_queue_count", CommandQueueCountFor(nCommandQueueCount),
                    AV_DICT_MATCH_CASE);
  }
  const std::string device = HwDeviceString(eType, nAdapterIndex);
  const int ret = av_hwdevice_ctx_create(
      ppDeviceRef, eType, device.empty() ? nullptr : device.c_str(), options.Get(), 0);
  if (ret < 0) {
    CODEC_LOG(kLogError, "av_hwdevice_ctx_create failed:%s", AvErrorText(ret).c_str());
    return ret;
  }
  if (ppNative != nullptr) {
    *ppNative = reinterpret_cast<AVHWDeviceContext*>((*ppDeviceRef)->data)->hwctx;
  }
  return ret;
}

AVPixelFormat PickD3D11Surfaces(AVCodecContext* pCtx, const AVPixelFormat* pFormats) {
  if (pCtx == nullptr || pCtx->hw_device_ctx == nullptr) return AV_PIX_FMT_NONE;
  const auto* device = reinterpret_cast<const AVHWDeviceContext*>(pCtx->hw_device_ctx->data);
  const AVPixelFormat chosen = PickHwSurfaceFormat(device->type, pFormats);
  if (chosen != AV_PIX_FMT_D3D11) return chosen;
  return BuildD3D11SurfacePool(pCtx) ? AV_PIX_FMT_D3D11 : AV_PIX_FMT_NONE;
}

void* ICodecInterface::CreateVideoHwDeviceCtx(CodecType eCodecType, unsigned int nCommandQueueCount,
                                              unsigned int nAdapterIndex, void** ppNativeDevice) {
  const HwFamily* family = HwFamilyOfCodec(eCodecType);
  if (family == nullptr || !family->bDeviceWithCodec) return nullptr;
  AVBufferRef* device = nullptr;
  // A count beyond INT_MAX wraps negative and so takes the default, like any other bad count.
  if (CreateHwDevice(&device, ppNativeDevice, family->eDevice, static_cast<int>(nCommandQueueCount),
                     nAdapterIndex) < 0) {
    // Hosts grep for this line as it names the function of an earlier build.
    CODEC_LOG(kLogError, "%s hw_decoder_create failed",
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
  CODEC_LOG(kLogDebug, "hw_device_ctx [%d]", av_buffer_get_ref_count(device.get()));
}

}  // namespace codec_interface
