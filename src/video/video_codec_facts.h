// What a video CodecType stands for, resolved once when a codec object is set up: the FFmpeg
// codec, the role, the encoder's presets, and for hardware decoders the device family and the
// surface format.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"
#include "video/hw_family_table.h"

namespace codec_interface {

// The encoder's private options it is opened with; null for none.
struct EncoderPresets {
  const char* pPreset = nullptr;
  const char* pTune = nullptr;
  const char* pProfile = nullptr;
};

struct VideoCodecFacts {
  CodecType eType = static_cast<CodecType>(-1);
  const AVCodec* pCodec = nullptr;  // null when this FFmpeg lacks the codec
  bool bDecoder = true;
  const HwFamily* pHw = nullptr;              // null for software codecs
  AVPixelFormat eHwPixFmt = AV_PIX_FMT_NONE;  // the hardware decoder's surfaces on its device
  EncoderPresets presets;

  AVHWDeviceType Device() const { return pHw != nullptr ? pHw->eDevice : AV_HWDEVICE_TYPE_NONE; }
  // Every hardware type but MediaCodec makes its device with the codec; MediaCodec's waits for
  // the first packet, which also gives the picture size the decoder opens with.
  bool MakesDeviceWithCodec() const { return pHw != nullptr && pHw->bDeviceWithCodec; }
  bool OpensWithFirstPacket() const { return eType == AV_CODEC_TYPE_H264DEC_MEDIACODEC; }
};

// The facts of a video CodecType. pCodec stays null for values that are no video type and
// codecs this FFmpeg lacks; false after the "[CODE]avcodec_get_hw_config failed" line when a
// hardware decoder has no configuration for its device.
bool ResolveVideoCodec(CodecType eType, VideoCodecFacts* pFacts);

}  // namespace codec_interface
