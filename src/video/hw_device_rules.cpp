#include "video/hw_device_rules.h"

#include "interface/annexb.h"
#include "video/hw_family_table.h"

#if defined(_WIN32) && __has_include(<d3d11.h>)
#define CODEC_HAVE_D3D11_HEADERS 1
extern "C" {
#include <libavutil/hwcontext_d3d11va.h>
}
static_assert(codec_interface::kD3D11SurfaceBindFlags ==
                  (D3D11_BIND_DECODER | D3D11_BIND_SHADER_RESOURCE),
              "D3D11 bind flags");
static_assert(codec_interface::kD3D11SurfaceMiscFlags == D3D11_RESOURCE_MISC_SHARED,
              "D3D11 misc flags");
#endif

namespace codec_interface {

namespace {

constexpr int kDefaultCommandQueueCount = 5;
constexpr int kMaxCommandQueueCount = 50;
constexpr int kMinMediaCodecPacket = 6;
constexpr int kNalTypeSps = 7;

}  // namespace

int CommandQueueCountFor(int nRequested) {
  return (nRequested >= 1 && nRequested <= kMaxCommandQueueCount) ? nRequested
                                                                  : kDefaultCommandQueueCount;
}

std::string HwDeviceString(AVHWDeviceType eType, unsigned int nAdapterIndex) {
  const HwFamily* family = HwFamilyOfDevice(eType);
  if (family != nullptr && family->bAdapterDevice) return std::to_string(nAdapterIndex);
  return std::string();
}

AVPixelFormat PickHwSurfaceFormat(AVHWDeviceType eType, const AVPixelFormat* pOffered) {
  const HwFamily* family = HwFamilyOfDevice(eType);
  if (pOffered == nullptr || family == nullptr) return AV_PIX_FMT_NONE;
  for (const AVPixelFormat* p = pOffered; *p != AV_PIX_FMT_NONE; ++p) {
    if (*p == family->eSurface) return *p;
  }
  return AV_PIX_FMT_NONE;
}

void FillD3D11SurfacePool(AVHWFramesContext& frames, int nWidth, int nHeight) {
  frames.format = AV_PIX_FMT_D3D11;
  frames.sw_format = AV_PIX_FMT_NV12;
  frames.width = nWidth;
  frames.height = nHeight;
  frames.initial_pool_size = kD3D11SurfacePoolSize;
#if defined(CODEC_HAVE_D3D11_HEADERS)
  auto* d3d11 = static_cast<AVD3D11VAFramesContext*>(frames.hwctx);
  d3d11->BindFlags = kD3D11SurfaceBindFlags;
  d3d11->MiscFlags = kD3D11SurfaceMiscFlags;
#endif
}

int MediaCodecExtradataSize(const uint8_t* pData, int nSize) {
  if (pData == nullptr || nSize < kMinMediaCodecPacket) return -1;
  const int codeLength = LeadingStartCode(pData, nSize);
  if (codeLength == 0 || (pData[codeLength] & 0x1F) != kNalTypeSps) return -1;
  const int second = FindStartCode(pData, nSize, codeLength + 1, codeLength);
  if (second < 0) return -1;
  const int third = FindStartCode(pData, nSize, second + codeLength, codeLength);
  return third < 0 ? nSize : third;
}

}  // namespace codec_interface
