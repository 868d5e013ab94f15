// The streams of a media writer: each added with its codec's parameters before the header.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

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

// The codecs MPEG-TS has a stream type for; FFmpeg writes any other as private data, which
// players do not know how to play.
constexpr AVCodecID kTransportStreamCodecs[] = {
    AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO,
    AV_CODEC_ID_AAC,  AV_CODEC_ID_MP2,  AV_CODEC_ID_MP3,        AV_CODEC_ID_AC3,
    AV_CODEC_ID_EAC3, AV_CODEC_ID_OPUS};

// Why the container cannot take the codec; null when it can. FFmpeg does not know for every
// muxer, and where it does not the header tells.
const char* RefusalOf(const AVOutputFormat* pFormat, AVCodecID eCodec) {
  const int nHolds = avformat_query_codec(pFormat, eCodec, FF_COMPLIANCE_NORMAL);
  if (nHolds == 0) return "the container cannot hold it";
  if (std::strcmp(pFormat->name, "mpegts") == 0 &&
      std::ranges::find(kTransportStreamCodecs, eCodec) == std::end(kTransportStreamCodecs)) {
    return "the container cannot hold it";
  }
  // MP4 describes VP9 by its profile and bit depth, which the stream's parameters do not carry.
  if (eCodec == AV_CODEC_ID_VP9 && nHolds > 0 && std::strcmp(pFormat->name, "matroska") != 0 &&
      std::strcmp(pFormat->name, "webm") != 0) {
    return "the writer cannot describe it in this container";
  }
  return nullptr;
}

// A codec's descriptor by FFmpeg's name of it. FFmpeg compares the name with every descriptor's
// in turn, a measurable part of setting up a short copy; the codecs the library reads and
// writes are found by their id.
const AVCodecDescriptor* DescriptorNamed(const std::string& strName) {
  static constexpr std::pair<std::string_view, AVCodecID> kLibraryCodecs[] = {
      {"h264", AV_CODEC_ID_H264},         {"hevc", AV_CODEC_ID_HEVC},
      {"aac", AV_CODEC_ID_AAC},           {"opus", AV_CODEC_ID_OPUS},
      {"pcm_alaw", AV_CODEC_ID_PCM_ALAW}, {"pcm_mulaw", AV_CODEC_ID_PCM_MULAW}};
  for (const auto& [name, id] : kLibraryCodecs) {
    if (name == strName) return avcodec_descriptor_get(id);
  }
  return avcodec_descriptor_get_by_name(strName.c_str());
}

bool CopyExtradata(AVCodecParameters* pParams, const unsigned char* pData, int nSize) {
  return pData == nullptr || nSize <= 0 || SetExtradata(pParams, pData, static_cast<size_t>(nSize));
}

}  // namespace

AVStream* CMediaWriter::NewStream(const char* pCodecName, AVMediaType eType, bool bComplete) {
  if (!IsOpen() || m_bStarted) return nullptr;
  const std::string strName(pCodecName,
                            strnlen(pCodecName, sizeof MediaVideoStreamParam::szCodecName));
  const AVCodecDescriptor* pCodec = DescriptorNamed(strName);
  const char* pCause = nullptr;
  if (!bComplete) {
    pCause = "no sample rate or channels";
  } else if (pCodec == nullptr || pCodec->type != eType) {
    pCause = eType == AVMEDIA_TYPE_VIDEO ? "not a video codec" : "not a sound codec";
  } else {
    pCause = RefusalOf(m_pFormatCtx->oformat, pCodec->id);
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
