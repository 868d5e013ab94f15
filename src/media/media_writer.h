#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "media/lent_packets.h"
#include "media/writer_form.h"

namespace codec_interface {

// Writes encoded packets of several streams into one file through libavformat.
//
// Packets come with microsecond timestamps. Until every stream has had its first packet (which
// tells its form and parameter sets) they wait here, bounded by the interleave window; then the
// header is written and they go to FFmpeg's interleaving queue, whose reach is bounded by the
// same window (max_interleave_delta), so no queue grows without bound.
class CMediaWriter final : public IMediaWriter {
 public:
  CMediaWriter() = default;
  ~CMediaWriter() override;

  int Open(const char* pPath, const char* pFormat, const MediaWriterOptions& options) override;
  int AddVideoStream(const MediaVideoStreamParam& param) override;
  int AddAudioStream(const MediaAudioStreamParam& param) override;
  int WritePacket(int nStream, const unsigned char* pData, int nSize, int64_t nPtsUs,
                  int64_t nDtsUs, int64_t nDurationUs, bool bKey) override;
  int Close() override;

 private:
  struct Stream {
    AVStream* pStream = nullptr;  // belongs to m_pFormatCtx
    CWriterForm form;
    bool bSeen = false;
    int64_t nLastDtsUs = MEDIA_NO_TIMESTAMP;
  };

  bool IsOpen() const { return m_pFormatCtx != nullptr; }
  // A new stream of the codec named, or null after a log line (also when the caller found its
  // record incomplete).
  AVStream* NewStream(const char* pCodecName, AVMediaType eType, bool bComplete);
  // Records a stream whose set-up succeeded: its index; else -1 logged, the file unusable.
  int Added(AVStream* pStream, bool bSetUp);
  // The packet's time against the stream's last and the window: 0, or -1 logged.
  int CheckTime(int nStream, int64_t nDtsUs);
  int StreamFailed(int nStream, const char* pCause);
  // Writes the header and the packets that waited for it.
  int StartFile();
  // Hands one packet (timestamps in microseconds) to the muxer: 0, or -1 logged.
  int Mux(AVPacket* pPacket);
  // Passes the packet on: to the muxer, or before the header into the waiting line (pPacket
  // is then a fresh record). 0, or -1 logged.
  int Pass(PacketPtr& pPacket);
  // Releases a packet that cannot go on for want of memory: -1 logged.
  int DropForMemory(AVPacket* pPacket);
  // Passes on the claimed packet of the call before, if any: 0, or -1 logged.
  int PassClaimed();
  bool AllSeen() const;

  std::string m_strPath;
  OutputFormatCtxPtr m_pFormatCtx;
  MediaWriterOptions m_stOptions{};
  std::vector<Stream> m_vecStreams;
  std::vector<PacketPtr> m_vecWaiting;
  PacketPtr m_pScratch;  // the record of copied packets
  PacketPtr m_pClaimed;  // the record of a packet whose bytes a reader lent
  // m_pClaimed's claim; declared after it, so that it is cancelled before the record goes.
  CPacketClaim m_claim;
  bool m_bStarted = false;
  // Below 0 once the header failed (or a stream could not be set up): nothing more is written.
  int m_nHeaderError = 0;
  int64_t m_nNewestDtsUs = MEDIA_NO_TIMESTAMP;
};

}  // namespace codec_interface
