// Device-independent rules of hardware decoding: how a device is named and configured, which
// surface format a decoder is given, how the D3D11VA surface pool looks, and where a MediaCodec
// decoder's extradata ends. Plain functions, so they are the same (and testable) on every
// platform.
#pragma once

#include <string>

#include "interface/ffmpeg.h"

namespace codec_interface {

// D3D11_BIND_DECODER | D3D11_BIND_SHADER_RESOURCE and D3D11_RESOURCE_MISC_SHARED: decoded
// textures are usable as shader resources and shareable with other devices.
inline constexpr unsigned int kD3D11SurfaceBindFlags = 520;
inline constexpr unsigned int kD3D11SurfaceMiscFlags = 2;
inline constexpr int kD3D11SurfacePoolSize = 20;

// The D3D12VA "command_queue_count": the requested count when it is 1 to 50, else 5.
int CommandQueueCountFor(int nRequested);

// The device string av_hwdevice_ctx_create gets: the adapter index in decimal for DXVA2,
// D3D11VA and D3D12VA; empty (no device string) for every other type.
std::string HwDeviceString(AVHWDeviceType eType, unsigned int nAdapterIndex);

// The first offered format (the list ends in AV_PIX_FMT_NONE) that is the device's surface
// format; AV_PIX_FMT_NONE when none is, when the list is empty or null.
AVPixelFormat PickHwSurfaceFormat(AVHWDeviceType eType, const AVPixelFormat* pOffered);

// Fills a D3D11VA frames context for decoding pictures of the given size: D3D11 surfaces with
// NV12 in memory (whatever the stream's bit depth), a pool of 20, and on Windows the bind and
// misc flags above.
void FillD3D11SurfacePool(AVHWFramesContext& frames, int nWidth, int nHeight);

// Length of the extradata a MediaCodec decoder gets from a packet that starts with a sequence
// parameter set: the bytes before the third start code (normally SPS and PPS), or the whole
// packet when there is no third. -1 when the packet does not start with a start code and an
// SPS, is shorter than 6 bytes, or has no second start code of the same length.
int MediaCodecExtradataSize(const uint8_t* pData, int nSize);

}  // namespace codec_interface
