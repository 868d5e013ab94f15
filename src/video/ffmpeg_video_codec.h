#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "codec_interface.h"
#include "video/easy_param_mailbox.h"
#include "video/video_decoder.h"
#include "video/video_encoder.h"

namespace codec_interface {

// Video encoders and decoders behind ICodecInterface: one object is either a decoder (H.264,
// HEVC, MJPEG, in software or on a hardware device) or an encoder (H.264, HEVC, BMP), as the
// CodecType given to Init decides. The object holds the lock and the public operations; Init
// makes the one role's session and Uninit releases it.
class CFFMpegVideoCodec : public ICodecInterface {
 public:
  CFFMpegVideoCodec() = default;
  ~CFFMpegVideoCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

  // Reached from ICodecInterface's static additions, under m_mtxCodec as Decode and Encode.
  int Drain(COutParam* pOut);
  int SetEncoderFrameRate(int nNum, int nDen);
  int SetEncoderColour(int nMatrix, int nRange, int nPrimaries, int nTransfer);
  int SetThreads(int nCount, int nKinds);
  int DecodeTimed(unsigned char* pData, int nSize, int64_t nTimeUs, COutParam* pOut);

 private:
  // The object's own thread choice, else the process-wide default of the role.
  ThreadChoice ChosenThreads(bool bDecoder) const;
  int DecodeLocked(unsigned char* pData, int nSize, COutParam* pOutParam, int64_t nPts);

  std::mutex m_mtxCodec;
  CodecType m_eCodecType = static_cast<CodecType>(-1);  // of the last successful Init
  std::unique_ptr<VideoDecoder> m_pDecoder;
  std::unique_ptr<VideoEncoder> m_pEncoder;
  EasyParamMailbox m_easyParam;
  EncoderChoices m_stChoices;             // from SetEncoderFrameRate and SetEncoderColour
  std::optional<ThreadChoice> m_threads;  // from SetThreads
  int64_t m_nFrameIndex = 0;              // the encoder's next picture time, over every Init
};

}  // namespace codec_interface
