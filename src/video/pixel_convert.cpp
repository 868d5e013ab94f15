// Pixel conversion of the video codec: the scaler it builds, the decoder's output size and the
// public format of the pictures it hands out.
#include "video/pixel_convert.h"

#include <algorithm>
#include <cstdint>

#include "interface/log.h"
#include "interface/pixel_formats.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

namespace {

// A fitted side that rounds to nothing would make every picture fail: it keeps at least one
// pixel, and a whole chroma sample where the layout subsamples that direction.
int FittedSide(int64_t nSide, int nLog2Chroma) {
  return static_cast<int>(std::max<int64_t>(nSide, int64_t{1} << nLog2Chroma));
}

// The picture replaced by its scaled version; -1 after the line, with the picture released.
int ScaleInPlace(Scaler& scaler, AVFrame* picture) {
  const int ret = scaler.Scale(picture);
  if (ret < 0) {
    CODEC_LOG(kLogError, "[CODE]sws_scale_frame failed:%d", ret);
    av_frame_unref(picture);
    return -1;
  }
  return av_frame_replace(picture, scaler.Frame()) < 0 ? -1 : 0;
}

}  // namespace

PictureSize FitOutputSize(int w, int h, int W, int H, bool bKeepAspect, AVPixelFormat eFormat) {
  if (W == 0 || H == 0) return {w, h};
  if (!bKeepAspect) return {W, H};
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(eFormat);
  const int nLog2W = desc != nullptr ? desc->log2_chroma_w : 0;
  const int nLog2H = desc != nullptr ? desc->log2_chroma_h : 0;
  // 64-bit products: the same result as 32-bit ones wherever those do not overflow.
  switch (av_cmp_q(AVRational{w, h}, AVRational{W, H})) {
    case 1:
      return {W, FittedSide(static_cast<int64_t>(h) * W / w, nLog2H)};
    case -1:
      return {FittedSide(static_cast<int64_t>(w) * H / h, nLog2W), H};
    default:  // same aspect, or both undefined
      return {W, H};
  }
}

int CFFMpegVideoCodec::SwsCtxInit(int nSrcWidth, int nSrcHeight, AVPixelFormat eSrcFmt,
                                  int nDstWidth, int nDstHeight, AVPixelFormat eDstFmt) {
  if (m_scaler.Ready()) return 0;
  return m_scaler.Init({nSrcWidth, nSrcHeight, eSrcFmt, nDstWidth, nDstHeight, eDstFmt});
}

void CFFMpegVideoCodec::FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out) {
  out.m_ePixelFormat = AvToPixelFormat(eFormat);
  if (out.m_ePixelFormat == PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]unsupport format[%d]", static_cast<int>(eFormat));
  }
}

int CFFMpegVideoCodec::ScaleTempFrame(AVPixelFormat eDstFmt) {
  AVFrame* picture = m_pTempFrame.get();
  // A source of another size or format (MJPEG switching its subsampling, a hardware decoder
  // falling back to software) needs a scaler built for its layout.
  if (!m_scaler.Takes(*picture) || m_scaler.Geometry().eDstFormat != eDstFmt) m_scaler.Reset();
  if (!m_scaler.Ready()) {
    const PictureSize size = FitOutputSize(picture->width, picture->height, m_nDstWidth,
                                           m_nDstHeight, m_bKeepAspect, eDstFmt);
    m_nRealDstWidth = size.nWidth;
    m_nRealDstHeight = size.nHeight;
    CODEC_LOG(kLogInfo, "[CODE]Get RelDst[%d*%d] format[%d->%d]", m_nRealDstWidth,
              m_nRealDstHeight, m_pVideoFrame->format, static_cast<int>(eDstFmt));
    if (SwsCtxInit(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                   m_nRealDstWidth, m_nRealDstHeight, eDstFmt) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      av_frame_unref(picture);
      return -1;
    }
  }
  if (ScaleInPlace(m_scaler, picture) != 0) return -1;
  if (picture->width != m_nRealDstWidth || picture->height != m_nRealDstHeight) {
    CODEC_LOG(kLogError, "[CODE]sws_scale get height[%d] is diff with [%d]", picture->height,
              picture->width);
    av_frame_unref(picture);
    return -1;
  }
  return 0;
}

int CFFMpegVideoCodec::KeepAskedLayout(AVPixelFormat eAsked) {
  AVFrame* picture = m_pTempFrame.get();
  const auto eFiltered = static_cast<AVPixelFormat>(picture->format);
  if (eFiltered == eAsked) return 0;
  // The filter changed the layout after scaling (format=gray, format=rgb24): the planes must be
  // the ones the out-param reports, so they are converted back at the filtered size.
  const ScalerGeometry geometry{picture->width, picture->height, eFiltered,
                                picture->width, picture->height, eAsked};
  if (!m_layoutScaler.Takes(*picture) || m_layoutScaler.Geometry().eDstFormat != eAsked) {
    if (m_layoutScaler.Init(geometry) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      av_frame_unref(picture);
      return -1;
    }
  }
  return ScaleInPlace(m_layoutScaler, picture);
}

}  // namespace codec_interface
