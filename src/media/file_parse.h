#pragma once

#include "codec_interface.h"

namespace codec_interface {

// Reads the audio and video packets of a media file.
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
};

}  // namespace codec_interface
