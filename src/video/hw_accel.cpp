// Hardware device contexts and surface formats of the video decoder.
#include <cstdio>

#include "interface/log.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

namespace {

constexpr int kDefaultCommandQueueCount = 5;

bool TakesAdapterIndex(AVHWDeviceType type) {
  return type == AV_HWDEVICE_TYPE_DXVA2 || type == AV_HWDEVICE_TYPE_D3D11VA ||
         type == AV_HWDEVICE_TYPE_D3D12VA;
}

}  // namespace

int CFFMpegVideoCodec::hw_decoder_init(AVBufferRef** ppDeviceRef, void** ppNative,
                                       AVHWDeviceType eType, int nCommandQueueCount,
                                       unsigned int nAdapterIndex) {
  AvOptions options;
  if (eType == AV_HWDEVICE_TYPE_D3D12VA) {
    const int count = (nCommandQueueCount >= 1 && nCommandQueueCount <= 50)
                          ? nCommandQueueCount
                          : kDefaultCommandQueueCount;
    av_dict_set_int(options.Slot(), "command_queue_count", count, AV_DICT_MATCH_CASE);
  }
  char device[16];
  std::snprintf(device, sizeof device, "%u", nAdapterIndex);
  const int ret = av_hwdevice_ctx_create(ppDeviceRef, eType,
                                         TakesAdapterIndex(eType) ? device : nullptr,
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

// Placeholders until hardware acceleration lands.
AVPixelFormat CFFMpegVideoCodec::GetHwFormat(AVCodecContext*, const AVPixelFormat*) {
  return AV_PIX_FMT_NONE;
}
int CFFMpegVideoCodec::InitMediaCodec(const uint8_t*, int, AVCodecContext*) { return -1; }

void* ICodecInterface::CreateVideoHwDeviceCtx(CodecType, unsigned int, unsigned int, void**) {
  return nullptr;
}
void ICodecInterface::ReleaseVideoHwDeviceCtx(void**) {}

}  // namespace codec_interface
