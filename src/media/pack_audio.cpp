#include "media/pack_audio.h"

#include <cstring>

#include "interface/log.h"
#include "media/pack_extradata.h"

namespace codec_interface {

namespace {

// The muxer of each kind; FFmpeg's raw AAC muxer (the one for .aac files) is named "adts". An
// unknown kind gets a name no muxer has, so the output context cannot be made.
const char* MuxerName(AudioFilePackType eType) {
  switch (eType) {
    case AUDIO_FILE_PACK_OGG_OPUS:
      return "ogg";
    case AUDIO_FILE_PACK_MP4_OPUS:
    case AUDIO_FILE_PACK_MP4_AAC:
      return "mp4";
    case AUDIO_FILE_PACK_AAC:
      return "adts";
    case AUDIO_FILE_PACK_MP3:
      return "mp3";
  }
  return "";
}

bool ChannelMask(int nChannels, uint64_t* pMask) {
  switch (nChannels) {
    case 1:
      *pMask = AV_CH_LAYOUT_MONO;
      return true;
    case 2:
      *pMask = AV_CH_LAYOUT_STEREO;
      return true;
    case 6:
      *pMask = AV_CH_LAYOUT_5POINT1;
      return true;
    case 8:
      *pMask = AV_CH_LAYOUT_7POINT1;
      return true;
    default:
      return false;
  }
}

bool SetExtradata(AVCodecParameters* pParams, const std::vector<uint8_t>& bytes) {
  return codec_interface::SetExtradata(pParams, bytes.data(), bytes.size());
}

}  // namespace

CPackAudio::CPackAudio(AudioFilePackType eType)
    : m_ePackType(eType),
      m_pStream(nullptr),
      m_nNextPts(0),
      m_nFrameSamples(1920),
      m_nSampleRate(48000),
      m_nChannels(2),
      m_strOutputPath("output.ogg") {}

CPackAudio::~CPackAudio() = default;

int CPackAudio::Init(const char* pPath, int nSampleRate, int nChannels, int nFrameSamples) {
  if (pPath == nullptr) return -1;
  // Replacing an open output would leave that file without its trailer.
  if (m_pFormatCtx != nullptr) Close();

  m_strOutputPath = pPath;
  m_nSampleRate = nSampleRate;
  m_nChannels = nChannels;
  m_nFrameSamples = nFrameSamples;
  CODEC_LOG(kLogDebug, "初始化Ogg复用器: %s", pPath);

  AVFormatContext* pRawCtx = nullptr;
  avformat_alloc_output_context2(&pRawCtx, nullptr, MuxerName(m_ePackType), pPath);
  if (pRawCtx == nullptr) {
    CODEC_LOG(kLogError, "avformat_alloc_output_context2 failed");
    return -1;
  }
  OutputFormatCtxPtr pFormatCtx(pRawCtx);

  AVStream* pStream = avformat_new_stream(pFormatCtx.get(), nullptr);
  if (pStream == nullptr) {
    CODEC_LOG(kLogError, "avformat_new_stream failed");
    return -1;
  }
  pStream->time_base = AVRational{1, m_nSampleRate};
  if (FillStreamParams(pStream->codecpar) < 0) {
    CODEC_LOG(kLogError, "FillStreamParams failed");
    return -1;
  }

  PacketPtr pPacket(av_packet_alloc());
  if (pPacket == nullptr) {
    CODEC_LOG(kLogError, "av_packet_alloc failed");
    return -1;
  }

  if (WritesFile(pFormatCtx.get()) && avio_open(&pFormatCtx->pb, pPath, AVIO_FLAG_WRITE) < 0) {
    CODEC_LOG(kLogError, "open file[%s] failed", pPath);
    return -1;
  }

  AvOptions options;
  const int nHeader = avformat_write_header(pFormatCtx.get(), options.Slot());
  if (nHeader < 0) {
    CODEC_LOG(kLogError, "avformat_write_header failed[%d]: %s", nHeader,
              AvErrorText(nHeader).c_str());
    return -1;  // the owner closes the file and frees the context
  }

  m_pFormatCtx = std::move(pFormatCtx);
  m_pStream = pStream;
  m_pPacket = std::move(pPacket);
  CODEC_LOG(kLogDebug, "Ogg文件初始化成功");
  return 0;
}

int CPackAudio::FillStreamParams(AVCodecParameters* pParams) {
  pParams->codec_type = AVMEDIA_TYPE_AUDIO;
  pParams->sample_rate = m_nSampleRate;
  pParams->ch_layout.nb_channels = m_nChannels;
  uint64_t nMask = 0;
  if (!ChannelMask(m_nChannels, &nMask)) {
    CODEC_LOG(kLogError, "unsupport Channels: %d", m_nChannels);
    return -1;
  }
  // The order stays unspecified: the containers take the channel count from the codec header.
  pParams->ch_layout.u.mask = nMask;

  bool bExtradata = true;
  switch (m_ePackType) {
    case AUDIO_FILE_PACK_OGG_OPUS:
      pParams->codec_id = AV_CODEC_ID_OPUS;
      bExtradata = SetExtradata(pParams, MakeOpusHead(m_nSampleRate, m_nChannels));
      break;
    case AUDIO_FILE_PACK_MP4_OPUS:
      pParams->codec_id = AV_CODEC_ID_OPUS;
      bExtradata = SetExtradata(pParams, MakeOpusDops(m_nSampleRate, m_nChannels));
      break;
    case AUDIO_FILE_PACK_MP4_AAC:
      pParams->codec_id = AV_CODEC_ID_AAC;
      bExtradata = SetExtradata(pParams, MakeAacSpecificConfig(m_nSampleRate, m_nChannels));
      break;
    case AUDIO_FILE_PACK_AAC:
      // No extradata: the "adts" muxer then writes every packet exactly as given, so a host
      // hands it whole ADTS frames (header, then payload).
      pParams->codec_id = AV_CODEC_ID_AAC;
      break;
    case AUDIO_FILE_PACK_MP3:
      pParams->codec_id = AV_CODEC_ID_MP3;
      break;
  }
  pParams->format = AV_SAMPLE_FMT_FLTP;
  // Every packet lasts this long; the MP4 muxer warns on each file when it is not told.
  pParams->frame_size = m_nFrameSamples;
  return bExtradata ? 0 : -1;
}

int CPackAudio::WritePacket(unsigned char* pData, int nSize) {
  if (m_pFormatCtx == nullptr || m_pStream == nullptr) return -1;
  if (pData == nullptr || nSize < 0) return -1;

  AVPacket* pPacket = m_pPacket.get();
  pPacket->data = pData;
  pPacket->size = nSize;
  pPacket->stream_index = m_pStream->index;
  pPacket->pts = m_nNextPts;
  pPacket->dts = m_nNextPts;
  pPacket->duration = m_nFrameSamples;
  // Our count is in samples at the Init rate; a muxer may have chosen its own clock.
  av_packet_rescale_ts(pPacket, AVRational{1, m_nSampleRate}, m_pStream->time_base);
  pPacket->time_base = m_pStream->time_base;
  pPacket->flags |= AV_PKT_FLAG_KEY;

  // The muxer references (copies) the bytes and leaves the packet blank, success or not.
  const int nWrite = av_interleaved_write_frame(m_pFormatCtx.get(), pPacket);
  if (nWrite < 0) {
    CODEC_LOG(kLogError, "av_interleaved_write_frame failed[%d]:%s", nWrite,
              AvErrorText(nWrite).c_str());
    return -1;
  }
  m_nNextPts += m_nFrameSamples;
  return 0;
}

void CPackAudio::Close() {
  if (m_pFormatCtx != nullptr) {
    const int nTrailer = av_write_trailer(m_pFormatCtx.get());
    m_nCloseResult = 0;
    if (nTrailer < 0) {
      CODEC_LOG(kLogError, "av_write_trailer failed[%d]: %s", nTrailer,
                AvErrorText(nTrailer).c_str());
      m_nCloseResult = -1;
    }
    // The last buffered bytes reach the file only here; a full disk may show only now.
    const int nFlush = WritesFile(m_pFormatCtx.get()) ? avio_closep(&m_pFormatCtx->pb) : 0;
    if (nFlush < 0 && m_nCloseResult == 0) {
      CODEC_LOG(kLogError, "PackAudio Close[%s] failed: %s", m_strOutputPath.c_str(),
                AvErrorText(nFlush).c_str());
      m_nCloseResult = -1;
    }
    m_pStream = nullptr;
    m_pFormatCtx.reset();  // closes the file, then frees the context
    m_pPacket.reset();
  }
  CODEC_LOG(kLogDebug, "Ogg文件已关闭");
}

int IPackAudio::LastCloseResult(const IPackAudio& pack) {
  const auto* pOurs = dynamic_cast<const CPackAudio*>(&pack);
  return pOurs != nullptr ? pOurs->CloseResult() : -1;
}

}  // namespace codec_interface
