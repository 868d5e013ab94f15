#include "media/media_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "interface/log.h"
#include "media/lent_packets.h"
#include "media/microseconds.h"

namespace codec_interface {

namespace {

constexpr int64_t kDefaultWindowUs = 10000000;

long long Ll(int64_t n) { return static_cast<long long>(n); }

bool IsMovFamily(const AVOutputFormat* pFormat) {
  return std::strcmp(pFormat->name, "mp4") == 0 || std::strcmp(pFormat->name, "mov") == 0;
}

// Fragments at video key frames, or by time: sound alone is all key frames and would make a
// fragment of every packet.
void SetFragments(AvOptions& options, int nFragmentMs, bool bVideo) {
  if (nFragmentMs > 0 || !bVideo) {
    options.Set("movflags", "+empty_moov+delay_moov+default_base_moof");
    const int64_t nUs = static_cast<int64_t>(nFragmentMs > 0 ? nFragmentMs : 1000) * 1000;
    options.Set("frag_duration", std::to_string(nUs).c_str());
  } else {
    options.Set("movflags", "+frag_keyframe+empty_moov+delay_moov+default_base_moof");
  }
}

// A copy of the packet's bytes: the caller's buffer is free once WritePacket returns. False
// when out of memory.
bool CopyBytes(AVPacket* pPacket, const uint8_t* pData, int nSize) {
  if (av_new_packet(pPacket, nSize) < 0) return false;
  std::memcpy(pPacket->data, pData, static_cast<size_t>(nSize));
  return true;
}

}  // namespace

CMediaWriter::~CMediaWriter() { CMediaWriter::Close(); }

int CMediaWriter::Open(const char* pPath, const char* pFormat, const MediaWriterOptions& options) {
  if (pPath == nullptr || IsOpen()) return -1;
  InstallFFmpegLogBridge();
  AVFormatContext* pRaw = nullptr;
  avformat_alloc_output_context2(&pRaw, nullptr, pFormat, pPath);
  if (pRaw == nullptr) {
    CODEC_LOG(kLogError, "MediaWriter Open[%s] failed: no container %s", pPath,
              pFormat != nullptr ? pFormat : "for its ending");
    return -1;
  }
  OutputFormatCtxPtr pCtx(pRaw);
  if ((options.nFlags & MEDIA_WRITER_CRASH_SAFE) != 0 && !IsMovFamily(pCtx->oformat)) {
    CODEC_LOG(kLogError, "MediaWriter Open[%s] failed: crash-safe mode needs MP4 or MOV", pPath);
    return -1;
  }
  if (WritesFile(pCtx.get())) {
    const int nError = avio_open(&pCtx->pb, pPath, AVIO_FLAG_WRITE);
    if (nError < 0) {
      CODEC_LOG(kLogError, "MediaWriter Open[%s] failed: %s", pPath, AvErrorText(nError).c_str());
      return -1;
    }
  }
  m_pScratch.reset(av_packet_alloc());
  m_pClaimed.reset(av_packet_alloc());
  if (m_pScratch == nullptr || m_pClaimed == nullptr) {
    CODEC_LOG(kLogError, "MediaWriter Open[%s] failed: out of memory", pPath);
    return -1;
  }
  m_stOptions = options;
  if (m_stOptions.nInterleaveWindowUs <= 0) m_stOptions.nInterleaveWindowUs = kDefaultWindowUs;
  // FFmpeg's own queue then never holds more than the window either.
  pCtx->max_interleave_delta = m_stOptions.nInterleaveWindowUs;
  // Every complete fragment goes to the operating system at once, where a killed process
  // cannot lose it.
  if ((options.nFlags & MEDIA_WRITER_CRASH_SAFE) != 0) pCtx->flush_packets = 1;
  m_strPath = pPath;
  m_pFormatCtx = std::move(pCtx);
  return 0;
}

int CMediaWriter::StreamFailed(int nStream, const char* pCause) {
  CODEC_LOG(kLogError, "MediaWriter stream %d: %s", nStream, pCause);
  return -1;
}

int CMediaWriter::CheckTime(int nStream, int64_t nDtsUs) {
  const int64_t nLastUs = m_vecStreams[static_cast<size_t>(nStream)].nLastDtsUs;
  if (nLastUs != MEDIA_NO_TIMESTAMP && nDtsUs <= nLastUs) {
    CODEC_LOG(kLogError,
              "MediaWriter stream %d: decoding time %lld us is not after the previous "
              "%lld us",
              nStream, Ll(nDtsUs), Ll(nLastUs));
    return -1;
  }
  const int64_t nWindowUs = m_stOptions.nInterleaveWindowUs;
  if (m_nNewestDtsUs != MEDIA_NO_TIMESTAMP && m_nNewestDtsUs - nDtsUs > nWindowUs) {
    CODEC_LOG(kLogError,
              "MediaWriter stream %d: packet at %lld us is %lld us behind the newest, "
              "past the %lld us window",
              nStream, Ll(nDtsUs), Ll(m_nNewestDtsUs - nDtsUs), Ll(nWindowUs));
    return -1;
  }
  return 0;
}

bool CMediaWriter::AllSeen() const {
  return std::all_of(m_vecStreams.begin(), m_vecStreams.end(),
                     [](const Stream& s) { return s.bSeen; });
}

int CMediaWriter::WritePacket(int nStream, const unsigned char* pData, int nSize, int64_t nPtsUs,
                              int64_t nDtsUs, int64_t nDurationUs, bool bKey) {
  if (!IsOpen() || nStream < 0 || nStream >= static_cast<int>(m_vecStreams.size()) ||
      pData == nullptr || nSize <= 0) {
    return -1;
  }
  if (m_nHeaderError < 0) return StreamFailed(nStream, "the file's header could not be written");
  if (PassClaimed() < 0) return -1;
  if (nDtsUs == MEDIA_NO_TIMESTAMP) nDtsUs = nPtsUs;
  if (nDtsUs == MEDIA_NO_TIMESTAMP) return StreamFailed(nStream, "a packet without timestamps");
  if (CheckTime(nStream, nDtsUs) < 0) return -1;
  Stream& stream = m_vecStreams[static_cast<size_t>(nStream)];
  if (!stream.bSeen && !m_bStarted) {
    const char* pCause =
        stream.form.Learn(stream.pStream->codecpar, m_pFormatCtx->oformat->name, pData, nSize);
    if (pCause != nullptr) return StreamFailed(nStream, pCause);
  }
  stream.bSeen = true;
  stream.form.Payload(&pData, &nSize);

  // Bytes of a reader's packet are claimed, and the packet goes on at the next call, by when
  // the reader has usually moved on and handed its reference over; other bytes are copied.
  AVPacket* pPacket = m_pClaimed.get();
  const bool bClaimed = m_claim.Claim(pPacket, pData, nSize);
  if (bClaimed) {
    pPacket->data = const_cast<uint8_t*>(pData);  // FFmpeg's field is not const; nothing writes
    pPacket->size = nSize;
  } else {
    pPacket = m_pScratch.get();
    if (!CopyBytes(pPacket, pData, nSize)) return StreamFailed(nStream, "out of memory");
  }
  pPacket->stream_index = nStream;
  pPacket->pts = nPtsUs;
  pPacket->dts = nDtsUs;
  pPacket->duration = nDurationUs;
  pPacket->flags = bKey ? AV_PKT_FLAG_KEY : 0;
  stream.nLastDtsUs = nDtsUs;
  m_nNewestDtsUs = m_nNewestDtsUs == MEDIA_NO_TIMESTAMP ? nDtsUs : std::max(m_nNewestDtsUs, nDtsUs);
  const int nResult = bClaimed ? 0 : Pass(m_pScratch);
  // A stream that stays silent for a whole window does not hold the others back any longer.
  const bool bWaitedTooLong = !m_vecWaiting.empty() && m_nNewestDtsUs - m_vecWaiting.front()->dts >
                                                           m_stOptions.nInterleaveWindowUs;
  return nResult == 0 && !m_bStarted && (AllSeen() || bWaitedTooLong) ? StartFile() : nResult;
}

int CMediaWriter::PassClaimed() {
  if (!m_claim.Waiting()) return 0;
  if (!m_claim.Settle()) return DropForMemory(m_pClaimed.get());
  return Pass(m_pClaimed);
}

int CMediaWriter::DropForMemory(AVPacket* pPacket) {
  const int nStream = pPacket->stream_index;  // before the release blanks it
  av_packet_unref(pPacket);
  return StreamFailed(nStream, "out of memory");
}

int CMediaWriter::Pass(PacketPtr& pPacket) {
  if (m_bStarted) return Mux(pPacket.get());
  // Before the header each packet waits in a record of its own; once it is out the muxer takes
  // each packet's bytes over and leaves the record blank, so one record serves every packet.
  PacketPtr pRecord(av_packet_alloc());
  if (pRecord == nullptr) return DropForMemory(pPacket.get());
  std::swap(pRecord, pPacket);
  m_vecWaiting.push_back(std::move(pRecord));
  return 0;
}

int CMediaWriter::StartFile() {
  m_bStarted = true;
  AvOptions options;
  if ((m_stOptions.nFlags & MEDIA_WRITER_CRASH_SAFE) != 0) {
    const bool bVideo = std::any_of(m_vecStreams.begin(), m_vecStreams.end(), [](const Stream& s) {
      return s.pStream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    });
    SetFragments(options, m_stOptions.nFragmentMs, bVideo);
  }
  const int nHeader = m_nHeaderError < 0
                          ? m_nHeaderError
                          : avformat_write_header(m_pFormatCtx.get(), options.Slot());
  if (nHeader < 0) {
    m_nHeaderError = nHeader;
    m_vecWaiting.clear();
    CODEC_LOG(kLogError, "MediaWriter header of %s failed: %s", m_strPath.c_str(),
              AvErrorText(nHeader).c_str());
    return -1;
  }
  int nResult = 0;
  for (PacketPtr& pPacket : m_vecWaiting) {
    if (nResult == 0) nResult = Mux(pPacket.get());
  }
  m_vecWaiting.clear();
  return nResult;
}

int CMediaWriter::Mux(AVPacket* pPacket) {
  const int nStream = pPacket->stream_index;
  const AVRational timeBase = m_pFormatCtx->streams[nStream]->time_base;
  PacketFromMicroseconds(pPacket, timeBase);
  pPacket->time_base = timeBase;
  // The muxer takes the packet's reference, success or not.
  const int nError = av_interleaved_write_frame(m_pFormatCtx.get(), pPacket);
  if (nError < 0) {
    CODEC_LOG(kLogError, "MediaWriter stream %d: writing failed: %s", nStream,
              AvErrorText(nError).c_str());
    return -1;
  }
  return 0;
}

int CMediaWriter::Close() {
  if (!IsOpen()) return 0;
  int nResult = 0;
  if (m_nHeaderError < 0) {
    m_claim.Cancel();
  } else {
    nResult = PassClaimed();
  }
  if (!m_bStarted && StartFile() < 0) nResult = -1;
  if (m_nHeaderError == 0) {
    const int nTrailer = av_write_trailer(m_pFormatCtx.get());
    if (nTrailer < 0) {
      CODEC_LOG(kLogError, "MediaWriter Close[%s] failed: %s", m_strPath.c_str(),
                AvErrorText(nTrailer).c_str());
      nResult = -1;
    }
  }
  // The last buffered bytes reach the file only here.
  const int nFlush = WritesFile(m_pFormatCtx.get()) ? avio_closep(&m_pFormatCtx->pb) : 0;
  if (nFlush < 0 && nResult == 0) {
    CODEC_LOG(kLogError, "MediaWriter Close[%s] failed: %s", m_strPath.c_str(),
              AvErrorText(nFlush).c_str());
    nResult = -1;
  }
  m_pFormatCtx.reset();
  m_pScratch.reset();
  m_pClaimed.reset();
  m_vecStreams.clear();
  m_vecWaiting.clear();
  m_bStarted = false;
  m_nHeaderError = 0;
  m_nNewestDtsUs = MEDIA_NO_TIMESTAMP;
  return nResult;
}

}  // namespace codec_interface
