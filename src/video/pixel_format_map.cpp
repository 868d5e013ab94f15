#include "video/pixel_format_map.h"

namespace codec_interface {

namespace {

struct FormatPair {
  PixelFormat ePublic;
  AVPixelFormat eAv;
};

constexpr FormatPair kFormatPairs[] = {
    {PIX_FMT_BGRA, AV_PIX_FMT_BGRA},
    {PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
    {PIX_FMT_RGBA, AV_PIX_FMT_RGBA},
    {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
    {PIX_FMT_NV12, AV_PIX_FMT_NV12},
    {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P},
    {PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422},
    {PIX_FMT_DXVA2, AV_PIX_FMT_DXVA2_VLD},
    {PIX_FMT_D3D12VA, AV_PIX_FMT_D3D12},
    {PIX_FMT_D3D11VA, AV_PIX_FMT_D3D11},
    {PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_VIDEOTOOLBOX},
};

}  // namespace

AVPixelFormat ToAvPixelFormat(PixelFormat eFormat) {
  for (const FormatPair& pair : kFormatPairs) {
    if (pair.ePublic == eFormat) return pair.eAv;
  }
  return AV_PIX_FMT_NONE;
}

PixelFormat FromAvPixelFormat(AVPixelFormat eFormat) {
  for (const FormatPair& pair : kFormatPairs) {
    if (pair.eAv == eFormat) return pair.ePublic;
  }
  return PIX_FMT_NONE;
}

}  // namespace codec_interface
