// The video codec table: which FFmpeg codec and role each video CodecType stands for.
#include "video/video_codec_facts.h"

#include "interface/log.h"

namespace codec_interface {

namespace {

struct VideoCodecEntry {
  CodecType eType;
  AVCodecID eCodecId;  // looked up by id unless pName is given
  const char* pName;   // looked up by name (decoders that FFmpeg only offers by name)
  bool bEncoder;
  EncoderPresets presets{};
};

// Live streams: no look-ahead delay; H.264 in the profile every decoder takes.
constexpr EncoderPresets kH264Presets{
    .pPreset = "slow", .pTune = "zerolatency", .pProfile = "baseline"};
constexpr EncoderPresets kHevcPresets{.pPreset = "ultrafast", .pTune = "zerolatency"};

// The device of a hardware type is its family's (video/hw_family_table.h).
constexpr VideoCodecEntry kVideoCodecTable[] = {
    {AV_CODEC_TYPE_H264ENC, AV_CODEC_ID_H264, nullptr, true, kH264Presets},
    {AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, nullptr, false},
    {AV_CODEC_TYPE_HEVCENC, AV_CODEC_ID_HEVC, nullptr, true, kHevcPresets},
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

const VideoCodecEntry* FindEntry(CodecType eType) {
  for (const VideoCodecEntry& entry : kVideoCodecTable) {
    if (entry.eType == eType) return &entry;
  }
  return nullptr;
}

const AVCodec* FindCodec(const VideoCodecEntry& entry) {
  if (entry.pName != nullptr) return avcodec_find_decoder_by_name(entry.pName);
  return entry.bEncoder ? avcodec_find_encoder(entry.eCodecId)
                        : avcodec_find_decoder(entry.eCodecId);
}

// The surface format the codec decodes into on a device of this type.
bool FindHwSurfaceFormat(const AVCodec* pCodec, AVHWDeviceType eType, AVPixelFormat* pHwPixFmt) {
  for (int i = 0;; ++i) {
    const AVCodecHWConfig* config = avcodec_get_hw_config(pCodec, i);
    if (config == nullptr) break;
    CODEC_LOG(kLogDebug, "hw[%d]", static_cast<int>(config->device_type));
    if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) &&
        config->device_type == eType) {
      *pHwPixFmt = config->pix_fmt;
      return true;
    }
  }
  CODEC_LOG(kLogError, "avcodec_get_hw_config failed");
  return false;
}

}  // namespace

bool ResolveVideoCodec(CodecType eType, VideoCodecFacts* pFacts) {
  VideoCodecFacts facts;
  facts.eType = eType;
  const VideoCodecEntry* entry = FindEntry(eType);
  if (entry == nullptr) {
    *pFacts = facts;
    return true;
  }
  facts.pCodec = FindCodec(*entry);
  facts.bDecoder = !entry->bEncoder;
  facts.presets = entry->presets;
  facts.pHw = HwFamilyOfCodec(eType);
  if (facts.pHw != nullptr && facts.pCodec != nullptr &&
      !FindHwSurfaceFormat(facts.pCodec, facts.pHw->eDevice, &facts.eHwPixFmt)) {
    return false;
  }
  *pFacts = facts;
  return true;
}

}  // namespace codec_interface
