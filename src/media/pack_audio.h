#pragma once

#include <cstdint>
#include <string>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Writes already-encoded audio packets into one container file (Ogg or MP4 with Opus, MP4 with
// AAC, raw AAC through the "adts" muxer, MP3), giving every packet a running timestamp.
//
// Timestamps count samples at the rate given to Init and run on across Init and Close: a second
// file written by the same object continues where the first ended. When a muxer keeps its own
// clock (Ogg counts Opus at 48000 Hz whatever the input rate), each packet's times are rescaled
// to it, so the file plays at the right speed.
//
// Init on an open packer first finishes the open file as Close does. Destroying an open packer
// releases the muxer and closes the file without writing its trailer: call Close to finish it.
class CPackAudio final : public IPackAudio {
 public:
  explicit CPackAudio(AudioFilePackType eType);
  ~CPackAudio();

  int Init(const char* pPath, int nSampleRate, int nChannels, int nFrameSamples) override;
  void Close() override;
  // The bytes are copied by libavformat: the caller may reuse its buffer after the call.
  // Null data or a negative size is refused (-1) like a write without an open file.
  int WritePacket(unsigned char* pData, int nSize) override;
  // 0, or -1 when the last Close could not finish the file (see IPackAudio::LastCloseResult).
  int CloseResult() const { return m_nCloseResult; }

 private:
  int FillStreamParams(AVCodecParameters* pParams);

  AudioFilePackType m_ePackType;
  OutputFormatCtxPtr m_pFormatCtx;
  AVStream* m_pStream;  // belongs to m_pFormatCtx
  PacketPtr m_pPacket;
  int64_t m_nNextPts;
  int m_nFrameSamples;
  int m_nSampleRate;
  int m_nChannels;
  std::string m_strOutputPath;
  int m_nCloseResult = 0;
};

}  // namespace codec_interface
