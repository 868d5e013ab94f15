// The decoder's picture on its way out: copied off its device, scaled to the size and layout
// asked for, filtered, and handed out in the out-param.
#include "interface/fixed_text.h"
#include "interface/log.h"
#include "interface/out_entries.h"
#include "interface/pixel_formats.h"
#include "video/output_size.h"
#include "video/video_decoder.h"

namespace codec_interface {

namespace {

// The picture replaced by its scaled version; -1 after the line, with the picture released.
int ScaleInPlace(Scaler& scaler, AVFrame* picture) {
  const int ret = scaler.Scale(picture);
  if (ret < 0) {
    CODEC_LOG(kLogError, "sws_scale_frame failed:%d", ret);
    av_frame_unref(picture);
    return -1;
  }
  return av_frame_replace(picture, scaler.Frame()) < 0 ? -1 : 0;
}

void FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out) {
  out.m_ePixelFormat = AvToPixelFormat(eFormat);
  if (out.m_ePixelFormat == PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "unsupport format[%d]", static_cast<int>(eFormat));
  }
}

}  // namespace

void VideoDecoder::ApplyEasyParam(EasyParamMailbox& easy) {
  VideoEasyParam param;
  if (!easy.Take(&param)) return;
  if (param.nDstWidth != m_nDstWidth || param.nDstHeight != m_nDstHeight) {
    CODEC_LOG(kLogInfo, "reset decode easy param [%d*%d]", param.nDstWidth, param.nDstHeight);
    m_scaler.Reset();
    m_nDstWidth = param.nDstWidth;
    m_nDstHeight = param.nDstHeight;
  }
  std::string filterDesc = TextOf(param.szFilterDesc);
  if (filterDesc != m_filter.Description()) m_filter.Describe(std::move(filterDesc));
}

AVFrame* VideoDecoder::TransferSurface(bool bUntouched) {
  const HwFamily* family = m_context.Facts().pHw;
  if (bUntouched || family == nullptr || !family->bTransfer || family->eSurface == m_ePixFmt ||
      m_pPicture->format != m_context.Facts().eHwPixFmt) {
    return m_pPicture.get();
  }
  if (m_pSwFrame == nullptr) m_pSwFrame.reset(av_frame_alloc());
  // A picture the caller still owns keeps its pixels: transfer into fresh buffers instead.
  // Buffers of another size would take the surface's rows beyond their end.
  if (m_pSwFrame != nullptr) {
    DetachSharedBuffers(m_pSwFrame.get());
    if (m_pSwFrame->width != m_pPicture->width || m_pSwFrame->height != m_pPicture->height) {
      av_frame_unref(m_pSwFrame.get());
    }
  }
  if (m_pSwFrame == nullptr ||
      av_hwframe_transfer_data(m_pSwFrame.get(), m_pPicture.get(), 0) != 0) {
    CODEC_LOG(kLogError, "av_hwframe_transfer_data failed");
    return nullptr;
  }
  return m_pSwFrame.get();
}

int VideoDecoder::OutPutFrame(CVideoDecodeOutParam* pOut, EasyParamMailbox& easy) {
  ApplyEasyParam(easy);

  const bool bNoSize = m_nDstWidth == 0 && m_nDstHeight == 0;
  // A picture already in the wanted form, a device surface included, goes out as it is.
  const bool bUntouched =
      bNoSize && (m_pPicture->format == m_ePixFmt || m_ePixFmt == AV_PIX_FMT_NONE);
  const AVFrame* source = TransferSurface(bUntouched);
  if (source == nullptr) return -1;
  AVFrame* picture = m_pTempFrame.get();
  av_frame_replace(picture, source);

  AVPixelFormat outFormat = static_cast<AVPixelFormat>(picture->format);
  const bool bScale = !bNoSize || (outFormat != m_ePixFmt && m_ePixFmt != AV_PIX_FMT_NONE);
  if (bScale) {
    if (m_ePixFmt != AV_PIX_FMT_NONE) outFormat = m_ePixFmt;
    if (ScaleTempFrame(outFormat) != 0) return -1;
  }
  if (AVFrame* filtered = m_filter.FilterDecoded(m_context.Get(), picture)) {
    av_frame_replace(picture, filtered);
    av_frame_unref(filtered);
  }
  // A filter that kept the picture back leaves nothing to hand out for this call.
  if (picture->buf[0] == nullptr) return pOut->m_nNum;
  if (bScale && KeepAskedLayout(outFormat) != 0) return -1;
  if (!bScale) {
    m_nRealDstWidth = picture->width;
    m_nRealDstHeight = picture->height;
    outFormat = static_cast<AVPixelFormat>(picture->format);
  }
  if (pOut->m_nNum < OUTPARAM_MAX_COUNT && AppendEntry(*pOut, picture) < 0) return -1;
  FillOutPixelFormat(outFormat, *pOut);
  return pOut->m_nNum;
}

int VideoDecoder::ScaleTempFrame(AVPixelFormat eDstFmt) {
  AVFrame* picture = m_pTempFrame.get();
  // A source of another size or format (MJPEG switching its subsampling, a hardware decoder
  // falling back to software) needs a scaler built for its layout.
  if (!m_scaler.Takes(*picture) || m_scaler.Geometry().eDstFormat != eDstFmt) m_scaler.Reset();
  if (!m_scaler.Ready()) {
    const PictureSize size = FitOutputSize(picture->width, picture->height, m_nDstWidth,
                                           m_nDstHeight, m_bKeepAspect, eDstFmt);
    m_nRealDstWidth = size.nWidth;
    m_nRealDstHeight = size.nHeight;
    CODEC_LOG(kLogInfo, "Get RelDst[%d*%d] format[%d->%d]", m_nRealDstWidth, m_nRealDstHeight,
              m_pPicture->format, static_cast<int>(eDstFmt));
    if (m_scaler.Init({picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                       m_nRealDstWidth, m_nRealDstHeight, eDstFmt}) != 0) {
      CODEC_LOG(kLogError, "SwsCtxInit failed");
      av_frame_unref(picture);
      return -1;
    }
  }
  if (ScaleInPlace(m_scaler, picture) != 0) return -1;
  if (picture->width != m_nRealDstWidth || picture->height != m_nRealDstHeight) {
    CODEC_LOG(kLogError, "sws_scale get height[%d] is diff with [%d]", picture->height,
              picture->width);
    av_frame_unref(picture);
    return -1;
  }
  return 0;
}

int VideoDecoder::KeepAskedLayout(AVPixelFormat eAsked) {
  AVFrame* picture = m_pTempFrame.get();
  const auto eFiltered = static_cast<AVPixelFormat>(picture->format);
  if (eFiltered == eAsked) return 0;
  // The filter changed the layout after scaling (format=gray, format=rgb24): the planes must be
  // the ones the out-param reports, so they are converted back at the filtered size.
  const ScalerGeometry geometry{picture->width, picture->height, eFiltered,
                                picture->width, picture->height, eAsked};
  if (!m_layoutScaler.Takes(*picture) || m_layoutScaler.Geometry().eDstFormat != eAsked) {
    if (m_layoutScaler.Init(geometry) != 0) {
      CODEC_LOG(kLogError, "SwsCtxInit failed");
      av_frame_unref(picture);
      return -1;
    }
  }
  return ScaleInPlace(m_layoutScaler, picture);
}

}  // namespace codec_interface
