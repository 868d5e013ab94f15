#pragma once

#include <memory>
#include <mutex>

#include "audio/audio_decoder.h"
#include "audio/audio_encoder.h"
#include "codec_interface.h"

namespace codec_interface {

// Audio encoders and decoders behind ICodecInterface: G.711 A-law and µ-law, Opus, Speex and
// AAC. Which one, and in which direction, is decided by the CodecType given to Init. The object
// holds the lock and the public operations; Init makes the one role's session and Uninit
// releases it.
class CFFMpegAudioCodec : public ICodecInterface {
 public:
  CFFMpegAudioCodec() = default;
  ~CFFMpegAudioCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

  // Reached from ICodecInterface::Drain, under m_mtxCodec as Decode and Encode.
  int Drain(COutParam* pOut);

 private:
  // An encoder that could not even be allocated again after a drain has nothing to encode
  // with: the object waits for Init.
  void DropBrokenEncoder();

  std::mutex m_mtxCodec;
  CodecType m_eCodecType = static_cast<CodecType>(-1);  // of the last successful Init
  std::unique_ptr<AudioDecoder> m_pDecoder;
  std::unique_ptr<AudioEncoder> m_pEncoder;
};

}  // namespace codec_interface
