// The video decoder: set-up, one packet into at most one picture, and the end of a stream.
#include "video/video_decoder.h"

#include "interface/fixed_text.h"
#include "interface/log.h"
#include "interface/pixel_formats.h"
#include "video/hw_device.h"

namespace codec_interface {

namespace {

// The DecodeChangeSize lines keep the function name of an earlier build: hosts grep for them.
constexpr const char* kDecodeChangeSizeName =
    "codec_interface::CFFMpegVideoCodec::DecodeChangeSize";

}  // namespace

VideoDecoder::VideoDecoder(const VideoCodecFacts& facts, const VideoCodecParam& param,
                           AVPixelFormat eFormat, ThreadChoice threads)
    : m_context(facts, param.nCommandQueueCount, param.nAdapterIndex, threads),
      m_ePixFmt(eFormat),
      m_nDstWidth(param.nDstWidth),
      m_nDstHeight(param.nDstHeight),
      m_bKeepAspect(param.bKeepAspectRatio) {
  m_filter.Describe(TextOf(param.szFilterDesc));
}

int VideoDecoder::Open(const VideoCodecParam& param) {
  const int created = m_context.Create(param.pHwDeviceCtx);
  if (created == -1) {
    CODEC_LOG(kLogError, "Could not allocate video codec context");
    return -1;
  }
  if (created == VideoCodecContext::kDeviceFailed) {
    CODEC_LOG(kLogError, "hw_decoder_init failed");
    return -1;
  }
  // Only a new codec chooses its D3D11 surfaces itself; a re-created context keeps FFmpeg's.
  if (m_context.Facts().Device() == AV_HWDEVICE_TYPE_D3D11VA) {
    m_context.Get()->get_format = PickD3D11Surfaces;
  }
  if (AllocateWorkFrames(m_pPacket, m_pPicture, m_pTempFrame) != 0) return -1;
  KeepSourceSize(param);
  int opened = 0;
  if (m_context.Facts().OpensWithFirstPacket()) {
    // The device waits with the decoder for the first packet that gives the picture size.
    if (param.pHwDeviceCtx != nullptr) m_context.KeepDevice(param.pHwDeviceCtx);
  } else {
    // Direct3D decoders run on one thread.
    AvOptions options;
    const HwFamily* family = m_context.Facts().pHw;
    if (family != nullptr && family->bAdapterDevice) options.Set("threads", "1");
    opened = m_context.Open(options);
  }
  if (opened < 0) {
    CODEC_LOG(kLogError, "Could not open codec:[%d][%s]", opened, AvErrorText(opened).c_str());
    return -1;
  }
  return 0;
}

int VideoDecoder::Reset(const VideoCodecParam& param) {
  // Only memory formats (or none): a surface format chosen at Init survives.
  if (param.ePixelFormat == PIX_FMT_NONE || IsMemoryPixelFormat(param.ePixelFormat)) {
    PixelFormatToAv(param.ePixelFormat, &m_ePixFmt);
  }
  m_nDstWidth = param.nDstWidth;
  m_nDstHeight = param.nDstHeight;
  m_bKeepAspect = param.bKeepAspectRatio;
  m_scaler.Reset();
  m_restart.Clear();
  m_context.DropDevice();
  if (m_context.Get() == nullptr) {
    CODEC_LOG(kLogError, "AVCodecContext is null");
    return -1;
  }
  const int recreated = m_context.Recreate(true, param.pHwDeviceCtx);
  if (recreated == VideoCodecContext::kDeviceFailed) {
    CODEC_LOG(kLogError, "hw_decoder_init failed");
  }
  if (recreated != 0) return -1;
  KeepSourceSize(param);
  AvOptions options;
  if (m_context.Open(options) < 0) {
    CODEC_LOG(kLogError, "Could not open codec");
    return -1;
  }
  return 0;
}

void VideoDecoder::KeepSourceSize(const VideoCodecParam& param) {
  m_nSrcWidth = param.nSrcWidth;
  m_nSrcHeight = param.nSrcHeight;
  m_bSrcSizeFixed = param.nSrcWidth != 0 || param.nSrcHeight != 0;
}

int VideoDecoder::Decode(unsigned char* pData, int nSize, int64_t nPts, CVideoDecodeOutParam* pOut,
                         EasyParamMailbox& easy) {
  if (!Ready()) return -1;
  LeaveDrain();
  pOut->m_nNum = 0;
  pOut->m_bDecodeError = false;
  // The packet borrows the caller's bytes; FFmpeg copies them when it needs to keep them.
  m_pPacket->data = pData;
  m_pPacket->size = nSize;
  m_pPacket->pts = nPts;
  // Timed packets: the decoder and the filter graph keep their times in microseconds.
  if (nPts != AV_NOPTS_VALUE) m_context.Get()->pkt_timebase = AVRational{1, 1000000};
  m_restart.Keep(Codec()->id, *m_pPacket);

  bool bReplay = false;
  for (;;) {
    if (OpenMediaCodecWith(pData, nSize) != 0) return -1;
    const int decoded = DecodePacket(pOut, bReplay);
    if (decoded <= 0) return decoded < 0 ? decoded : pOut->m_nNum;
    const int followed = FollowPictureSize();
    if (followed < 0) return -1;
    if (followed == 0) break;
    pOut->Clear();
    // The new context starts from the key packet that began the new size when the packets
    // since are kept (with reordered pictures the new size shows several packets after it),
    // else it decodes the same packet afresh. One replay per call: a stream that changes size
    // again within it goes on the plain way.
    bReplay = !bReplay && m_restart.CanReplay() && avcodec_is_open(m_context.Get());
  }
  if (m_pPicture->flags & AV_FRAME_FLAG_KEY) m_restart.KeyPictureOut();

  if (OutPutFrame(pOut, easy) < 0) {
    CODEC_LOG(kLogError, "OutPutFrame failed!");
    return -1;
  }
  return pOut->m_nNum;
}

// A MediaCodec decoder opens with the packet that carries its parameter sets.
int VideoDecoder::OpenMediaCodecWith(unsigned char* pData, int nSize) {
  AVCodecContext* ctx = m_context.Get();
  if (!m_context.Facts().OpensWithFirstPacket() || ctx->extradata != nullptr ||
      m_context.PrepareMediaCodec(pData, nSize) != 0) {
    return 0;
  }
  AvOptions options;
  const int ret = m_context.Open(options);
  if (ret < 0) {
    CODEC_LOG(kLogError, "Could not open MEDIACODEC codec:[%d][%s]", ret, AvErrorText(ret).c_str());
    return -1;
  }
  return 0;
}

int VideoDecoder::DecodePacket(CVideoDecodeOutParam* pOut, bool bReplay) {
  AVCodecContext* ctx = m_context.Get();
  const ExchangeStatus sent = bReplay ? m_restart.Replay(ctx) : DecoderSend(ctx, m_pPacket.get());
  // A packet the decoder finds corrupt is dropped by it; the pictures before it still come out.
  if (sent.Failed() && !sent.Corrupt()) {
    CODEC_LOG(kLogError, "video avcodec_send_packet failed:%d", sent.Code());
    // A context that never opened has nothing to flush.
    if (avcodec_is_open(ctx)) avcodec_flush_buffers(ctx);
    m_restart.Clear();
    return -2;
  }
  const ExchangeStatus got = m_restart.Receive(ctx, m_pPicture.get());
  if (got.Idle()) return 0;
  if (got.Failed()) {
    CODEC_LOG(kLogError, "video avcodec_receive_frame failed:%d", got.Code());
    avcodec_flush_buffers(ctx);
    m_restart.Clear();
    return -2;
  }
  if (m_pPicture->decode_error_flags != 0) pOut->m_bDecodeError = true;
  return 1;
}

int VideoDecoder::FollowPictureSize() {
  const int width = m_pPicture->width;
  const int height = m_pPicture->height;
  if (width == m_nSrcWidth && height == m_nSrcHeight) return 0;
  if (m_nSrcWidth == 0 || m_nSrcHeight == 0) {
    CODEC_LOG(kLogInfo, "Src pix changed [%d*%d]->[%d*%d]", m_nSrcWidth, m_nSrcHeight, width,
              height);
    m_nSrcWidth = width;
    m_nSrcHeight = height;
    return 0;
  }
  if (m_bSrcSizeFixed) {
    CODEC_LOG(kLogError, "Src pix changed [%d*%d]->[%d*%d]", m_nSrcWidth, m_nSrcHeight, width,
              height);
    return -1;
  }
  CODEC_LOG(kLogInfo, "Src pix changed[%d*%d]->[%d*%d] DecodeChangeSize", m_nSrcWidth, m_nSrcHeight,
            width, height);
  if (DecodeChangeSize() == -1) {
    CODEC_LOG(kLogError, "DecodeChangeSize failed");
    return -1;
  }
  m_nSrcWidth = width;
  m_nSrcHeight = height;
  return 1;
}

int VideoDecoder::DecodeChangeSize() {
  m_scaler.Reset();
  const int recreated = m_context.Recreate(false, nullptr);
  if (recreated == VideoCodecContext::kDeviceFailed) {
    CODEC_LOG(kLogError, "%s hw_decoder_init failed", kDecodeChangeSizeName);
  }
  if (recreated != 0) return -1;
  // MediaCodec opens again from the same packet once Decode sees its parameter sets.
  if (m_context.Facts().OpensWithFirstPacket()) return 0;
  AvOptions options;
  if (m_context.Open(options) < 0) {
    CODEC_LOG(kLogError, "%s Could not open codec", kDecodeChangeSizeName);
    return -1;
  }
  return 0;
}

int VideoDecoder::Drain(CVideoDecodeOutParam* pOut, EasyParamMailbox& easy) {
  if (m_context.Get() == nullptr) return -1;
  pOut->m_nNum = 0;
  pOut->m_bDecodeError = false;
  AVCodecContext* ctx = m_context.Get();
  // A MediaCodec decoder that never saw its parameter sets holds nothing.
  if (!avcodec_is_open(ctx)) return 0;
  for (;;) {
    if (!m_context.Draining()) {
      const ExchangeStatus sent = DecoderSend(ctx, nullptr);
      if (sent.Failed()) {
        CODEC_LOG(kLogError, "video drain avcodec_send_packet failed:%d", sent.Code());
        LeaveDrain();
        return -1;
      }
      // Pictures wait to be received first: the end is told on the next round.
      m_context.SetDraining(!sent.Waits());
    }
    // Pictures that a replay after a size change completed come out first.
    const ExchangeStatus got = m_restart.Receive(ctx, m_pPicture.get());
    if (got.Idle()) {
      LeaveDrain();
      return 0;
    }
    if (got.Failed()) {
      CODEC_LOG(kLogError, "video drain avcodec_receive_frame failed:%d", got.Code());
      LeaveDrain();
      return -1;
    }
    if (m_pPicture->decode_error_flags != 0) pOut->m_bDecodeError = true;
    if (OutPutFrame(pOut, easy) < 0) {
      CODEC_LOG(kLogError, "OutPutFrame failed!");
      LeaveDrain();
      return -1;
    }
    // A filter that keeps the picture back hands out nothing for it: on to the next one.
    if (pOut->m_nNum > 0) return pOut->m_nNum;
  }
}

void VideoDecoder::LeaveDrain() {
  if (!m_context.Draining()) return;
  m_context.SetDraining(false);
  avcodec_flush_buffers(m_context.Get());
  m_restart.Clear();
}

}  // namespace codec_interface
