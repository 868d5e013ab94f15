// The encoding half of the video codec: raw pictures from the caller's buffer, optionally through
// the filter graph and the scaler, into one H.264, HEVC or BMP packet per call.
#include "video/ffmpeg_video_codec.h"

#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/out_entries.h"
#include "video/colour.h"

namespace codec_interface {

namespace {

// The encoder's accepted input formats. A null list means the encoder takes any format.
bool EncoderSupports(const AVCodecContext* pCtx, AVPixelFormat eFormat, bool* pListed) {
  const void* pConfigs = nullptr;
  int nCount = 0;
  *pListed = avcodec_get_supported_config(pCtx, nullptr, AV_CODEC_CONFIG_PIX_FORMAT, 0,
                                          &pConfigs, &nCount) >= 0 &&
             pConfigs != nullptr;
  if (!*pListed) return false;
  const auto* pFormats = static_cast<const AVPixelFormat*>(pConfigs);
  for (int i = 0; i < nCount; ++i) {
    if (pFormats[i] == eFormat) return true;
  }
  return false;
}

AVPixelFormat ChooseEncoderFormat(const AVCodecContext* pCtx, AVPixelFormat eSource) {
  bool bListed = false;
  if (EncoderSupports(pCtx, eSource, &bListed) || !bListed) return eSource;
  // The JPEG encoders take further layouts once the caller relaxed compliance.
  if ((pCtx->codec_id == AV_CODEC_ID_MJPEG || pCtx->codec_id == AV_CODEC_ID_LJPEG) &&
      pCtx->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
    return eSource;
  }
  return AV_PIX_FMT_YUV420P;
}

void DescribeFrame(AVFrame* pFrame, AVPixelFormat eFormat, int nWidth, int nHeight) {
  pFrame->pict_type = AV_PICTURE_TYPE_NONE;
  pFrame->format = eFormat;
  pFrame->width = nWidth;
  pFrame->height = nHeight;
  pFrame->pts = 0;
  pFrame->pkt_dts = 0;
}

// Drops what the per-call frames still point at (the caller's buffer included) on every exit.
class FrameScrub {
 public:
  FrameScrub(AVFrame* pFirst, AVFrame* pSecond) : m_pFirst(pFirst), m_pSecond(pSecond) {}
  ~FrameScrub() {
    if (m_pFirst != nullptr) av_frame_unref(m_pFirst);
    if (m_pSecond != nullptr) av_frame_unref(m_pSecond);
  }
  FrameScrub(const FrameScrub&) = delete;
  FrameScrub& operator=(const FrameScrub&) = delete;

 private:
  AVFrame* m_pFirst;
  AVFrame* m_pSecond;
};

}  // namespace

int CFFMpegVideoCodec::InitEncode(AVCodecContext* pCtx, const VideoCodecParam& param) {
  pCtx->bit_rate = static_cast<int64_t>(param.nBitRate);
  pCtx->width = param.nDstWidth != 0 ? param.nDstWidth : param.nSrcWidth;
  pCtx->height = param.nDstHeight != 0 ? param.nDstHeight : param.nSrcHeight;
  SetEncoderTiming(pCtx, param.nFrameRate);
  pCtx->gop_size = param.nGopSize;
  pCtx->max_b_frames = 0;
  pCtx->refs = 6;
  pCtx->pix_fmt = ChooseEncoderFormat(pCtx, m_ePixFmt);
  TagEncoderColour(pCtx, m_ePixFmt);
  if (m_pVideoFrame != nullptr) {
    DescribeFrame(m_pVideoFrame.get(), pCtx->pix_fmt, pCtx->width, pCtx->height);
  }

  // A previous open may have left keys the encoder did not take.
  m_encodeOptions.Clear();
  if (pCtx->codec_id == AV_CODEC_ID_H264) {
    m_encodeOptions.Set("preset", "slow");
    m_encodeOptions.Set("tune", "zerolatency");
    m_encodeOptions.Set("profile", "baseline");
  } else if (pCtx->codec_id == AV_CODEC_ID_HEVC) {
    m_encodeOptions.Set("preset", "ultrafast");
    m_encodeOptions.Set("tune", "zerolatency");
  }

  const bool bFilterSize = param.nFilterOutWidth != 0 && param.nFilterOutHeight != 0;
  const int nScaleSrcWidth = bFilterSize ? param.nFilterOutWidth : param.nSrcWidth;
  const int nScaleSrcHeight = bFilterSize ? param.nFilterOutHeight : param.nSrcHeight;
  if ((nScaleSrcWidth != pCtx->width || nScaleSrcHeight != pCtx->height ||
       m_ePixFmt != pCtx->pix_fmt) &&
      PrepareEncodeScaler(pCtx, nScaleSrcWidth, nScaleSrcHeight) != 0) {
    m_encodeOptions.Clear();  // the encoder will not be opened with them
    return -1;
  }

  m_nSrcWidth = param.nSrcWidth;
  m_nSrcHeight = param.nSrcHeight;
  m_nRealDstWidth = pCtx->width;
  m_nRealDstHeight = pCtx->height;
  return 0;
}

int CFFMpegVideoCodec::PrepareEncodeScaler(const AVCodecContext* pCtx, int nSrcWidth,
                                           int nSrcHeight) {
  if (SwsCtxInit(nSrcWidth, nSrcHeight, m_ePixFmt, pCtx->width, pCtx->height, pCtx->pix_fmt) !=
      0) {
    CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
    return -1;
  }
  const int nBufSize = av_image_get_buffer_size(pCtx->pix_fmt, pCtx->width, pCtx->height, 1);
  m_pImageBuf.reset();
  m_nImageBufSize = 0;
  if (nBufSize > 0) m_pImageBuf.reset(static_cast<uint8_t*>(av_malloc(nBufSize)));
  if (m_pImageBuf == nullptr || m_pVideoFrame == nullptr ||
      av_image_fill_arrays(m_pVideoFrame->data, m_pVideoFrame->linesize, m_pImageBuf.get(),
                           pCtx->pix_fmt, pCtx->width, pCtx->height, 1) < 0) {
    CODEC_LOG(kLogDebug, "[CODE]av_image_fill_arrays for frame failed");
    return -1;
  }
  m_nImageBufSize = nBufSize;
  return 0;
}

int CFFMpegVideoCodec::FillAVFrame(uint8_t* pData, int nSize) {
  if (m_pTempFrame == nullptr) return -1;
  DescribeFrame(m_pTempFrame.get(), m_ePixFmt, m_nSrcWidth, m_nSrcHeight);
  const int nNeeded = av_image_fill_arrays(m_pTempFrame->data, m_pTempFrame->linesize, pData,
                                           m_ePixFmt, m_nSrcWidth, m_nSrcHeight, 1);
  if (nNeeded < 0) {
    CODEC_LOG(kLogError, "[CODE]av_image_fill_arrays for frame failed");
    return -1;
  }
  if (nNeeded > nSize) {
    CODEC_LOG(kLogError, "[CODE]av_image_fill_arrays  need buf len[%d], but get [%d]", nNeeded,
              nSize);
    return -1;
  }
  return 0;
}

int CFFMpegVideoCodec::Encode(unsigned char* pData, int nSize, COutParam* pOut) {
  return WithoutThrowing(-1, [&] { return EncodeLocked(pData, nSize, pOut); });
}

int CFFMpegVideoCodec::EncodeLocked(unsigned char* pData, int nSize, COutParam* pOut) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  auto* pEncOut = dynamic_cast<CVideoEncodeOutParam*>(pOut);
  if (!m_bInit || nSize < 1 || m_bDecoder || pData == nullptr || pEncOut == nullptr ||
      m_pCodecCtx == nullptr || LeaveDrain() != 0) {
    return -1;
  }
  pEncOut->m_nNum = 0;
  FrameScrub scrub(m_pTempFrame.get(), m_pVideoFrame.get());

  if (FillAVFrame(pData, nSize) != 0) {
    CODEC_LOG(kLogError, "[CODE]FillAVFrame failed");
    return -1;
  }
  if (m_filterGraph.Built() && FilterEncodeInput() != 0) return -1;
  if (ScaleEncodeInput() != 0) return -1;

  m_pVideoFrame->pts = m_nFrameIndex.fetch_add(1);
  const int nSent = avcodec_send_frame(m_pCodecCtx.get(), m_pVideoFrame.get());
  av_frame_unref(m_pVideoFrame.get());
  if (nSent == AVERROR(EAGAIN) || nSent == AVERROR_EOF) return 0;
  if (nSent < 0) {
    CODEC_LOG(kLogError, "[CODE]Video avcodec_send_frame failed:%d", nSent);
    return -1;
  }
  if (ReceivePacket(pEncOut) != 0) return -1;
  pEncOut->m_nWidth = m_nRealDstWidth;
  pEncOut->m_nHeight = m_nRealDstHeight;
  return pEncOut->m_nNum;
}

int CFFMpegVideoCodec::FilterEncodeInput() {
  const FramePtr pFiltered = FilterEncodeFrame(m_pTempFrame.get());
  if (pFiltered == nullptr) return -1;
  const AVFrame& filtered = *pFiltered;
  const auto eFiltered = static_cast<AVPixelFormat>(filtered.format);
  const AVCodecContext* ctx = m_pCodecCtx.get();
  // The scaler follows the size and format the filter really delivers, whatever the record
  // declared; one is built when those are not the encoder's.
  const bool bEncoderShape = filtered.width == ctx->width && filtered.height == ctx->height &&
                             eFiltered == ctx->pix_fmt;
  if (m_scaler.Ready() ? !m_scaler.Takes(filtered) : !bEncoderShape) {
    m_scaler.Reset();
    if (SwsCtxInit(filtered.width, filtered.height, eFiltered, ctx->width, ctx->height,
                   ctx->pix_fmt) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      return -1;
    }
  }
  return av_frame_replace(m_pTempFrame.get(), pFiltered.get()) < 0 ? -1 : 0;
}

int CFFMpegVideoCodec::ScaleEncodeInput() {
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
    CODEC_LOG(kLogError, "[CODE]sws_scale_frame failed:%d", nScaled);
    return -1;
  }
  return av_frame_replace(m_pVideoFrame.get(), m_scaler.Frame()) < 0 ? -1 : 0;
}

int CFFMpegVideoCodec::ReceivePacket(CVideoEncodeOutParam* pOut) {
  if (m_pPacket == nullptr) m_pPacket.reset(av_packet_alloc());
  if (m_pPacket == nullptr) return -1;
  const int nReceived = avcodec_receive_packet(m_pCodecCtx.get(), m_pPacket.get());
  if (nReceived < 0 && nReceived != AVERROR(EAGAIN) && nReceived != AVERROR_EOF) {
    CODEC_LOG(kLogError, "[CODE]Video avcodec_receive_packet failed:%d", nReceived);
    return -1;
  }
  if (nReceived >= 0 && pOut->m_nNum < OUTPARAM_MAX_COUNT &&
      AppendEntry(*pOut, m_pPacket.get()) < 0) {
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
