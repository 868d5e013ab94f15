#include "interface/pixel_formats.h"

namespace codec_interface {

namespace {

struct PixelFormatPair {
  PixelFormat ePublic;
  AVPixelFormat eAv;
  bool bMemory;
};

constexpr PixelFormatPair kPixelFormats[] = {
    {PIX_FMT_NONE, AV_PIX_FMT_NONE, false},
    {PIX_FMT_BGRA, AV_PIX_FMT_BGRA, true},
    {PIX_FMT_RGB24, AV_PIX_FMT_RGB24, true},
    {PIX_FMT_RGBA, AV_PIX_FMT_RGBA, true},
    {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, true},
    {PIX_FMT_NV12, AV_PIX_FMT_NV12, true},
    {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P, true},
    {PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422, true},
    {PIX_FMT_DXVA2, AV_PIX_FMT_DXVA2_VLD, false},
    {PIX_FMT_D3D12VA, AV_PIX_FMT_D3D12, false},
    {PIX_FMT_D3D11VA, AV_PIX_FMT_D3D11, false},
    {PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_VIDEOTOOLBOX, false},
};

// The pair whose field holds the format; null when none does.
template <class Format>
const PixelFormatPair* Find(Format PixelFormatPair::*field, Format eFormat) {
  for (const PixelFormatPair& pair : kPixelFormats) {
    if (pair.*field == eFormat) return &pair;
  }
  return nullptr;
}

const PixelFormatPair* FindPublic(PixelFormat eFormat) {
  return Find(&PixelFormatPair::ePublic, eFormat);
}

const PixelFormatPair* FindAv(AVPixelFormat eFormat) {
  return Find(&PixelFormatPair::eAv, eFormat);
}

}  // namespace

bool PixelFormatToAv(PixelFormat eFormat, AVPixelFormat* pOut) {
  const PixelFormatPair* pair = FindPublic(eFormat);
  if (pair == nullptr) return false;
  *pOut = pair->eAv;
  return true;
}

PixelFormat AvToPixelFormat(AVPixelFormat eFormat) {
  const PixelFormatPair* pair = FindAv(eFormat);
  return pair != nullptr ? pair->ePublic : PIX_FMT_NONE;
}

bool IsMemoryPixelFormat(PixelFormat eFormat) {
  const PixelFormatPair* pair = FindPublic(eFormat);
  return pair != nullptr && pair->bMemory;
}

bool IsMemoryPixelFormat(AVPixelFormat eFormat) {
  const PixelFormatPair* pair = FindAv(eFormat);
  return pair != nullptr && pair->bMemory;
}

}  // namespace codec_interface
