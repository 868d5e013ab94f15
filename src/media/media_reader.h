#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "media/decoder_form.h"
#include "media/decoding_times.h"

namespace codec_interface {

// Reads any file FFmpeg's demuxers open: every stream's facts, every packet in file order with
// its timestamps (in decoder form or as stored), and seeking to key frames.
//
// Everything a read hands out lives in this object: the packet just read (and, in decoder form,
// the stream's converted copy) until the next ReadPacket, Seek, Close or destruction; each
// stream's extradata, copied at Open, until Close or destruction.
class CMediaReader : public IMediaReader {
 public:
  CMediaReader() = default;
  ~CMediaReader() override;

  int Open(const char* pPath) override;
  void Close() override;
  int GetFileInfo(MediaFileInfo* pInfo) override;
  int GetStreamInfo(int nIndex, MediaStreamInfo* pInfo) override;
  int FindBestStream(MediaStreamKind eKind) override;
  int SetStreamEnabled(int nIndex, bool bEnabled) override;
  int SetPacketForm(MediaPacketForm eForm) override;
  int ReadPacket(MediaPacket* pPacket) override;
  int Seek(int64_t nTimeUs) override;

 private:
  struct Stream {
    explicit Stream(const AVStream* pStream) : times(pStream) {}
    std::vector<uint8_t> vecExtradata;
    bool bEnabled = true;
    CDecoderForm form;
    CDecodingTimes times;
  };

  bool IsOpen() const { return m_pFormatCtx != nullptr; }
  // The best stream of the kind without a log line; -1 when none is decodable.
  int BestStream(MediaStreamKind eKind) const;
  // Adds the streams the container announced since the last look.
  void SyncStreams();
  // Reads the next packet of an enabled stream into m_pNext: 1, 0 at the end, -1 logged.
  int ReadStored();
  // The record of a packet as stored: its bytes, timestamps and flags.
  MediaPacket Describe(const AVPacket& packet) const;
  // m_pNext becomes the packet handed out, lent to writers when bLend; the one before is
  // released, its loan ended first (see lent_packets.h).
  void ReplaceCurrent(bool bLend);
  // Releases the packet handed out, its loan ended first.
  void ReleaseCurrent();

  std::string m_strPath;
  InputFormatCtxPtr m_pFormatCtx;
  PacketPtr m_pPacket;  // the packet handed out
  PacketPtr m_pNext;    // the record the next packet is read into
  std::vector<Stream> m_vecStreams;
  MediaPacketForm m_eForm = MEDIA_PACKET_FORM_DECODER;
  // After a seek, packets of this stream are skipped up to its first key frame.
  int m_nAwaitKeyStream = -1;
  bool m_bLent = false;  // m_pPacket's bytes are lent (see lent_packets.h)
};

}  // namespace codec_interface
