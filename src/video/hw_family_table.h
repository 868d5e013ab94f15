// The hardware decoder families: every fact about a device family that a hardware step needs,
// in one row per family. Codec set-up, device creation, surface choice, picture output, the
// probe and the picture functions all read it.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"

namespace codec_interface {

struct HwFamily {
  AVHWDeviceType eDevice;
  AVPixelFormat eSurface;  // the surface format its decoders are given
  CodecType eH264;         // its H.264 decoder
  CodecType eHevc;         // its HEVC decoder; eH264 again where there is none
  bool bProbed;            // Prepare and CheckHardwareDecode probe it, as eProbeFamily
  HardwareDecoderType eProbeFamily;
  PixelFormat eRequest;    // the public format asking for its surfaces, when bProbed
  bool bAdapterDevice;     // Direct3D: the adapter index names the device, decoders run on one
                           // thread
  bool bDeviceWithCodec;   // Init makes the device (MediaCodec's waits for the first packet)
  bool bTransfer;          // its surfaces are copied into memory for other formats and sizes
  bool bDownload;          // the picture functions download its surfaces into memory
  const char* pWrongType;  // Init's refusals of eRequest: with another CodecType,
  const char* pSized;      // and with an output size
};

inline constexpr HwFamily kHwFamilies[] = {
    {.eDevice = AV_HWDEVICE_TYPE_DXVA2,
     .eSurface = AV_PIX_FMT_DXVA2_VLD,
     .eH264 = AV_CODEC_TYPE_H264DEC_DXVA2,
     .eHevc = AV_CODEC_TYPE_HEVCDEC_DXVA2,
     .bProbed = true,
     .eProbeFamily = HARDWARE_DECODER_DXVA2,
     .eRequest = PIX_FMT_DXVA2,
     .bAdapterDevice = true,
     .bDeviceWithCodec = true,
     .bTransfer = true,
     .bDownload = true,
     .pWrongType = "[CODE]PIX_FMT_DXVA2 must set "
                   "CodecType:AV_CODEC_TYPE_H264DEC_DXVA2/AV_CODEC_TYPE_HEVCDEC_DXVA2",
     .pSized = "[CODE]PIX_FMT_DXVA2 can not change size"},
    {.eDevice = AV_HWDEVICE_TYPE_D3D12VA,
     .eSurface = AV_PIX_FMT_D3D12,
     .eH264 = AV_CODEC_TYPE_H264DEC_D3D12VA,
     .eHevc = AV_CODEC_TYPE_HEVCDEC_D3D12VA,
     .bProbed = true,
     .eProbeFamily = HARDWARE_DECODER_D3D12VA,
     .eRequest = PIX_FMT_D3D12VA,
     .bAdapterDevice = true,
     .bDeviceWithCodec = true,
     .bTransfer = true,
     .bDownload = true,
     .pWrongType = "[CODE]PIX_FMT_D3D12VA must set "
                   "CodecType:AV_CODEC_TYPE_H264DEC_D3D12VA/AV_CODEC_TYPE_HEVCDEC_D3D12VA",
     .pSized = "[CODE]PIX_FMT_D3D12VA can not change size"},
    // D3D11 surfaces live in a pool of textures the host shares; the picture functions leave
    // them to the host.
    {.eDevice = AV_HWDEVICE_TYPE_D3D11VA,
     .eSurface = AV_PIX_FMT_D3D11,
     .eH264 = AV_CODEC_TYPE_H264DEC_D3D11VA,
     .eHevc = AV_CODEC_TYPE_HEVCDEC_D3D11VA,
     .bProbed = true,
     .eProbeFamily = HARDWARE_DECODER_D3D11VA,
     .eRequest = PIX_FMT_D3D11VA,
     .bAdapterDevice = true,
     .bDeviceWithCodec = true,
     .bTransfer = true,
     .bDownload = false,
     .pWrongType = "[CODE]PIX_FMT_D3D11VA must set "
                   "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA",
     .pSized = "[CODE]PIX_FMT_D3D11VA can not change size"},
    {.eDevice = AV_HWDEVICE_TYPE_VIDEOTOOLBOX,
     .eSurface = AV_PIX_FMT_VIDEOTOOLBOX,
     .eH264 = AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX,
     .eHevc = AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX,
     .bProbed = true,
     .eProbeFamily = HARDWARE_DECODER_VIDEOTOOLBOX,
     .eRequest = PIX_FMT_VIDEOTOOLBOX,
     .bAdapterDevice = false,
     .bDeviceWithCodec = true,
     .bTransfer = true,
     .bDownload = true,
     .pWrongType =
         "[CODE]PIX_FMT_VIDEOTOOLBOX must set "
         "CodecType:AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX/AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX",
     .pSized = "[CODE]PIX_FMT_VIDEOTOOLBOX can not change size"},
    // MediaCodec pictures are handed out as they come; no public format asks for them.
    {.eDevice = AV_HWDEVICE_TYPE_MEDIACODEC,
     .eSurface = AV_PIX_FMT_MEDIACODEC,
     .eH264 = AV_CODEC_TYPE_H264DEC_MEDIACODEC,
     .eHevc = AV_CODEC_TYPE_H264DEC_MEDIACODEC,
     .bProbed = false,
     .eProbeFamily = HardwareDecoderType{},
     .eRequest = PIX_FMT_NONE,
     .bAdapterDevice = false,
     .bDeviceWithCodec = false,
     .bTransfer = false,
     .bDownload = false,
     .pWrongType = nullptr,
     .pSized = nullptr},
};

// The first family that pred accepts; null when none does.
template <class Pred>
const HwFamily* FindHwFamily(Pred pred) {
  for (const HwFamily& family : kHwFamilies) {
    if (pred(family)) return &family;
  }
  return nullptr;
}

// The family a decoder CodecType belongs to; null for software and unknown types.
inline const HwFamily* HwFamilyOfCodec(CodecType eType) {
  return FindHwFamily([eType](const HwFamily& f) { return f.eH264 == eType || f.eHevc == eType; });
}

// The family of a device type; null for devices the library does not use.
inline const HwFamily* HwFamilyOfDevice(AVHWDeviceType eDevice) {
  return FindHwFamily([eDevice](const HwFamily& f) { return f.eDevice == eDevice; });
}

// The family whose surfaces have this format; null for memory formats.
inline const HwFamily* HwFamilyOfSurface(AVPixelFormat eSurface) {
  return FindHwFamily([eSurface](const HwFamily& f) { return f.eSurface == eSurface; });
}

// The probed family of Prepare's HardwareDecoderType; null for any other value.
inline const HwFamily* HwFamilyOfProbe(HardwareDecoderType eFamily) {
  return FindHwFamily(
      [eFamily](const HwFamily& f) { return f.bProbed && f.eProbeFamily == eFamily; });
}

}  // namespace codec_interface
