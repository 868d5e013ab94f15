// Pixel-format mapping, the scaler and the decoder's output size.
#include "video/pixel_convert.h"

#include <cstdint>

#include "interface/log.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

namespace {

struct FormatPair {
  PixelFormat ePublic;
  AVPixelFormat eAv;
};

// Indexed by the PixelFormat value.
constexpr FormatPair kFormatPairs[] = {
    {PIX_FMT_NONE, AV_PIX_FMT_NONE},
    {PIX_FMT_BGRA, AV_PIX_FMT_BGRA},
    {PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
    {PIX_FMT_RGBA, AV_PIX_FMT_RGBA},
    {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
    {PIX_FMT_NV12, AV_PIX_FMT_NV12},
    {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P},
    {PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422},
    {PIX_FMT_DXVA2, AV_PIX_FMT_DXVA2_VLD},
    {PIX_FMT_D3D12VA, AV_PIX_FMT_D3D12},
    {PIX_FMT_D3D11VA, AV_PIX_FMT_D3D11},
    {PIX_FMT_VIDEOTOOLBOX, AV_PIX_FMT_VIDEOTOOLBOX},
};

}  // namespace

bool PixelFormatToAv(PixelFormat eFormat, AVPixelFormat* pOut) {
  for (const FormatPair& pair : kFormatPairs) {
    if (pair.ePublic == eFormat) {
      *pOut = pair.eAv;
      return true;
    }
  }
  return false;
}

PixelFormat AvToPixelFormat(AVPixelFormat eFormat) {
  for (const FormatPair& pair : kFormatPairs) {
    if (pair.eAv == eFormat) return pair.ePublic;
  }
  return PIX_FMT_NONE;
}

PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect) {
  if (W == 0 || H == 0) return {w, h};
  if (!bKeepAspect) return {W, H};
  // 64-bit products: the same result as 32-bit ones wherever those do not overflow.
  switch (av_cmp_q(AVRational{w, h}, AVRational{W, H})) {
    case 1:
      return {W, static_cast<int>(static_cast<int64_t>(h) * W / w)};
    case -1:
      return {static_cast<int>(static_cast<int64_t>(w) * H / h), H};
    default:  // same aspect, or both undefined
      return {W, H};
  }
}

int CFFMpegVideoCodec::SwsCtxInit(int nSrcWidth, int nSrcHeight, AVPixelFormat eSrcFmt,
                                  int nDstWidth, int nDstHeight, AVPixelFormat eDstFmt) {
  if (m_pSwsCtx != nullptr) return 0;
  m_pSwsCtx = sws_getContext(nSrcWidth, nSrcHeight, eSrcFmt, nDstWidth, nDstHeight, eDstFmt,
                             SWS_LANCZOS, nullptr, nullptr, nullptr);
  if (m_pSwsCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]sws_getContext failed:%d-%d %d  %d-%d %d", nSrcWidth,
              nSrcHeight, static_cast<int>(eSrcFmt), nDstWidth, nDstHeight,
              static_cast<int>(eDstFmt));
    return -1;
  }
  // The next scaling allocates buffers of the new size and format.
  if (m_pSwsFrame == nullptr) {
    m_pSwsFrame = av_frame_alloc();
  } else {
    av_frame_unref(m_pSwsFrame);
  }
  return 0;
}

void CFFMpegVideoCodec::FreeScaler() {
  sws_freeContext(m_pSwsCtx);
  m_pSwsCtx = nullptr;
}

void CFFMpegVideoCodec::FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out) {
  out.m_ePixelFormat = AvToPixelFormat(eFormat);
  if (out.m_ePixelFormat == PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]unsupport format[%d]", static_cast<int>(eFormat));
  }
}

int CFFMpegVideoCodec::ScaleTempFrame(AVPixelFormat eDstFmt) {
  if (m_pSwsCtx == nullptr) {
    const PictureSize size = FitOutputSize(m_pTempFrame->width, m_pTempFrame->height,
                                           m_nDstWidth, m_nDstHeight, m_bKeepAspect);
    m_nRealDstWidth = size.nWidth;
    m_nRealDstHeight = size.nHeight;
    CODEC_LOG(kLogInfo, "[CODE]Get RelDst[%d*%d] format[%d->%d]", m_nRealDstWidth,
              m_nRealDstHeight, m_pVideoFrame->format, static_cast<int>(eDstFmt));
    if (SwsCtxInit(m_pTempFrame->width, m_pTempFrame->height,
                   static_cast<AVPixelFormat>(m_pTempFrame->format), m_nRealDstWidth,
                   m_nRealDstHeight, eDstFmt) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      av_frame_unref(m_pTempFrame);
      return -1;
    }
  }
  // A picture the caller still owns keeps its pixels: scale into fresh buffers instead.
  DetachSharedBuffers(m_pSwsFrame);
  const int ret = sws_scale_frame(m_pSwsCtx, m_pSwsFrame, m_pTempFrame);
  if (ret < 0) {
    CODEC_LOG(kLogError, "[CODE]sws_scale_frame failed:%d", ret);
    av_frame_unref(m_pTempFrame);
    return -1;
  }
  av_frame_replace(m_pTempFrame, m_pSwsFrame);
  if (m_pTempFrame->width != m_nRealDstWidth || m_pTempFrame->height != m_nRealDstHeight) {
    CODEC_LOG(kLogError, "[CODE]sws_scale get height[%d] is diff with [%d]",
              m_pTempFrame->height, m_pTempFrame->width);
    av_frame_unref(m_pTempFrame);
    return -1;
  }
  return 0;
}

void CFFMpegVideoCodec::DetachSharedBuffers(AVFrame* pFrame) {
  if (pFrame->buf[0] != nullptr && !av_frame_is_writable(pFrame)) av_frame_unref(pFrame);
}

}  // namespace codec_interface
