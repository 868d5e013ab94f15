#include "video/ffmpeg_video_codec.h"

#include <cstring>

namespace codec_interface {

CFFMpegVideoCodec::CFFMpegVideoCodec()
    : m_bKeepAspect(false),
      m_nRealDstWidth(0),
      m_nRealDstHeight(0),
      m_nDstWidth(0),
      m_nDstHeight(0),
      m_nSrcWidth(0),
      m_nSrcHeight(0),
      m_nCommandQueueCount(0),
      m_nDeviceIndex(0),
      m_bSrcSizeFixed(false),
      m_eCodecType(static_cast<CodecType>(-1)),
      m_bDecoder(true),
      m_ePixFmt(AV_PIX_FMT_NONE),
      m_eHwPixFmt(AV_PIX_FMT_NONE),
      m_pHwDeviceRef(nullptr),
      m_pCodec(nullptr),
      m_pCodecCtx(nullptr),
      m_pSwsCtx(nullptr),
      m_nSwsSrcWidth(0),
      m_nSwsSrcHeight(0),
      m_eSwsSrcPixFmt(AV_PIX_FMT_NONE),
      m_pBufferSrcCtx(nullptr),
      m_pBufferSinkCtx(nullptr),
      m_pFilterGraph(nullptr),
      m_pFilterInputs(nullptr),
      m_pFilterOutputs(nullptr),
      m_pVideoFrame(nullptr),
      m_pFilterFrame(nullptr),
      m_pSwFrame(nullptr),
      m_pSwsFrame(nullptr),
      m_pTempFrame(nullptr),
      m_pImageBuf(nullptr),
      m_nImageBufSize(0),
      m_nFrameIndex(0),
      m_pPacket(nullptr),
      m_pEncodeOptions(nullptr),
      m_bEasyParamPending(false),
      m_bInit(false) {
  std::memset(&m_stEasyParam, 0, sizeof m_stEasyParam);
}

CFFMpegVideoCodec::~CFFMpegVideoCodec() { CFFMpegVideoCodec::Uninit(); }

// Placeholders until video setup lands: every operation refuses.
int CFFMpegVideoCodec::Init(CodecType, CodecParam) { return -1; }
void CFFMpegVideoCodec::Uninit() {}
int CFFMpegVideoCodec::Reset(CodecParam) { return -1; }
void CFFMpegVideoCodec::SetEasyParam(VideoEasyParam) {}
CodecType CFFMpegVideoCodec::GetCodecType() { return m_eCodecType; }
void CFFMpegVideoCodec::FFmpegLogCallback(void*, int, const char*, va_list) {}
void CFFMpegVideoCodec::ReleaseCodecContext() {}

}  // namespace codec_interface
