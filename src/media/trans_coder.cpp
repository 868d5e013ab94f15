#include "media/trans_coder.h"

namespace codec_interface {

CTransCoder::CTransCoder() = default;
CTransCoder::~CTransCoder() = default;

int CTransCoder::Init(int, const TransCoderParam&) { return -1; }
int CTransCoder::Transcode(COutParam*, int, COutParam*) { return -1; }

}  // namespace codec_interface
