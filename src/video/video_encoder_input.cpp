// The encoder's input: a raw picture from the caller's buffer, optionally through the filter
// graph and the scaler, into one H.264, HEVC or BMP packet per call.
#include "interface/codec_exchange.h"
#include "interface/log.h"
#include "interface/out_entries.h"
#include "video/video_encoder.h"

namespace codec_interface {

namespace {

// Drops what the per-call frames still point at (the caller's buffer included) on every exit.
class FrameScrub {
 public:
  FrameScrub(AVFrame* pFirst, AVFrame* pSecond) : m_pFirst(pFirst), m_pSecond(pSecond) {}
  ~FrameScrub() {
    av_frame_unref(m_pFirst);
    av_frame_unref(m_pSecond);
  }
  FrameScrub(const FrameScrub&) = delete;
  FrameScrub& operator=(const FrameScrub&) = delete;

 private:
  AVFrame* m_pFirst;
  AVFrame* m_pSecond;
};

}  // namespace

int VideoEncoder::Encode(uint8_t* pData, int nSize, int64_t& nFrameIndex,
                         CVideoEncodeOutParam* pOut) {
  if (!Ready() || LeaveDrain() != 0) return -1;
  pOut->m_nNum = 0;
  const FrameScrub scrub(m_pTempFrame.get(), m_pVideoFrame.get());

  if (FillAVFrame(pData, nSize) != 0) {
    CODEC_LOG(kLogError, "FillAVFrame failed");
    return -1;
  }
  if (!m_filter.Description().empty() && FilterEncodeInput() != 0) return -1;
  if (ScaleEncodeInput() != 0) return -1;

  m_pVideoFrame->pts = nFrameIndex++;
  const ExchangeStatus sent = EncoderSend(m_context.Get(), m_pVideoFrame.get());
  av_frame_unref(m_pVideoFrame.get());
  if (sent.Idle()) return 0;
  if (sent.Failed()) {
    CODEC_LOG(kLogError, "Video avcodec_send_frame failed:%d", sent.Code());
    return -1;
  }
  if (ReceivePacket(pOut) != 0) return -1;
  pOut->m_nWidth = m_nRealDstWidth;
  pOut->m_nHeight = m_nRealDstHeight;
  return pOut->m_nNum;
}

int VideoEncoder::FillAVFrame(uint8_t* pData, int nSize) {
  AVFrame* frame = m_pTempFrame.get();
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  frame->format = m_ePixFmt;
  frame->width = m_nSrcWidth;
  frame->height = m_nSrcHeight;
  frame->pts = 0;
  frame->pkt_dts = 0;
  const int nNeeded = av_image_fill_arrays(frame->data, frame->linesize, pData, m_ePixFmt,
                                           m_nSrcWidth, m_nSrcHeight, 1);
  if (nNeeded < 0) {
    CODEC_LOG(kLogError, "av_image_fill_arrays for frame failed");
    return -1;
  }
  if (nNeeded > nSize) {
    CODEC_LOG(kLogError, "av_image_fill_arrays  need buf len[%d], but get [%d]", nNeeded, nSize);
    return -1;
  }
  return 0;
}

int VideoEncoder::FilterEncodeInput() {
  const FramePtr pFiltered = m_filter.FilterForEncoder(m_context.Get(), m_pTempFrame.get());
  if (pFiltered == nullptr) return -1;
  return av_frame_replace(m_pTempFrame.get(), pFiltered.get()) < 0 ? -1 : 0;
}

int VideoEncoder::FitEncodeScaler(const AVFrame& picture) {
  const AVCodecContext* ctx = m_context.Get();
  const auto eFormat = static_cast<AVPixelFormat>(picture.format);
  // The scaler follows the size and format the picture really has (a filter's output, or the
  // caller's after a Reset), whatever the record declared; one is built when those are not the
  // encoder's. Nothing is ever read with a geometry it was not made for.
  const bool bEncoderShape =
      picture.width == ctx->width && picture.height == ctx->height && eFormat == ctx->pix_fmt;
  if (m_scaler.Ready() ? m_scaler.Takes(picture) : bEncoderShape) return 0;
  if (m_scaler.Init(
          {picture.width, picture.height, eFormat, ctx->width, ctx->height, ctx->pix_fmt}) != 0) {
    CODEC_LOG(kLogError, "SwsCtxInit failed");
    return -1;
  }
  return 0;
}

int VideoEncoder::ScaleEncodeInput() {
  if (FitEncodeScaler(*m_pTempFrame) != 0) return -1;
  if (!m_scaler.Ready()) {
    // Copies a picture that still points into the caller's buffer.
    const int nCopied = av_frame_replace(m_pVideoFrame.get(), m_pTempFrame.get());
    av_frame_unref(m_pTempFrame.get());
    return nCopied < 0 ? -1 : 0;
  }
  // The encoder may still hold the last scaled picture: Scale never writes into shared buffers.
  const int nScaled = m_scaler.Scale(m_pTempFrame.get());
  av_frame_unref(m_pTempFrame.get());
  if (nScaled < 0) {
    CODEC_LOG(kLogError, "sws_scale_frame failed:%d", nScaled);
    return -1;
  }
  return av_frame_replace(m_pVideoFrame.get(), m_scaler.Frame()) < 0 ? -1 : 0;
}

int VideoEncoder::ReceivePacket(CVideoEncodeOutParam* pOut) {
  if (m_pPacket == nullptr) m_pPacket.reset(av_packet_alloc());
  if (m_pPacket == nullptr) return -1;
  const ExchangeStatus got = EncoderReceive(m_context.Get(), m_pPacket.get());
  if (got.Failed()) {
    CODEC_LOG(kLogError, "Video avcodec_receive_packet failed:%d", got.Code());
    return -1;
  }
  if (got.Passed() && pOut->m_nNum < OUTPARAM_MAX_COUNT &&
      AppendEntry(*pOut, m_pPacket.get()) < 0) {
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
