#pragma once

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Reads the compressed packets of a media file: one audio stream (required) and one video
// stream (optional), each packet ready for a codec object's Decode. No decoding here.
//
// The bytes a read hands out live in the one packet every read refills: they stay valid until
// the next read of either kind, Close or destruction. Reading one stream drops the packets of
// the other stream met on the way.
class CFileParse : public IFileParseInterface {
 public:
  CFileParse();
  ~CFileParse() override;

  int Open(const char* pPath) override;
  void Close() override;
  FileAudioCodec GetAudioCodec() override;
  FileVideoCodec GetVideoCodec() override;
  int ReadAudioPacket(unsigned char** ppData, int* pSize, int* pDurationMs) override;
  int ReadVideoPacket(unsigned char** ppData, int* pSize) override;

 private:
  friend struct FileParseTestPeer;  // tests reach the private steps through it

  // Fills m_pPacket with the next packet of stream nIndex, dropping those of other streams.
  bool ReadPacketOf(int nIndex);

  bool m_bOpen;
  int32_t m_nAudioStreamIndex;
  int32_t m_nVideoStreamIndex;
  InputFormatCtxPtr m_pFormatCtx;
  PacketPtr m_pPacket;
};

}  // namespace codec_interface
