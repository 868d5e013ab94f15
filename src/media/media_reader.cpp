#include "media/media_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "interface/log.h"
#include "media/lent_packets.h"
#include "media/media_stream_info.h"
#include "media/microseconds.h"

namespace codec_interface {

namespace {

const char* KindName(MediaStreamKind eKind) {
  switch (eKind) {
    case MEDIA_STREAM_VIDEO:
      return "video";
    case MEDIA_STREAM_AUDIO:
      return "audio";
    case MEDIA_STREAM_SUBTITLE:
      return "subtitle";
    default:
      return "other";
  }
}

MediaStreamKind KindOf(const AVStream* pStream) {
  return MediaKindOf(pStream->codecpar->codec_type);
}

bool IsDefault(const AVStream* pStream) {
  return (pStream->disposition & AV_DISPOSITION_DEFAULT) != 0;
}

bool IsCoverArt(const AVStream* pStream) {
  return (pStream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

std::filesystem::path PathOf(const char* pUtf8) {
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(pUtf8)));
}

// What FFmpeg does not say clearly about why a path does not open: a folder, an empty file
// (which its probe calls invalid data). Null when FFmpeg's own error text says it.
const char* PathRefusal(const char* pPath, int nError) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(PathOf(pPath), error);
  if (fs::is_directory(status)) return "it is a folder";
  const bool probeFailed = nError == AVERROR_INVALIDDATA || nError == AVERROR_EOF;
  if (probeFailed && fs::is_regular_file(status) && fs::file_size(PathOf(pPath), error) == 0 &&
      !error) {
    return "the file is empty";
  }
  return nullptr;
}

}  // namespace

CMediaReader::~CMediaReader() { CMediaReader::Close(); }

int CMediaReader::Open(const char* pPath) {
  if (pPath == nullptr || IsOpen()) return -1;
  InstallFFmpegLogBridge();
  // avformat_open_input frees the context itself when it fails.
  AVFormatContext* raw = nullptr;
  int err = avformat_open_input(&raw, pPath, nullptr, nullptr);
  if (err < 0) {
    const char* refusal = PathRefusal(pPath, err);
    CODEC_LOG(kLogError, "MediaReader Open[%s] failed: %s", pPath,
              refusal != nullptr ? refusal : AvErrorText(err).c_str());
    return -1;
  }
  InputFormatCtxPtr ctx(raw);
  err = avformat_find_stream_info(ctx.get(), nullptr);
  if (err < 0) {
    CODEC_LOG(kLogError, "MediaReader Open[%s] failed to read the streams: %s", pPath,
              AvErrorText(err).c_str());
    return -1;
  }
  PacketPtr packet(av_packet_alloc()), next(av_packet_alloc());
  if (packet == nullptr || next == nullptr) return -1;
  m_pFormatCtx = std::move(ctx);
  m_pPacket = std::move(packet);
  m_pNext = std::move(next);
  m_strPath = pPath;
  m_nAwaitKeyStream = -1;
  SyncStreams();
  return 0;
}

void CMediaReader::Close() {
  ReleaseCurrent();
  m_vecStreams.clear();
  m_pPacket.reset();
  m_pNext.reset();
  m_pFormatCtx.reset();
  m_nAwaitKeyStream = -1;
}

void CMediaReader::SyncStreams() {
  // Some containers (MPEG-TS) announce streams while they are read.
  for (size_t i = m_vecStreams.size(); i < m_pFormatCtx->nb_streams; ++i) {
    const AVCodecParameters* par = m_pFormatCtx->streams[i]->codecpar;
    Stream& stream = m_vecStreams.emplace_back(m_pFormatCtx->streams[i]);
    if (par->extradata_size > 0) {
      stream.vecExtradata.assign(par->extradata, par->extradata + par->extradata_size);
    }
  }
}

int CMediaReader::GetFileInfo(MediaFileInfo* pInfo) {
  if (!IsOpen() || pInfo == nullptr) return -1;
  *pInfo = MediaFileInfo{};
  const AVFormatContext* ctx = m_pFormatCtx.get();
  pInfo->nStartTimeUs = ctx->start_time;  // AV_NOPTS_VALUE is MEDIA_NO_TIMESTAMP
  pInfo->nDurationUs = ctx->duration;
  pInfo->nBitRate = std::max<int64_t>(ctx->bit_rate, 0);
  pInfo->nStreamCount = static_cast<int32_t>(ctx->nb_streams);
  std::snprintf(pInfo->szFormatName, sizeof pInfo->szFormatName, "%s", ctx->iformat->name);
  return 0;
}

int CMediaReader::GetStreamInfo(int nIndex, MediaStreamInfo* pInfo) {
  if (!IsOpen() || pInfo == nullptr || nIndex < 0 || nIndex >= int(m_vecStreams.size())) return -1;
  FillMediaStreamInfo(m_pFormatCtx.get(), m_pFormatCtx->streams[nIndex],
                      m_vecStreams[nIndex].vecExtradata, pInfo);
  return 0;
}

int CMediaReader::BestStream(MediaStreamKind eKind) const {
  int best = -1;
  for (size_t i = 0; i < m_vecStreams.size(); ++i) {
    const AVStream* st = m_pFormatCtx->streams[i];
    if (KindOf(st) != eKind || IsCoverArt(st) || LibraryDecoderOf(st->codecpar) < 0) continue;
    // The first default stream, else the first.
    if (best < 0 || (IsDefault(st) && !IsDefault(m_pFormatCtx->streams[best]))) {
      best = static_cast<int>(i);
    }
  }
  return best;
}

int CMediaReader::FindBestStream(MediaStreamKind eKind) {
  if (!IsOpen()) return -1;
  const int best = BestStream(eKind);
  if (best >= 0) return best;
  const char* path = m_strPath.c_str();
  for (size_t i = 0; i < m_vecStreams.size(); ++i) {
    const AVStream* st = m_pFormatCtx->streams[i];
    if (KindOf(st) != eKind) continue;
    CODEC_LOG(kLogWarning, "MediaReader[%s] has no %s stream the library decodes (stream %d is %s)",
              path, KindName(eKind), static_cast<int>(i),
              IsCoverArt(st) ? "cover art" : avcodec_get_name(st->codecpar->codec_id));
    return -1;
  }
  CODEC_LOG(kLogInfo, "MediaReader[%s] has no %s stream", path, KindName(eKind));
  return -1;
}

int CMediaReader::SetStreamEnabled(int nIndex, bool bEnabled) {
  if (!IsOpen() || nIndex < 0 || nIndex >= int(m_vecStreams.size())) return -1;
  m_vecStreams[nIndex].bEnabled = bEnabled;
  m_pFormatCtx->streams[nIndex]->discard = bEnabled ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  return 0;
}

int CMediaReader::SetPacketForm(MediaPacketForm eForm) {
  if (eForm != MEDIA_PACKET_FORM_DECODER && eForm != MEDIA_PACKET_FORM_STORED) return -1;
  m_eForm = eForm;
  return 0;
}

int CMediaReader::ReadStored() {
  AVFormatContext* ctx = m_pFormatCtx.get();
  AVPacket* next = m_pNext.get();
  // The record holds nothing here; a packet skipped below is released before the next read, as
  // av_read_frame does not release what the packet held before.
  for (;; av_packet_unref(next)) {
    const int err = av_read_frame(ctx, next);
    if (err == AVERROR_EOF) return 0;
    if (err < 0) {
      CODEC_LOG(kLogError, "MediaReader ReadPacket[%s] failed: %s", m_strPath.c_str(),
                AvErrorText(err).c_str());
      return -1;
    }
    if (m_vecStreams.size() < ctx->nb_streams) SyncStreams();
    const int index = next->stream_index;
    if (!m_vecStreams[index].bEnabled) continue;
    // A short read at the end of the file: the demuxer hands out what was there, marked.
    if ((next->flags & AV_PKT_FLAG_CORRUPT) && ctx->pb != nullptr && avio_feof(ctx->pb)) {
      CODEC_LOG(kLogError,
                "MediaReader ReadPacket[%s] failed: the file ends inside a packet "
                "of stream %d",
                m_strPath.c_str(), index);
      av_packet_unref(next);
      return -1;
    }
    if (index == m_nAwaitKeyStream) {
      if (!(next->flags & AV_PKT_FLAG_KEY)) continue;
      m_nAwaitKeyStream = -1;
    }
    m_vecStreams[index].times.Fill(next);
    return 1;
  }
}

int CMediaReader::ReadPacket(MediaPacket* pPacket) {
  if (!IsOpen() || pPacket == nullptr) return -1;
  for (;;) {
    const int got = ReadStored();
    if (got <= 0) {
      ReleaseCurrent();
      return got;
    }
    // A writer copying the packet on keeps its bytes instead of copying them.
    const bool bStored = m_eForm == MEDIA_PACKET_FORM_STORED;
    ReplaceCurrent(bStored);
    // Timestamps and flags first: the Annex B filters take the packet over.
    MediaPacket out = Describe(*m_pPacket);
    if (bStored) {
      *pPacket = out;
      return 1;
    }
    const AVStream* st = m_pFormatCtx->streams[out.nStreamIndex];
    const uint8_t* data = nullptr;
    const int converted =
        m_vecStreams[out.nStreamIndex].form.Convert(st, m_pPacket.get(), &data, &out.nSize);
    if (converted < 0) return -1;
    if (converted == 0) continue;
    out.pData = data;
    *pPacket = out;
    return 1;
  }
}

MediaPacket CMediaReader::Describe(const AVPacket& packet) const {
  const AVRational tb = m_pFormatCtx->streams[packet.stream_index]->time_base;
  MediaPacket out{};
  out.nPtsUs = ToMicroseconds(packet.pts, tb);
  out.nDtsUs = ToMicroseconds(packet.dts, tb);
  out.nDurationUs = packet.duration > 0 ? ToMicroseconds(packet.duration, tb) : 0;
  if (out.nDurationUs == MEDIA_NO_TIMESTAMP) out.nDurationUs = 0;
  out.nPts = packet.pts;
  out.nDts = packet.dts;
  out.nDuration = packet.duration;
  out.nStreamIndex = packet.stream_index;
  out.nSize = packet.size;
  out.nFlags = ((packet.flags & AV_PKT_FLAG_KEY) ? MEDIA_PACKET_KEY : 0) |
               ((packet.flags & AV_PKT_FLAG_CORRUPT) ? MEDIA_PACKET_CORRUPT : 0);
  out.pData = packet.data;
  return out;
}

void CMediaReader::ReplaceCurrent(bool bLend) {
  if (m_bLent || bLend)
    MoveLoan(m_bLent ? m_pPacket.get() : nullptr, bLend ? m_pNext.get() : nullptr);
  m_bLent = bLend;
  // A packet whose bytes went on to a writer holds nothing more, and av_read_frame takes a
  // record holding nothing as it is: no second reset per copied packet.
  AVPacket* pDone = m_pPacket.get();
  if (pDone->buf != nullptr || pDone->side_data != nullptr || pDone->opaque_ref != nullptr) {
    av_packet_unref(pDone);
  }
  std::swap(m_pPacket, m_pNext);
}

void CMediaReader::ReleaseCurrent() {
  if (m_bLent) MoveLoan(m_pPacket.get(), nullptr);
  m_bLent = false;
  if (m_pPacket != nullptr) av_packet_unref(m_pPacket.get());
}

int CMediaReader::Seek(int64_t nTimeUs) {
  if (!IsOpen()) return -1;
  AVFormatContext* ctx = m_pFormatCtx.get();
  const char* path = m_strPath.c_str();
  if (ctx->duration != AV_NOPTS_VALUE && nTimeUs > ctx->duration) {
    CODEC_LOG(kLogError, "MediaReader Seek[%s] to %lld us: past the end (%lld us)", path,
              static_cast<long long>(nTimeUs), static_cast<long long>(ctx->duration));
    return -1;
  }
  int index = BestStream(MEDIA_STREAM_VIDEO);
  if (index < 0 || !m_vecStreams[index].bEnabled) {
    const auto enabled = std::find_if(m_vecStreams.begin(), m_vecStreams.end(),
                                      [](const Stream& s) { return s.bEnabled; });
    index = enabled == m_vecStreams.end() ? -1 : static_cast<int>(enabled - m_vecStreams.begin());
  }
  const int64_t start = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
  const int64_t target = start + std::max<int64_t>(nTimeUs, 0);
  const AVRational tb = index >= 0 ? ctx->streams[index]->time_base : AV_TIME_BASE_Q;
  const int err =
      av_seek_frame(ctx, index, av_rescale_q(target, AV_TIME_BASE_Q, tb), AVSEEK_FLAG_BACKWARD);
  if (err < 0) {
    CODEC_LOG(kLogError, "MediaReader Seek[%s] to %lld us failed: %s", path,
              static_cast<long long>(nTimeUs), AvErrorText(err).c_str());
    return -1;
  }
  for (Stream& stream : m_vecStreams) {
    stream.form.Flush();
    stream.times.Restart();
  }
  ReleaseCurrent();
  m_nAwaitKeyStream = index;
  return 0;
}

}  // namespace codec_interface
