#pragma once

#include "codec_interface.h"

namespace codec_interface {

// Writes encoded audio packets into a file.
class CPackAudio : public IPackAudio {
 public:
  explicit CPackAudio(AudioFilePackType eType);
  ~CPackAudio();

  int Init(const char* pPath, int nSampleRate, int nChannels, int nFrameSamples) override;
  void Close() override;
  int WritePacket(unsigned char* pData, int nSize) override;

 private:
  AudioFilePackType m_eType;
};

}  // namespace codec_interface
