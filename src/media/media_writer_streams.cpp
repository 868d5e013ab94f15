// The streams of a media writer: each added with its codec's parameters before the header.
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/display.h>
}

#include "interface/log.h"
#include "media/media_writer.h"
#include "media/pack_extradata.h"

namespace codec_interface {

namespace {

AVRational TimeBaseOr(int32_t nNum, int32_t nDen, AVRational fallback) {
  return nNum > 0 && nDen > 0 ? AVRational{nNum, nDen} : fallback;
}

// FFmpeg's matrix for an angle reads back (av_display_rotation_get) as its opposite: the reader
// turns that into the same clockwise degrees.
bool SetRotation(AVCodecParameters* pParams, int nRotation) {
  if (nRotation % 360 == 0) return true;
  AVPacketSideData* pSide =
      av_packet_side_data_new(&pParams->coded_side_data, &pParams->nb_coded_side_data,
                              AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t), 0);
  if (pSide == nullptr) return false;
  av_display_rotation_set(reinterpret_cast<int32_t*>(pSide->data), nRotation);
  return true;
}

bool CopyExtradata(AVCodecParameters* pParams, const unsigned char* pData, int nSize) {
  return pData == nullptr || nSize <= 0 || SetExtradata(pParams, pData, static_cast<size_t>(nSize));
}

}  // namespace

AVStream* CMediaWriter::NewStream(const char* pCodecName, AVMediaType eType, bool bComplete) {
  if (!IsOpen() || m_bStarted) return nullptr;
  const std::string strName(pCodecName,
                            strnlen(pCodecName, sizeof MediaVideoStreamParam::szCodecName));
  const AVCodecDescriptor* pCodec = avcodec_descriptor_get_by_name(strName.c_str());
  const char* pCause = nullptr;
  if (!bComplete) {
    pCause = "no sample rate or channels";
  } else if (pCodec == nullptr || pCodec->type != eType) {
    pCause = eType == AVMEDIA_TYPE_VIDEO ? "not a video codec" : "not a sound codec";
  } else if (avformat_query_codec(m_pFormatCtx->oformat, pCodec->id, FF_COMPLIANCE_NORMAL) == 0) {
    pCause = "the container cannot hold it";
  }
  AVStream* pStream =
      pCause == nullptr ? avformat_new_stream(m_pFormatCtx.get(), nullptr) : nullptr;
  if (pCause == nullptr && pStream == nullptr) pCause = "out of memory";
  if (pCause != nullptr) {
    CODEC_LOG(kLogError, "MediaWriter AddStream[%s] failed: %s", strName.c_str(), pCause);
    return nullptr;
  }
  pStream->codecpar->codec_type = eType;
  pStream->codecpar->codec_id = pCodec->id;
  return pStream;
}

int CMediaWriter::AddVideoStream(const MediaVideoStreamParam& param) {
  AVStream* pStream = NewStream(param.szCodecName, AVMEDIA_TYPE_VIDEO, true);
  if (pStream == nullptr) return -1;
  AVCodecParameters* pPar = pStream->codecpar;
  pPar->width = param.nWidth;
  pPar->height = param.nHeight;
  if (param.nFrameRateNum > 0 && param.nFrameRateDen > 0) {
    pStream->avg_frame_rate = pStream->r_frame_rate = {param.nFrameRateNum, param.nFrameRateDen};
  }
  pStream->time_base = TimeBaseOr(param.nTimeBaseNum, param.nTimeBaseDen, {1, 90000});
  return Added(pStream, SetRotation(pPar, param.nRotation) &&
                            CopyExtradata(pPar, param.pExtradata, param.nExtradataSize));
}

int CMediaWriter::AddAudioStream(const MediaAudioStreamParam& param) {
  AVStream* pStream = NewStream(param.szCodecName, AVMEDIA_TYPE_AUDIO,
                                param.nSampleRate > 0 && param.nChannels > 0);
  if (pStream == nullptr) return -1;
  AVCodecParameters* pPar = pStream->codecpar;
  pPar->sample_rate = param.nSampleRate;
  av_channel_layout_default(&pPar->ch_layout, param.nChannels);
  pPar->frame_size = param.nFrameSamples;
  pPar->initial_padding = param.nInitialPadding;
  pStream->time_base = TimeBaseOr(param.nTimeBaseNum, param.nTimeBaseDen, {1, param.nSampleRate});
  return Added(pStream, CopyExtradata(pPar, param.pExtradata, param.nExtradataSize));
}

int CMediaWriter::Added(AVStream* pStream, bool bSetUp) {
  if (!bSetUp) {
    // Streams cannot be taken back from the context: the file is left unusable on purpose.
    CODEC_LOG(kLogError, "MediaWriter AddStream[%s] failed: out of memory",
              avcodec_get_name(pStream->codecpar->codec_id));
    m_nHeaderError = AVERROR(EINVAL);
    return -1;
  }
  m_vecStreams.emplace_back();
  m_vecStreams.back().pStream = pStream;
  return static_cast<int>(m_vecStreams.size()) - 1;
}

}  // namespace codec_interface
