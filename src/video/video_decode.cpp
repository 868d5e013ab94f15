// Decoding one packet into at most one picture, and handing the picture out.
#include <cstring>
#include <string>

#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/out_entries.h"
#include "video/codec_table.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

namespace {

constexpr const char* kDecodeChangeSizeName =
    "codec_interface::CFFMpegVideoCodec::DecodeChangeSize";

bool SendLetThrough(int ret) {
  return ret >= 0 || ret == AVERROR(EAGAIN) || ret == AVERROR_EOF || ret == AVERROR_INVALIDDATA;
}

}  // namespace

int CFFMpegVideoCodec::Decode(unsigned char* pData, int nSize, COutParam* pOutParam) {
  return WithoutThrowing(-1, [&] { return DecodeLocked(pData, nSize, pOutParam); });
}

int CFFMpegVideoCodec::DecodeLocked(unsigned char* pData, int nSize, COutParam* pOutParam,
                                     int64_t nPts) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  auto* pOut = dynamic_cast<CVideoDecodeOutParam*>(pOutParam);
  if (!m_bInit || nSize < 1 || !m_bDecoder || pData == nullptr || m_pCodecCtx == nullptr ||
      pOut == nullptr || m_pPacket == nullptr || LeaveDrain() != 0) {
    return -1;
  }
  pOut->m_nNum = 0;
  pOut->m_bDecodeError = false;
  // The packet borrows the caller's bytes; FFmpeg copies them when it needs to keep them.
  m_pPacket->data = pData;
  m_pPacket->size = nSize;
  m_pPacket->pts = nPts;
  // Timed packets: the decoder and the filter graph keep their times in microseconds.
  if (nPts != AV_NOPTS_VALUE) m_pCodecCtx->pkt_timebase = AVRational{1, 1000000};

  for (;;) {
    if (m_eCodecType == AV_CODEC_TYPE_H264DEC_MEDIACODEC && m_pCodecCtx->extradata == nullptr &&
        InitMediaCodec(pData, nSize, m_pCodecCtx.get()) == 0) {
      const int ret = avcodec_open2(m_pCodecCtx.get(), m_pCodec, nullptr);
      if (ret < 0) {
        CODEC_LOG(kLogError, "[CODE]Could not open MEDIACODEC codec:[%d][%s]", ret,
                  AvErrorText(ret).c_str());
        return -1;
      }
    }
    const int decoded = DecodePacket(pOut);
    if (decoded <= 0) return decoded < 0 ? decoded : pOut->m_nNum;
    const int followed = FollowPictureSize();
    if (followed < 0) return -1;
    if (followed == 0) break;
    pOut->Clear();
    // The new context decodes the same packet afresh.
  }

  if (OutPutFrame(pOut) < 0) {
    CODEC_LOG(kLogError, "[CODE]OutPutFrame failed!");
    return -1;
  }
  return pOut->m_nNum;
}

int CFFMpegVideoCodec::DecodePacket(CVideoDecodeOutParam* pOut) {
  AVCodecContext* ctx = m_pCodecCtx.get();
  int ret = avcodec_send_packet(ctx, m_pPacket.get());
  if (!SendLetThrough(ret)) {
    CODEC_LOG(kLogError, "[CODE]video avcodec_send_packet failed:%d", ret);
    // A context that never opened has nothing to flush.
    if (avcodec_is_open(ctx)) avcodec_flush_buffers(ctx);
    return -2;
  }
  ret = avcodec_receive_frame(ctx, m_pVideoFrame.get());
  if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
  if (ret < 0) {
    CODEC_LOG(kLogError, "[CODE]video avcodec_receive_frame failed:%d", ret);
    avcodec_flush_buffers(ctx);
    return -2;
  }
  if (m_pVideoFrame->decode_error_flags != 0) pOut->m_bDecodeError = true;
  return 1;
}

int CFFMpegVideoCodec::FollowPictureSize() {
  const int width = m_pVideoFrame->width;
  const int height = m_pVideoFrame->height;
  if (width == m_nSrcWidth && height == m_nSrcHeight) return 0;
  if (m_nSrcWidth == 0 || m_nSrcHeight == 0) {
    CODEC_LOG(kLogInfo, "[CODE]Src pix changed [%d*%d]->[%d*%d]", m_nSrcWidth, m_nSrcHeight,
              width, height);
    m_nSrcWidth = width;
    m_nSrcHeight = height;
    return 0;
  }
  if (m_bSrcSizeFixed) {
    CODEC_LOG(kLogError, "[CODE]Src pix changed [%d*%d]->[%d*%d]", m_nSrcWidth, m_nSrcHeight,
              width, height);
    return -1;
  }
  CODEC_LOG(kLogInfo, "[CODE]Src pix changed[%d*%d]->[%d*%d] DecodeChangeSize", m_nSrcWidth,
            m_nSrcHeight, width, height);
  if (DecodeChangeSize() == -1) {
    CODEC_LOG(kLogError, "[CODE]DecodeChangeSize failed");
    return -1;
  }
  m_nSrcWidth = width;
  m_nSrcHeight = height;
  return 1;
}

void CFFMpegVideoCodec::ApplyEasyParam() {
  std::lock_guard<std::mutex> lock(m_mtxEasyParam);
  if (!m_bEasyParamPending) return;
  if (m_stEasyParam.nDstWidth != m_nDstWidth || m_stEasyParam.nDstHeight != m_nDstHeight) {
    CODEC_LOG(kLogInfo, "[CODE]reset decode easy param [%d*%d]", m_stEasyParam.nDstWidth,
              m_stEasyParam.nDstHeight);
    m_scaler.Reset();
    m_nDstWidth = m_stEasyParam.nDstWidth;
    m_nDstHeight = m_stEasyParam.nDstHeight;
  }
  const char* desc = m_stEasyParam.szFilterDesc;
  const std::string filterDesc(desc, strnlen(desc, sizeof m_stEasyParam.szFilterDesc));
  if (filterDesc != m_strFilterDesc) {
    // The next picture that reaches the filter builds the graph again from the new text.
    m_filterGraph.Reset();
    m_strFilterDesc = filterDesc;
  }
  m_bEasyParamPending = false;
}

AVFrame* CFFMpegVideoCodec::TransferSurface(bool bUntouched) {
  const HwFamily* family = HwFamilyOfCodec(m_eCodecType);
  if (bUntouched || family == nullptr || !family->bTransfer || family->eSurface == m_ePixFmt ||
      m_pVideoFrame->format != m_eHwPixFmt) {
    return m_pVideoFrame.get();
  }
  if (m_pSwFrame == nullptr) m_pSwFrame.reset(av_frame_alloc());
  // A picture the caller still owns keeps its pixels: transfer into fresh buffers instead.
  // Buffers of another size would take the surface's rows beyond their end.
  if (m_pSwFrame != nullptr) {
    DetachSharedBuffers(m_pSwFrame.get());
    if (m_pSwFrame->width != m_pVideoFrame->width || m_pSwFrame->height != m_pVideoFrame->height) {
      av_frame_unref(m_pSwFrame.get());
    }
  }
  if (m_pSwFrame == nullptr ||
      av_hwframe_transfer_data(m_pSwFrame.get(), m_pVideoFrame.get(), 0) != 0) {
    CODEC_LOG(kLogError, "[CODE]av_hwframe_transfer_data failed");
    return nullptr;
  }
  return m_pSwFrame.get();
}

int CFFMpegVideoCodec::OutPutFrame(CVideoDecodeOutParam* pOut) {
  ApplyEasyParam();

  const bool bNoSize = m_nDstWidth == 0 && m_nDstHeight == 0;
  // A picture already in the wanted form, a device surface included, goes out as it is.
  const bool bUntouched =
      bNoSize && (m_pVideoFrame->format == m_ePixFmt || m_ePixFmt == AV_PIX_FMT_NONE);
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
  if (AVFrame* filtered = FilterDecodeFrame(picture)) {
    av_frame_replace(picture, filtered);
    av_frame_unref(filtered);
  }
  // A filter that kept the picture back leaves nothing to hand out for this call.
  if (picture->buf[0] == nullptr) return pOut != nullptr ? pOut->m_nNum : 0;
  if (!bScale) {
    m_nRealDstWidth = picture->width;
    m_nRealDstHeight = picture->height;
    outFormat = static_cast<AVPixelFormat>(picture->format);
  }
  if (pOut == nullptr) return 0;
  if (pOut->m_nNum < OUTPARAM_MAX_COUNT && AppendEntry(*pOut, picture) < 0) return -1;
  FillOutPixelFormat(outFormat, *pOut);
  return pOut->m_nNum;
}

int CFFMpegVideoCodec::DecodeChangeSize() {
  if (!m_bDecoder) return -1;
  m_scaler.Reset();
  if (m_pCodecCtx == nullptr) return 0;
  const int recreated = RecreateCodecContext(false, nullptr);
  if (recreated == kDeviceFailed) {
    CODEC_LOG(kLogError, "[CODE]%s hw_decoder_init failed", kDecodeChangeSizeName);
  }
  if (recreated != 0) return -1;
  // MediaCodec opens again from the same packet once Decode sees its parameter sets.
  if (m_eCodecType == AV_CODEC_TYPE_H264DEC_MEDIACODEC) return 0;
  if (OpenCodecContext(false) < 0) {
    CODEC_LOG(kLogError, "[CODE]%s Could not open codec", kDecodeChangeSizeName);
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
