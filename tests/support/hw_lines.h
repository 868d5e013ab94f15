// What a hardware decoder's Init logs on a machine without the device, as this FFmpeg build
// leads it: a debug line per configuration FFmpeg offers, up to the device's; then no usable
// configuration (a build without the family), or the device failing as FFmpeg says it does.
#pragma once

#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/media.h"

namespace codec_test {

inline std::vector<LogLine> HwInitLines(AVCodecID codec, const char* device) {
  const AVHWDeviceType type = av_hwdevice_find_type_by_name(device);
  std::vector<LogLine> lines;
  for (int i = 0;; ++i) {
    const AVCodecHWConfig* config = avcodec_get_hw_config(avcodec_find_decoder(codec), i);
    if (config == nullptr) return lines.push_back({60, "[CODE]avcodec_get_hw_config failed"}), lines;
    lines.push_back({0, "[CODE]hw[" + std::to_string(config->device_type) + "]"});
    if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) && config->device_type == type) break;
  }
  AVBufferRef* ref = nullptr;
  const int err = av_hwdevice_ctx_create(&ref, type, nullptr, nullptr, 0);
  av_buffer_unref(&ref);
  lines.insert(lines.end(), {{60, "[CODE]av_hwdevice_ctx_create failed:" + ErrorText(err)},
                             {60, "[CODE]hw_decoder_init failed"}, {0, "[CODE]video codec uninit"}});
  return lines;
}

}  // namespace codec_test
