#pragma once

#include "codec_interface.h"

namespace codec_interface {

// Converts raw pictures or raw sound between formats without a codec.
class CTransCoder : public ITransCoder {
 public:
  CTransCoder();
  virtual ~CTransCoder();

  int Init(int nKind, const TransCoderParam& param) override;
  int Transcode(COutParam* pSrc, int nIndex, COutParam* pDst) override;
};

}  // namespace codec_interface
