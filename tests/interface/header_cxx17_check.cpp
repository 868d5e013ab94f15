// Compiled as C++17 with only include/ on the path: the header must need nothing else.
#include "codec_interface.h"

#if __cplusplus != 201703L
#error "this check must be compiled as C++17"
#endif

namespace {
[[maybe_unused]] codec_interface::CodecParam MakeParam() {
  codec_interface::CodecParam param{};
  param.stVideo.ePixelFormat = codec_interface::PIX_FMT_NV12;
  param.stAudio.nDstSampleRate = 48000;
  return param;
}
}  // namespace
