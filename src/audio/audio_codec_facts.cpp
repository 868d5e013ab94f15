// The audio codec table: codec, role and default formats of each audio CodecType.
#include "audio/audio_codec_facts.h"

#include "interface/log.h"
#include "interface/sample_formats.h"

namespace codec_interface {

namespace {

// One row per supported CodecType. A row with a preferred name tries that implementation first
// and falls back to the codec id, with its own default formats.
struct AudioCodecChoice {
  CodecType eType;
  bool bDecoder;
  AVCodecID eId;
  const char* pPreferredName;
  AVSampleFormat eSrcDefault;
  AVSampleFormat eDstDefault;
  AVSampleFormat eSrcFallbackDefault;
  AVSampleFormat eDstFallbackDefault;
};

constexpr AudioCodecChoice kChoices[] = {
    {AV_CODEC_TYPE_G711AENC, false, AV_CODEC_ID_PCM_ALAW, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLT},
    {AV_CODEC_TYPE_G711ADEC, true, AV_CODEC_ID_PCM_ALAW, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_G711UENC, false, AV_CODEC_ID_PCM_MULAW, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_G711UDEC, true, AV_CODEC_ID_PCM_MULAW, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_OPUSENC, false, AV_CODEC_ID_OPUS, "libopus", AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_OPUSDEC, true, AV_CODEC_ID_OPUS, "libopus", AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP},
    {AV_CODEC_TYPE_SPEEXENC, false, AV_CODEC_ID_SPEEX, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_SPEEXDEC, true, AV_CODEC_ID_SPEEX, nullptr, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_AACENC, false, AV_CODEC_ID_AAC, nullptr, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP},
    {AV_CODEC_TYPE_AACDEC, true, AV_CODEC_ID_AAC, nullptr, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16},
};

const AudioCodecChoice* FindChoice(CodecType eType) {
  for (const AudioCodecChoice& choice : kChoices) {
    if (choice.eType == eType) return &choice;
  }
  return nullptr;
}

// Looks the codec up; *pFallback tells whether the preferred implementation was missing.
const AVCodec* FindCodec(const AudioCodecChoice& choice, bool* pFallback) {
  *pFallback = false;
  if (choice.pPreferredName != nullptr) {
    const AVCodec* codec = choice.bDecoder ? avcodec_find_decoder_by_name(choice.pPreferredName)
                                           : avcodec_find_encoder_by_name(choice.pPreferredName);
    if (codec != nullptr) return codec;
    *pFallback = true;
  }
  return choice.bDecoder ? avcodec_find_decoder(choice.eId) : avcodec_find_encoder(choice.eId);
}

// The required field is checked on its public value, before any lookup.
bool RefusesParams(const AudioCodecChoice& choice, const AudioCodecParam& param) {
  if (choice.bDecoder && param.eDstSampleFormat == SAMPLE_FMT_NONE) {
    CODEC_LOG(kLogError, "Audio decode must set eDstSampleFormat");
    return true;
  }
  if (!choice.bDecoder && param.eSrcSampleFormat == SAMPLE_FMT_NONE) {
    CODEC_LOG(kLogError, "Audio encode must set eSrcSampleFormat");
    return true;
  }
  return false;
}

}  // namespace

bool ResolveAudioCodec(CodecType eType, const AudioCodecParam& param, AudioCodecFacts* pFacts) {
  const AudioCodecChoice* choice = FindChoice(eType);
  if (choice == nullptr) {
    CODEC_LOG(kLogError, "Do not support type[%d]", static_cast<int>(eType));
    return false;
  }
  if (RefusesParams(*choice, param)) return false;
  AudioCodecFacts facts;
  facts.eType = eType;
  facts.bDecoder = choice->bDecoder;
  facts.bAdts = eType == AV_CODEC_TYPE_AACENC;
  bool fallback = false;
  facts.pCodec = FindCodec(*choice, &fallback);
  AudioFormats& formats = facts.formats;
  formats.eSrc = SampleFormatToAv(param.eSrcSampleFormat);
  formats.eDst = SampleFormatToAv(param.eDstSampleFormat);
  if (formats.eSrc == AV_SAMPLE_FMT_NONE) {
    formats.eSrc = fallback ? choice->eSrcFallbackDefault : choice->eSrcDefault;
  }
  if (formats.eDst == AV_SAMPLE_FMT_NONE) {
    formats.eDst = fallback ? choice->eDstFallbackDefault : choice->eDstDefault;
  }
  formats.nSrcRate = param.nSrcSampleRate;
  formats.nDstRate = param.nDstSampleRate;
  formats.nSrcChannels = param.nSrcChannels;
  formats.nDstChannels = param.nDstChannels;
  *pFacts = facts;
  return true;
}

CodecCtxPtr AllocateAudioContext(const AudioCodecFacts& facts) {
  if (facts.pCodec == nullptr) {
    CODEC_LOG(kLogDebug, "Codec not found");
    return nullptr;
  }
  CodecCtxPtr ctx(avcodec_alloc_context3(facts.pCodec));
  if (ctx == nullptr) CODEC_LOG(kLogDebug, "avcodec_alloc_context3 failed");
  return ctx;
}

}  // namespace codec_interface
