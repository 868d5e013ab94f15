#pragma once

#include <mutex>

#include "codec_interface.h"

namespace codec_interface {

// Audio encoders and decoders behind ICodecInterface.
class CFFMpegAudioCodec : public ICodecInterface {
 public:
  CFFMpegAudioCodec();
  ~CFFMpegAudioCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

 private:
  std::mutex m_mtxCodec;
  CodecType m_eCodecType;
};

}  // namespace codec_interface
