// Which FFmpeg codec and role each video CodecType stands for.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"
#include "video/hw_family_table.h"

namespace codec_interface {

struct VideoCodecEntry {
  CodecType eType;
  AVCodecID eCodecId;  // looked up by id unless pName is given
  const char* pName;   // looked up by name (decoders that FFmpeg only offers by name)
  bool bEncoder;
};

// The device of a hardware type is its family's (video/hw_family_table.h).
inline constexpr VideoCodecEntry kVideoCodecTable[] = {
    {AV_CODEC_TYPE_H264ENC, AV_CODEC_ID_H264, nullptr, true},
    {AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_HEVCENC, AV_CODEC_ID_HEVC, nullptr, true},
    {AV_CODEC_TYPE_HEVCDEC, AV_CODEC_ID_HEVC, nullptr, false},
    {AV_CODEC_TYPE_HEVCDEC_DXVA2, AV_CODEC_ID_HEVC, nullptr, false},
    {AV_CODEC_TYPE_HEVCDEC_D3D12VA, AV_CODEC_ID_HEVC, nullptr, false},
    {AV_CODEC_TYPE_HEVCDEC_D3D11VA, AV_CODEC_ID_HEVC, nullptr, false},
    {AV_CODEC_TYPE_H264DEC_DXVA2, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_H264DEC_D3D12VA, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_H264DEC_D3D11VA, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_MJPEGDEC, AV_CODEC_ID_MJPEG, nullptr, false},
    {AV_CODEC_TYPE_H264DEC_MEDIACODEC, AV_CODEC_ID_H264, "h264_mediacodec", false},
    {AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, AV_CODEC_ID_HEVC, nullptr, false},
    {AV_CODEC_TYPE_BMPENC, AV_CODEC_ID_BMP, nullptr, true},
};

// The entry of a video CodecType, or null for any other value.
inline const VideoCodecEntry* FindVideoCodecEntry(CodecType eType) {
  for (const VideoCodecEntry& entry : kVideoCodecTable) {
    if (entry.eType == eType) return &entry;
  }
  return nullptr;
}

// The hardware device type of a CodecType (AV_HWDEVICE_TYPE_NONE for software and unknown ones).
inline AVHWDeviceType VideoHwDeviceType(CodecType eType) {
  const HwFamily* family = HwFamilyOfCodec(eType);
  return family != nullptr ? family->eDevice : AV_HWDEVICE_TYPE_NONE;
}

// Types whose device is made with the codec (every hardware type but MediaCodec, whose device
// waits for the first packet).
inline bool MakesDeviceWithCodec(CodecType eType) {
  const HwFamily* family = HwFamilyOfCodec(eType);
  return family != nullptr && family->bDeviceWithCodec;
}

}  // namespace codec_interface
