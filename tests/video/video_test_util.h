// Helpers shared by the video codec tests.
#pragma once

#include <cstring>

#include "codec_interface.h"

namespace codec_test {

// A zeroed video record with the fields most tests set.
inline codec_interface::CodecParam VideoParam(
    codec_interface::PixelFormat eFormat = codec_interface::PIX_FMT_NONE, int nDstWidth = 0,
    int nDstHeight = 0) {
  codec_interface::CodecParam param;
  std::memset(&param, 0, sizeof param);
  param.stVideo.ePixelFormat = eFormat;
  param.stVideo.nDstWidth = nDstWidth;
  param.stVideo.nDstHeight = nDstHeight;
  return param;
}

inline codec_interface::VideoEasyParam EasyParam(int nDstWidth, int nDstHeight,
                                                 const char* pFilterDesc = "") {
  codec_interface::VideoEasyParam param;
  std::memset(&param, 0, sizeof param);
  param.nDstWidth = nDstWidth;
  param.nDstHeight = nDstHeight;
  std::strncpy(param.szFilterDesc, pFilterDesc, sizeof param.szFilterDesc - 1);
  return param;
}

}  // namespace codec_test
