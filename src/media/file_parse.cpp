#include "media/file_parse.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "interface/log.h"

namespace codec_interface {

CFileParse::CFileParse() : m_bOpen(false), m_nAudioStreamIndex(-1), m_nVideoStreamIndex(-1) {}

CFileParse::~CFileParse() { CFileParse::Close(); }

int CFileParse::Open(const char* pPath) {
  if (pPath == nullptr || m_bOpen) return -1;

  // avformat_open_input frees a context it was given when it fails, so ownership is taken only
  // after it succeeded.
  AVFormatContext* pCtx = avformat_alloc_context();
  if (pCtx == nullptr) return -1;
  const int nOpen = avformat_open_input(&pCtx, pPath, nullptr, nullptr);
  if (nOpen != 0) {
    CODEC_LOG(kLogError, "avformat_open_input[%s] failed[%d]", pPath, nOpen);
    return -1;
  }
  InputFormatCtxPtr pFormatCtx(pCtx);

  const int nInfo = avformat_find_stream_info(pFormatCtx.get(), nullptr);
  if (nInfo < 0) {
    CODEC_LOG(kLogError, "avformat_find_stream_info[%s] failed[%d]", pPath, nInfo);
    return -1;
  }
  av_dump_format(pFormatCtx.get(), 0, pPath, 0);

  const int nAudio = av_find_best_stream(pFormatCtx.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (nAudio < 0) {
    CODEC_LOG(kLogError, "Didn't find a audio stream in[%s] Res[%d]", pPath, nAudio);
    return -1;
  }
  const int nVideo = av_find_best_stream(pFormatCtx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);

  PacketPtr pPacket(av_packet_alloc());
  if (pPacket == nullptr) return -1;

  m_pFormatCtx = std::move(pFormatCtx);
  m_pPacket = std::move(pPacket);
  m_nAudioStreamIndex = nAudio;
  m_nVideoStreamIndex = nVideo >= 0 ? nVideo : -1;
  m_bOpen = true;
  return 0;
}

void CFileParse::Close() {
  if (!m_bOpen) return;
  m_pFormatCtx.reset();
  m_pPacket.reset();
  m_nAudioStreamIndex = -1;
  m_nVideoStreamIndex = -1;
  m_bOpen = false;
}

FileAudioCodec CFileParse::GetAudioCodec() {
  if (!m_bOpen || m_nAudioStreamIndex < 0) return FILE_AUDIO_CODEC_NONE;
  switch (m_pFormatCtx->streams[m_nAudioStreamIndex]->codecpar->codec_id) {
    case AV_CODEC_ID_AAC:
      return FILE_AUDIO_CODEC_AAC;
    case AV_CODEC_ID_PCM_ALAW:
      return FILE_AUDIO_CODEC_G711A;
    case AV_CODEC_ID_PCM_MULAW:
      return FILE_AUDIO_CODEC_G711U;
    case AV_CODEC_ID_OPUS:
      return FILE_AUDIO_CODEC_OPUS;
    case AV_CODEC_ID_SPEEX:
      return FILE_AUDIO_CODEC_SPEEX;
    default:
      return FILE_AUDIO_CODEC_NONE;
  }
}

FileVideoCodec CFileParse::GetVideoCodec() {
  if (!m_bOpen || m_nVideoStreamIndex < 0) return FILE_VIDEO_CODEC_NONE;
  switch (m_pFormatCtx->streams[m_nVideoStreamIndex]->codecpar->codec_id) {
    case AV_CODEC_ID_H264:
      return FILE_VIDEO_CODEC_H264;
    case AV_CODEC_ID_HEVC:
      return FILE_VIDEO_CODEC_HEVC;
    default:
      return FILE_VIDEO_CODEC_NONE;
  }
}

bool CFileParse::ReadPacketOf(int nIndex) {
  for (;;) {
    // av_read_frame does not release what the packet held before.
    av_packet_unref(m_pPacket.get());
    if (av_read_frame(m_pFormatCtx.get(), m_pPacket.get()) < 0) return false;
    if (m_pPacket->stream_index == nIndex) return true;
  }
}

int CFileParse::ReadAudioPacket(unsigned char** ppData, int* pSize, int* pDurationMs) {
  if (!m_bOpen || m_nAudioStreamIndex < 0) return -1;
  if (ppData == nullptr || pSize == nullptr || pDurationMs == nullptr) return -1;
  if (!ReadPacketOf(m_nAudioStreamIndex)) return -1;
  *ppData = m_pPacket->data;
  *pSize = m_pPacket->size;
  const AVRational tb = m_pFormatCtx->streams[m_nAudioStreamIndex]->time_base;
  const double ms = static_cast<double>(tb.num) / static_cast<double>(tb.den) *
                    static_cast<double>(m_pPacket->duration) * 1000.0;
  // A garbage time base or duration must not make the conversion undefined: beyond an int it
  // saturates, and a quotient that is no number (a zero denominator) counts as no duration.
  *pDurationMs =
      std::isnan(ms) ? 0 : static_cast<int>(std::clamp(ms, double{INT32_MIN}, double{INT32_MAX}));
  return 0;
}

int CFileParse::ReadVideoPacket(unsigned char** ppData, int* pSize) {
  if (!m_bOpen || m_nVideoStreamIndex < 0) return -1;
  if (ppData == nullptr || pSize == nullptr) return -1;
  if (!ReadPacketOf(m_nVideoStreamIndex)) return -1;
  *ppData = m_pPacket->data;
  *pSize = m_pPacket->size;
  return 0;
}

}  // namespace codec_interface
