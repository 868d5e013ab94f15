// Opening and closing an audio codec object: codec choice by CodecType, context configuration,
// the AAC bitstream filter, and teardown in a fixed order.
#include <string>

#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"
#include "interface/sample_formats.h"

namespace codec_interface {

namespace {

constexpr const char* kAdtsToAsc = "aac_adtstoasc";

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
    {AV_CODEC_TYPE_OPUSDEC, true, AV_CODEC_ID_OPUS, "libopus", AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP},
    {AV_CODEC_TYPE_SPEEXENC, false, AV_CODEC_ID_SPEEX, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_SPEEXDEC, true, AV_CODEC_ID_SPEEX, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_AACENC, false, AV_CODEC_ID_AAC, nullptr, AV_SAMPLE_FMT_S16,
     AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP},
    {AV_CODEC_TYPE_AACDEC, true, AV_CODEC_ID_AAC, nullptr, AV_SAMPLE_FMT_FLTP,
     AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16},
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

}  // namespace

CFFMpegAudioCodec::CFFMpegAudioCodec()
    : m_pfnWriteHeader(nullptr),
      m_pCodec(nullptr),
      m_nSwrOutSamples(0),
      m_nSrcSampleRate(0),
      m_nDstSampleRate(0),
      m_nSrcChannels(0),
      m_nDstChannels(0),
      m_stSrcChLayout{},
      m_nSwrInRate(0),
      m_eSwrInFormat(AV_SAMPLE_FMT_NONE),
      m_stDstChLayout{},
      m_eSrcSampleFormat(AV_SAMPLE_FMT_NONE),
      m_eDstSampleFormat(AV_SAMPLE_FMT_NONE),
      m_eCodecType(static_cast<CodecType>(-1)),
      m_bDecoder(false),
      m_bInit(false),
      m_nFramePoolSize(0) {}

CFFMpegAudioCodec::~CFFMpegAudioCodec() {
  CFFMpegAudioCodec::Uninit();
  std::vector<uint8_t>().swap(m_vecSwrBuffer);
  std::vector<PacketPtr>().swap(m_vecPacketCache);
  std::vector<FramePtr>().swap(m_vecFrameCache);
}

int CFFMpegAudioCodec::Init(CodecType eCodecType, CodecParam param) {
  std::unique_lock<std::mutex> lock(m_mtxCodec);
  if (m_bInit) return 0;
  // Failures are logged after the unlock, because Uninit takes the lock itself.
  auto fail = [&](auto&& logLine) {
    lock.unlock();
    logLine();
    this->Uninit();
    return -1;
  };

  const AudioCodecParam& audio = param.stAudio;
  m_eSrcSampleFormat = SampleFormatToAv(audio.eSrcSampleFormat);
  m_eDstSampleFormat = SampleFormatToAv(audio.eDstSampleFormat);
  m_nSrcSampleRate = audio.nSrcSampleRate;
  m_nDstSampleRate = audio.nDstSampleRate;
  m_nSrcChannels = audio.nSrcChannels;
  m_nDstChannels = audio.nDstChannels;

  if (InitCodec(eCodecType, audio) != 0) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]InitCodec failed"); });
  }

  const int opened = OpenCodec(audio);
  if (opened < 0) return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not open codec"); });

  if (InitBsfcParams() != 0) return fail([] { CODEC_LOG(kLogDebug, "[CODE]InitBsfc failed"); });

  m_pAudioFrame.reset(av_frame_alloc());
  if (m_pAudioFrame == nullptr) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not allocate audio frame"); });
  }

  if (!m_bDecoder) {
    if ((m_pCodec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) == 0) {
      m_pAudioFrame->nb_samples = m_pCodecCtx->frame_size;
    }
    m_pAudioFrame->format = m_pCodecCtx->sample_fmt;
    av_channel_layout_copy(&m_pAudioFrame->ch_layout, &m_pCodecCtx->ch_layout);
    const bool convert = m_eSrcSampleFormat != m_eDstSampleFormat ||
                         m_nSrcChannels != m_nDstChannels || m_nSrcSampleRate != m_nDstSampleRate;
    if (convert && SwrResamplingInit(m_eSrcSampleFormat) != 0) {
      return fail([] { CODEC_LOG(kLogError, "[CODE]SwrEncResamplingInit failed"); });
    }
  }

  // Decode never sends through a missing packet: it checks m_pPacket itself.
  m_pPacket.reset(av_packet_alloc());
  m_eCodecType = eCodecType;
  m_stParam = audio;
  m_bInit = true;
  CODEC_LOG(kLogInfo, "[CODE]audio codec init succ");
  return 0;
}

int CFFMpegAudioCodec::InitCodec(CodecType eCodecType, const AudioCodecParam& param) {
  m_pfnWriteHeader = nullptr;
  const AudioCodecChoice* choice = FindChoice(eCodecType);
  if (choice == nullptr) {
    CODEC_LOG(kLogError, "[CODE]Do not support type[%d]", static_cast<int>(eCodecType));
    return -1;
  }
  // The required field is checked on its public value, before any lookup.
  if (choice->bDecoder && param.eDstSampleFormat == SAMPLE_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]Audio decode must set eDstSampleFormat");
    return -1;
  }
  if (!choice->bDecoder && param.eSrcSampleFormat == SAMPLE_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]Audio encode must set eSrcSampleFormat");
    return -1;
  }
  if (eCodecType == AV_CODEC_TYPE_AACENC) {
    if (InitBsfc() != 0) {
      CODEC_LOG(kLogError, "[CODE]InitBsfc [%s] failed", kAdtsToAsc);
      return -1;
    }
    m_pfnWriteHeader = &CFFMpegAudioCodec::WriteADTSHeader;
  }

  bool fallback = false;
  m_pCodec = FindCodec(*choice, &fallback);
  if (m_eSrcSampleFormat == AV_SAMPLE_FMT_NONE) {
    m_eSrcSampleFormat = fallback ? choice->eSrcFallbackDefault : choice->eSrcDefault;
  }
  if (m_eDstSampleFormat == AV_SAMPLE_FMT_NONE) {
    m_eDstSampleFormat = fallback ? choice->eDstFallbackDefault : choice->eDstDefault;
  }
  m_bDecoder = choice->bDecoder;

  if (m_pCodec == nullptr) {
    CODEC_LOG(kLogDebug, "[CODE]Codec not found");
    return -1;
  }
  m_pCodecCtx.reset(avcodec_alloc_context3(m_pCodec));
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogDebug, "[CODE]avcodec_alloc_context3 failed");
    return -1;
  }
  return 0;
}

int CFFMpegAudioCodec::OpenCodec(const AudioCodecParam& param) {
  AvOptions options;  // freed right after opening, whether it worked or not
  if (m_bDecoder) {
    m_pCodecCtx->codec_type = AVMEDIA_TYPE_AUDIO;
    m_pCodecCtx->sample_fmt = m_eDstSampleFormat;
    m_pCodecCtx->sample_rate = param.nSrcSampleRate;
    av_channel_layout_uninit(&m_pCodecCtx->ch_layout);
    m_pCodecCtx->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    m_pCodecCtx->ch_layout.nb_channels = param.nSrcChannels;
  } else {
    SetEncoderParams(m_pCodecCtx.get(), param.nDstSampleRate, param.nDstChannels,
                     param.nBitRate, param.nFrameDuration, options);
  }
  return avcodec_open2(m_pCodecCtx.get(), m_pCodec, options.Slot());
}

void CFFMpegAudioCodec::SetEncoderParams(AVCodecContext* pCtx, int nDstSampleRate,
                                         int nDstChannels, int nBitRate, int nFrameDuration,
                                         AvOptions& options) {
  pCtx->bit_rate = static_cast<int64_t>(nBitRate);
  pCtx->codec_type = AVMEDIA_TYPE_AUDIO;
  pCtx->sample_fmt = m_eDstSampleFormat;
  pCtx->sample_rate = nDstSampleRate;
  av_channel_layout_uninit(&pCtx->ch_layout);
  av_channel_layout_default(&pCtx->ch_layout, nDstChannels);
  // Encoders without the option leave it in the dictionary, which is freed after opening.
  const std::string duration = nFrameDuration != 0 ? std::to_string(nFrameDuration) : "20";
  options.Set("frame_duration", duration.c_str());
}

int CFFMpegAudioCodec::InitBsfc() {
  const AVBitStreamFilter* filter = av_bsf_get_by_name(kAdtsToAsc);
  if (filter == nullptr) {
    CODEC_LOG(kLogError, "[CODE]av_bsf_get_by_name [%s] failed", kAdtsToAsc);
    return -1;
  }
  AVBSFContext* ctx = nullptr;
  if (av_bsf_alloc(filter, &ctx) != 0) {
    CODEC_LOG(kLogError, "[CODE]av_bsf_alloc [%s] failed", kAdtsToAsc);
    return -1;
  }
  m_pBsfCtx.reset(ctx);
  return 0;
}

int CFFMpegAudioCodec::InitBsfcParams() {
  if (m_pBsfCtx == nullptr) return 0;
  if (avcodec_parameters_from_context(m_pBsfCtx->par_in, m_pCodecCtx.get()) < 0) {
    CODEC_LOG(kLogError, "[CODE]avcodec_parameters_from_context failed");
    return -1;
  }
  m_pBsfCtx->time_base_in = m_pCodecCtx->time_base;
  if (av_bsf_init(m_pBsfCtx.get()) != 0) {
    CODEC_LOG(kLogError, "[CODE]av_bsf_init failed");
    return -1;
  }
  return 0;
}

void CFFMpegAudioCodec::Uninit() {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_pCodecCtx.reset();
  m_pCodec = nullptr;
  m_pAudioFrame.reset();
  m_vecFrameCache.clear();
  m_vecPacketCache.clear();
  m_pFramePool.reset();  // buffers still out with a host's entries outlive the pool itself
  m_nFramePoolSize = 0;
  m_pSwrFrame.reset();
  m_pSwrCtx.reset();
  av_channel_layout_uninit(&m_stSrcChLayout);
  av_channel_layout_uninit(&m_stDstChLayout);
  m_pBsfCtx.reset();
  m_pEncodeFifo.reset();
  m_pRateFifo.reset();
  m_pPacket.reset();
  m_eSrcSampleFormat = AV_SAMPLE_FMT_NONE;
  m_eDstSampleFormat = AV_SAMPLE_FMT_NONE;
  m_nSwrOutSamples = 0;
  m_nSrcSampleRate = 0;
  m_nDstSampleRate = 0;
  m_nSrcChannels = 0;
  m_nDstChannels = 0;
  m_bDecoder = false;
  m_pfnWriteHeader = nullptr;
  m_bDraining = false;
  m_bInit = false;
  CODEC_LOG(kLogInfo, "[CODE]audio codec uninit");
}

int CFFMpegAudioCodec::Reset(CodecParam param) {
  Uninit();
  return Init(m_eCodecType, param);
}

void CFFMpegAudioCodec::SetEasyParam(VideoEasyParam) {}

CodecType CFFMpegAudioCodec::GetCodecType() { return m_eCodecType; }

}  // namespace codec_interface
