// The audio codec object: its lock and public operations over the session Init made.
#include "audio/ffmpeg_audio_codec.h"

#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/session_commit.h"

namespace codec_interface {

namespace {

void LogUninit() { CODEC_LOG(kLogInfo, "audio codec uninit"); }

}  // namespace

CFFMpegAudioCodec::~CFFMpegAudioCodec() { CFFMpegAudioCodec::Uninit(); }

int CFFMpegAudioCodec::Init(CodecType eCodecType, CodecParam param) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  if (m_pDecoder != nullptr || m_pEncoder != nullptr) return 0;
  const AudioCodecParam& audio = param.stAudio;
  AudioCodecFacts facts;
  if (!ResolveAudioCodec(eCodecType, audio, &facts)) {
    CODEC_LOG(kLogError, "InitCodec failed");
    LogUninit();
    return -1;
  }
  const int opened =
      facts.bDecoder
          ? CommitSession(m_pDecoder, std::make_unique<AudioDecoder>(facts), LogUninit)
          : CommitSession(m_pEncoder, std::make_unique<AudioEncoder>(facts, audio), LogUninit);
  if (opened != 0) return -1;
  m_eCodecType = eCodecType;
  CODEC_LOG(kLogInfo, "audio codec init succ");
  return 0;
}

void CFFMpegAudioCodec::Uninit() {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_pDecoder.reset();
  m_pEncoder.reset();
  LogUninit();
}

int CFFMpegAudioCodec::Reset(CodecParam param) {
  Uninit();
  return Init(m_eCodecType, param);
}

int CFFMpegAudioCodec::Decode(unsigned char* pData, int nSize, COutParam* pOut) {
  auto* out = dynamic_cast<CAudioDecodeOutParam*>(pOut);
  // Bytes that are not there, or a count before the entry arrays, are refused outright.
  if (out == nullptr || nSize < 0 || (pData == nullptr && nSize > 0) || out->m_nNum < 0) {
    return -1;
  }
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    return m_pDecoder != nullptr ? m_pDecoder->Decode(pData, nSize, out) : -1;
  });
}

int CFFMpegAudioCodec::Encode(unsigned char* pData, int nSize, COutParam* pOut) {
  auto* out = dynamic_cast<CAudioEncodeOutParam*>(pOut);
  // A count before the entry arrays is refused outright.
  if (out == nullptr || out->m_nNum < 0) return -1;
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    if (m_pEncoder == nullptr) return -1;
    const int ret = m_pEncoder->Encode(pData, nSize, out);
    DropBrokenEncoder();
    return ret;
  });
}

int CFFMpegAudioCodec::Drain(COutParam* pOut) {
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    if (pOut == nullptr || pOut->m_nNum < 0) return -1;
    if (m_pDecoder != nullptr) {
      auto* pDecOut = dynamic_cast<CAudioDecodeOutParam*>(pOut);
      return pDecOut != nullptr ? m_pDecoder->Drain(pDecOut) : -1;
    }
    auto* pEncOut = dynamic_cast<CAudioEncodeOutParam*>(pOut);
    if (m_pEncoder == nullptr || pEncOut == nullptr) return -1;
    const int ret = m_pEncoder->Drain(pEncOut);
    DropBrokenEncoder();
    return ret;
  });
}

void CFFMpegAudioCodec::DropBrokenEncoder() {
  if (m_pEncoder != nullptr && !m_pEncoder->Ready()) m_pEncoder.reset();
}

void CFFMpegAudioCodec::SetEasyParam(VideoEasyParam) {}

CodecType CFFMpegAudioCodec::GetCodecType() { return m_eCodecType; }

}  // namespace codec_interface
