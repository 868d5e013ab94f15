// The encoding half of the video codec: raw pictures from the caller's buffer, optionally through
// the filter graph and the scaler, into one H.264, HEVC or BMP packet per call.
#include "video/ffmpeg_video_codec.h"

#include "interface/log.h"

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
  pCtx->time_base = AVRational{2, param.nFrameRate};
  pCtx->framerate = AVRational{param.nFrameRate, 1};
  pCtx->gop_size = param.nGopSize;
  pCtx->max_b_frames = 0;
  pCtx->refs = 6;
  pCtx->pix_fmt = ChooseEncoderFormat(pCtx, m_ePixFmt);
  if (m_pVideoFrame != nullptr) {
    DescribeFrame(m_pVideoFrame, pCtx->pix_fmt, pCtx->width, pCtx->height);
  }

  // A previous open may have left keys the encoder did not take.
  av_dict_free(&m_pEncodeOptions);
  if (pCtx->codec_id == AV_CODEC_ID_H264) {
    av_dict_set(&m_pEncodeOptions, "preset", "slow", 0);
    av_dict_set(&m_pEncodeOptions, "tune", "zerolatency", 0);
    av_dict_set(&m_pEncodeOptions, "profile", "baseline", 0);
  } else if (pCtx->codec_id == AV_CODEC_ID_HEVC) {
    av_dict_set(&m_pEncodeOptions, "preset", "ultrafast", 0);
    av_dict_set(&m_pEncodeOptions, "tune", "zerolatency", 0);
  }

  const bool bFilterSize = param.nFilterOutWidth != 0 && param.nFilterOutHeight != 0;
  const int nScaleSrcWidth = bFilterSize ? param.nFilterOutWidth : param.nSrcWidth;
  const int nScaleSrcHeight = bFilterSize ? param.nFilterOutHeight : param.nSrcHeight;
  if (nScaleSrcWidth != pCtx->width || nScaleSrcHeight != pCtx->height ||
      m_ePixFmt != pCtx->pix_fmt) {
    m_nSwsSrcWidth = nScaleSrcWidth;
    m_nSwsSrcHeight = nScaleSrcHeight;
    m_eSwsSrcPixFmt = m_ePixFmt;
    if (SwsCtxInit(nScaleSrcWidth, nScaleSrcHeight, m_ePixFmt, pCtx->width, pCtx->height,
                   pCtx->pix_fmt) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
      av_dict_free(&m_pEncodeOptions);  // the encoder will not be opened with them
      return -1;
    }
    const int nBufSize = av_image_get_buffer_size(pCtx->pix_fmt, pCtx->width, pCtx->height, 1);
    av_freep(&m_pImageBuf);
    m_nImageBufSize = 0;
    if (nBufSize > 0) m_pImageBuf = static_cast<uint8_t*>(av_malloc(nBufSize));
    if (m_pImageBuf == nullptr || m_pVideoFrame == nullptr ||
        av_image_fill_arrays(m_pVideoFrame->data, m_pVideoFrame->linesize, m_pImageBuf,
                             pCtx->pix_fmt, pCtx->width, pCtx->height, 1) < 0) {
      CODEC_LOG(kLogDebug, "[CODE]av_image_fill_arrays for frame failed");
      av_dict_free(&m_pEncodeOptions);
      return -1;
    }
    m_nImageBufSize = nBufSize;
  }

  m_nSrcWidth = param.nSrcWidth;
  m_nSrcHeight = param.nSrcHeight;
  m_nRealDstWidth = pCtx->width;
  m_nRealDstHeight = pCtx->height;
  return 0;
}

int CFFMpegVideoCodec::FillAVFrame(uint8_t* pData, int nSize) {
  if (m_pTempFrame == nullptr) return -1;
  DescribeFrame(m_pTempFrame, m_ePixFmt, m_nSrcWidth, m_nSrcHeight);
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
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  auto* pEncOut = dynamic_cast<CVideoEncodeOutParam*>(pOut);
  if (!m_bInit || nSize < 1 || m_bDecoder || pData == nullptr || pEncOut == nullptr ||
      m_pCodecCtx == nullptr) {
    return -1;
  }
  pEncOut->m_nNum = 0;
  FrameScrub scrub(m_pTempFrame, m_pVideoFrame);

  if (FillAVFrame(pData, nSize) != 0) {
    CODEC_LOG(kLogError, "[CODE]FillAVFrame failed");
    return -1;
  }

  if (m_pFilterGraph != nullptr) {
    FramePtr pFiltered(FilterEncodeFrame(m_pTempFrame));
    if (pFiltered == nullptr) return -1;
    const auto eFiltered = static_cast<AVPixelFormat>(pFiltered->format);
    if (m_pSwsCtx != nullptr) {
      if (eFiltered != m_eSwsSrcPixFmt) {
        sws_freeContext(m_pSwsCtx);
        m_pSwsCtx = nullptr;
        if (SwsCtxInit(m_nSwsSrcWidth, m_nSwsSrcHeight, eFiltered, m_pCodecCtx->width,
                       m_pCodecCtx->height, m_pCodecCtx->pix_fmt) != 0) {
          CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
          return -1;
        }
        m_eSwsSrcPixFmt = eFiltered;
      }
    } else if (eFiltered != m_pCodecCtx->pix_fmt) {
      if (SwsCtxInit(m_pCodecCtx->width, m_pCodecCtx->height, eFiltered, m_pCodecCtx->width,
                     m_pCodecCtx->height, m_pCodecCtx->pix_fmt) != 0) {
        CODEC_LOG(kLogError, "[CODE]SwsCtxInit failed");
        return -1;
      }
      m_nSwsSrcWidth = m_pCodecCtx->width;
      m_nSwsSrcHeight = m_pCodecCtx->height;
      m_eSwsSrcPixFmt = eFiltered;
    }
    if (av_frame_replace(m_pTempFrame, pFiltered.get()) < 0) return -1;
  }

  if (m_pSwsCtx != nullptr) {
    // The encoder may still hold the last scaled picture: never write into shared buffers.
    if (m_pSwsFrame->buf[0] != nullptr && !av_frame_is_writable(m_pSwsFrame)) {
      av_frame_unref(m_pSwsFrame);
    }
    const int nScaled = sws_scale_frame(m_pSwsCtx, m_pSwsFrame, m_pTempFrame);
    av_frame_unref(m_pTempFrame);
    if (nScaled < 0) {
      CODEC_LOG(kLogError, "[CODE]sws_scale_frame failed:%d", nScaled);
      return -1;
    }
    if (av_frame_replace(m_pVideoFrame, m_pSwsFrame) < 0) return -1;
  } else {
    // Copies a picture that still points into the caller's buffer.
    const int nCopied = av_frame_replace(m_pVideoFrame, m_pTempFrame);
    av_frame_unref(m_pTempFrame);
    if (nCopied < 0) return -1;
  }

  m_pVideoFrame->pts = m_nFrameIndex.fetch_add(1);
  const int nSent = avcodec_send_frame(m_pCodecCtx, m_pVideoFrame);
  av_frame_unref(m_pVideoFrame);
  if (nSent == AVERROR(EAGAIN) || nSent == AVERROR_EOF) return 0;
  if (nSent < 0) {
    CODEC_LOG(kLogError, "[CODE]Video avcodec_send_frame failed:%d", nSent);
    return -1;
  }

  if (m_pPacket == nullptr) m_pPacket = av_packet_alloc();
  if (m_pPacket == nullptr) return -1;
  const int nReceived = avcodec_receive_packet(m_pCodecCtx, m_pPacket);
  if (nReceived < 0 && nReceived != AVERROR(EAGAIN) && nReceived != AVERROR_EOF) {
    CODEC_LOG(kLogError, "[CODE]Video avcodec_receive_packet failed:%d", nReceived);
    return -1;
  }
  if (nReceived >= 0 && pEncOut->m_nNum < OUTPARAM_MAX_COUNT) {
    AVPacket* pEntry = (pEncOut->m_nFlag & OUTPARAM_FLAG_NOT_USE_CACHE) != 0
                           ? av_packet_clone(m_pPacket)
                           : m_pPacket;
    if (pEntry == nullptr) return -1;
    const int nEntry = pEncOut->m_nNum++;
    pEncOut->m_pPacket[nEntry] = pEntry;
    pEncOut->m_outData[nEntry].pData = pEntry->data;
    pEncOut->m_outData[nEntry].nSize = pEntry->size;
  }
  pEncOut->m_nWidth = m_nRealDstWidth;
  pEncOut->m_nHeight = m_nRealDstHeight;
  return pEncOut->m_nNum;
}

}  // namespace codec_interface
