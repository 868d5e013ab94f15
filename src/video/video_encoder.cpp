// The video encoder's set-up, its settings, and the end of a stream.
#include "video/video_encoder.h"

#include <climits>

#include "interface/codec_exchange.h"
#include "interface/colour.h"
#include "interface/fixed_text.h"
#include "interface/log.h"
#include "interface/pixel_formats.h"

namespace codec_interface {

namespace {

// The encoder's accepted input formats. A null list means the encoder takes any format.
bool EncoderSupports(const AVCodecContext* pCtx, AVPixelFormat eFormat, bool* pListed) {
  const void* pConfigs = nullptr;
  int nCount = 0;
  *pListed = avcodec_get_supported_config(pCtx, nullptr, AV_CODEC_CONFIG_PIX_FORMAT, 0, &pConfigs,
                                          &nCount) >= 0 &&
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

void SetPresets(const EncoderPresets& presets, AvOptions& options) {
  if (presets.pPreset != nullptr) options.Set("preset", presets.pPreset);
  if (presets.pTune != nullptr) options.Set("tune", presets.pTune);
  if (presets.pProfile != nullptr) options.Set("profile", presets.pProfile);
}

}  // namespace

VideoEncoder::VideoEncoder(const VideoCodecFacts& facts, const VideoCodecParam& param,
                           AVPixelFormat eFormat, const EncoderChoices* pChoices,
                           ThreadChoice threads)
    : m_context(facts, param.nCommandQueueCount, param.nAdapterIndex, threads),
      m_ePixFmt(eFormat),
      m_stParam(param),
      m_pChoices(pChoices) {
  m_filter.Describe(TextOf(param.szFilterDesc));
}

int VideoEncoder::Open(const VideoCodecParam& param) {
  if (m_context.Create(nullptr) != 0) {
    CODEC_LOG(kLogError, "Could not allocate video codec context");
    return -1;
  }
  if (AllocateWorkFrames(m_pPacket, m_pVideoFrame, m_pTempFrame) != 0) return -1;
  if (m_ePixFmt == AV_PIX_FMT_NONE) CODEC_LOG(kLogError, "Encode can not set PIX_FMT_NONE");
  if (m_ePixFmt == AV_PIX_FMT_NONE || InitEncode(param) != 0) {
    CODEC_LOG(kLogDebug, "InitEncode failed");
    return -1;
  }
  const int opened = OpenPrepared();
  if (opened < 0) {
    CODEC_LOG(kLogError, "Could not open codec:[%d][%s]", opened, AvErrorText(opened).c_str());
    return -1;
  }
  if (!m_filter.Description().empty() &&
      m_filter.Build(m_context.Get(), param.nSrcWidth, param.nSrcHeight, m_ePixFmt) != 0) {
    CODEC_LOG(kLogError, "InitFilter failed");
    return -1;
  }
  return 0;
}

int VideoEncoder::Reset(const VideoCodecParam& param) {
  m_stParam = param;
  if (param.ePixelFormat == PIX_FMT_NONE || IsMemoryPixelFormat(param.ePixelFormat)) {
    PixelFormatToAv(param.ePixelFormat, &m_ePixFmt);
  }
  m_scaler.Reset();
  if (m_context.Get() == nullptr) {
    CODEC_LOG(kLogError, "AVCodecContext is null");
    return -1;
  }
  if (m_context.Recreate(true, nullptr) != 0) return -1;
  if (InitEncode(param) != 0) {
    CODEC_LOG(kLogError, "InitEncode failed");
    return -1;
  }
  if (OpenPrepared() < 0) {
    CODEC_LOG(kLogError, "Could not open codec");
    return -1;
  }
  return 0;
}

int VideoEncoder::InitEncode(const VideoCodecParam& param) {
  AVCodecContext* pCtx = m_context.Get();
  pCtx->bit_rate = static_cast<int64_t>(param.nBitRate);
  pCtx->width = param.nDstWidth != 0 ? param.nDstWidth : param.nSrcWidth;
  pCtx->height = param.nDstHeight != 0 ? param.nDstHeight : param.nSrcHeight;
  SetEncoderTiming(param.nFrameRate);
  pCtx->gop_size = param.nGopSize;
  pCtx->max_b_frames = 0;
  pCtx->refs = 6;
  pCtx->pix_fmt = ChooseEncoderFormat(pCtx, m_ePixFmt);
  TagEncoderColour(pCtx, m_ePixFmt, m_pChoices->colour);
  // A previous open may have left keys the encoder did not take.
  m_encodeOptions.Clear();
  SetPresets(m_context.Facts().presets, m_encodeOptions);
  ApplyEncoderThreads(m_context.Threads(), pCtx, m_encodeOptions);

  // The filter's declared output size means nothing without a filter: the scaler then reads
  // the caller's pictures, at their own size.
  const bool bFilterSize =
      param.szFilterDesc[0] != '\0' && param.nFilterOutWidth != 0 && param.nFilterOutHeight != 0;
  const int nScaleSrcWidth = bFilterSize ? param.nFilterOutWidth : param.nSrcWidth;
  const int nScaleSrcHeight = bFilterSize ? param.nFilterOutHeight : param.nSrcHeight;
  if ((nScaleSrcWidth != pCtx->width || nScaleSrcHeight != pCtx->height ||
       m_ePixFmt != pCtx->pix_fmt) &&
      PrepareEncodeScaler(nScaleSrcWidth, nScaleSrcHeight) != 0) {
    m_encodeOptions.Clear();  // the encoder will not be opened with them
    return -1;
  }
  m_nSrcWidth = param.nSrcWidth;
  m_nSrcHeight = param.nSrcHeight;
  m_nRealDstWidth = pCtx->width;
  m_nRealDstHeight = pCtx->height;
  return 0;
}

void VideoEncoder::SetEncoderTiming(int nFrameRate) const {
  AVCodecContext* pCtx = m_context.Get();
  const AVRational rate = m_pChoices->frameRate;
  // Two ticks a picture: the time base is twice the picture's duration.
  if (rate.num <= 0) {
    pCtx->time_base = AVRational{2, nFrameRate};
    pCtx->framerate = AVRational{nFrameRate, 1};
    return;
  }
  pCtx->framerate = rate;
  pCtx->time_base = rate.den <= INT_MAX / 2 ? AVRational{2 * rate.den, rate.num}
                                            : av_mul_q(av_inv_q(rate), AVRational{2, 1});
}

int VideoEncoder::PrepareEncodeScaler(int nSrcWidth, int nSrcHeight) {
  const AVCodecContext* pCtx = m_context.Get();
  if (!m_scaler.Ready() && m_scaler.Init({nSrcWidth, nSrcHeight, m_ePixFmt, pCtx->width,
                                          pCtx->height, pCtx->pix_fmt}) != 0) {
    CODEC_LOG(kLogError, "SwsCtxInit failed");
    return -1;
  }
  // The scaler writes pictures of the encoder's geometry, which must have a size.
  if (av_image_get_buffer_size(pCtx->pix_fmt, pCtx->width, pCtx->height, 1) <= 0) {
    CODEC_LOG(kLogDebug, "av_image_fill_arrays for frame failed");
    return -1;
  }
  return 0;
}

int VideoEncoder::OpenPrepared() {
  const int ret = m_context.Open(m_encodeOptions);
  m_encodeOptions.Clear();
  return ret;
}

int VideoEncoder::Drain(CVideoEncodeOutParam* pOut) {
  if (!Ready()) return -1;
  pOut->m_nNum = 0;
  if (!m_context.Draining()) {
    const ExchangeStatus sent = EncoderSend(m_context.Get(), nullptr);
    if (!sent.Passed() && !sent.Ended()) {
      CODEC_LOG(kLogError, "video drain avcodec_send_frame failed:%d", sent.Code());
      AbandonDrain();
      return -1;
    }
    m_context.SetDraining(true);
  }
  if (ReceivePacket(pOut) != 0) {
    AbandonDrain();
    return -1;
  }
  if (pOut->m_nNum == 0) return LeaveDrain();
  pOut->m_nWidth = m_nRealDstWidth;
  pOut->m_nHeight = m_nRealDstHeight;
  return pOut->m_nNum;
}

int VideoEncoder::LeaveDrain() {
  if (!m_context.Draining()) return 0;
  m_context.SetDraining(false);
  return ReopenEncoder();
}

// An encoder told the end of its stream takes no picture again until it is opened anew; a
// flush does not undo the end for every encoder (libx264's lookahead stays stopped).
int VideoEncoder::ReopenEncoder() {
  m_scaler.Reset();
  if (m_context.Recreate(false, nullptr) != 0) {
    CODEC_LOG(kLogError, "video drain could not allocate the encoder again");
    return -1;
  }
  if (InitEncode(m_stParam) != 0) {
    CODEC_LOG(kLogError, "InitEncode failed");
    return -1;
  }
  const int nOpened = OpenPrepared();
  if (nOpened < 0) {
    CODEC_LOG(kLogError, "video drain could not open the encoder again:[%d][%s]", nOpened,
              AvErrorText(nOpened).c_str());
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
