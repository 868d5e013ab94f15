// Video codec setup and teardown, easy parameters and the bridge from FFmpeg's log.
#include "video/ffmpeg_video_codec.h"

#include <cstring>
#include <string>

#include "interface/log.h"
#include "video/codec_table.h"
#include "video/pixel_convert.h"

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

namespace {

// The hardware surface formats a caller may ask for, with the lines that refuse them.
struct SurfaceFormatRule {
  PixelFormat eFormat;
  const char* pWrongType;
  const char* pSized;
};

constexpr SurfaceFormatRule kSurfaceFormatRules[] = {
    {PIX_FMT_DXVA2,
     "[CODE]PIX_FMT_DXVA2 must set "
     "CodecType:AV_CODEC_TYPE_H264DEC_DXVA2/AV_CODEC_TYPE_HEVCDEC_DXVA2",
     "[CODE]PIX_FMT_DXVA2 can not change size"},
    {PIX_FMT_D3D12VA,
     "[CODE]PIX_FMT_D3D12VA must set "
     "CodecType:AV_CODEC_TYPE_H264DEC_D3D12VA/AV_CODEC_TYPE_HEVCDEC_D3D12VA",
     "[CODE]PIX_FMT_D3D12VA can not change size"},
    {PIX_FMT_D3D11VA,
     "[CODE]PIX_FMT_D3D11VA must set "
     "CodecType:AV_CODEC_TYPE_H264DEC_D3D11VA/AV_CODEC_TYPE_HEVCDEC_D3D11VA",
     "[CODE]PIX_FMT_D3D11VA can not change size"},
    {PIX_FMT_VIDEOTOOLBOX,
     "[CODE]PIX_FMT_VIDEOTOOLBOX must set "
     "CodecType:AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX/AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX",
     "[CODE]PIX_FMT_VIDEOTOOLBOX can not change size"},
};

// The line refusing a hardware surface format for this type or size, or null when it fits
// (software formats always fit).
const char* SurfaceFormatRefusal(const VideoCodecParam& param, CodecType eType,
                                 AVPixelFormat eMapped) {
  for (const SurfaceFormatRule& rule : kSurfaceFormatRules) {
    if (rule.eFormat != param.ePixelFormat) continue;
    const VideoCodecEntry* entry = FindVideoCodecEntry(eType);
    if (entry == nullptr || entry->eSurface != eMapped) return rule.pWrongType;
    if (param.nDstWidth != 0 || param.nDstHeight != 0) return rule.pSized;
  }
  return nullptr;
}

const AVCodec* FindCodec(const VideoCodecEntry& entry) {
  if (entry.pName != nullptr) return avcodec_find_decoder_by_name(entry.pName);
  return entry.bEncoder ? avcodec_find_encoder(entry.eCodecId)
                        : avcodec_find_decoder(entry.eCodecId);
}

bool IsD3dFamily(CodecType eType) {
  const AVHWDeviceType device = VideoHwDeviceType(eType);
  return device == AV_HWDEVICE_TYPE_DXVA2 || device == AV_HWDEVICE_TYPE_D3D11VA ||
         device == AV_HWDEVICE_TYPE_D3D12VA;
}

// A fixed character array taken up to its terminating zero, or whole when it has none.
template <size_t N>
std::string TextOf(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

int BaseLevelOf(int nFfmpegLevel) {
  if (nFfmpegLevel == AV_LOG_PANIC || nFfmpegLevel == AV_LOG_FATAL) return kLogFatal;
  if (nFfmpegLevel == AV_LOG_ERROR) return kLogError;
  if (nFfmpegLevel == AV_LOG_WARNING) return kLogWarning;
  return kLogDebug;
}

}  // namespace

int CFFMpegVideoCodec::Init(CodecType eCodecType, CodecParam param) {
  const VideoCodecParam& video = param.stVideo;
  std::unique_lock<std::mutex> lock(m_mtxCodec);
  static std::once_flag s_logBridge;
  std::call_once(s_logBridge, [] { av_log_set_callback(FFmpegLogCallback); });
  if (m_bInit) return 0;

  AVPixelFormat mapped = AV_PIX_FMT_NONE;
  if (PixelFormatToAv(video.ePixelFormat, &mapped)) {
    if (const char* refusal = SurfaceFormatRefusal(video, eCodecType, mapped)) {
      CodecLog(kLogError, refusal);
      return -1;
    }
    m_ePixFmt = mapped;
  }

  const VideoCodecEntry* entry = FindVideoCodecEntry(eCodecType);
  m_pCodec = entry != nullptr ? FindCodec(*entry) : nullptr;
  if (entry != nullptr && entry->eDevice == AV_HWDEVICE_TYPE_NONE) {
    m_bDecoder = !entry->bEncoder;
  } else if (m_pCodec != nullptr) {
    if (!GetHwPixelFormat(m_pCodec, entry->eDevice, &m_eHwPixFmt)) return -1;
    m_bDecoder = true;
  }

  // From here on a failure unlocks before its line, since Uninit takes the lock again.
  auto fail = [&](auto logLine) {
    lock.unlock();
    logLine();
    Uninit();
    return -1;
  };
  if (m_pCodec == nullptr) {
    return fail([&] {
      CODEC_LOG(kLogError, "[CODE]Codec not found for AVCodecType:%d",
                static_cast<int>(eCodecType));
    });
  }
  m_pCodecCtx = avcodec_alloc_context3(m_pCodec);
  if (m_pCodecCtx == nullptr) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]Could not allocate video codec context"); });
  }
  if (MakesDeviceWithCodec(eCodecType)) {
    m_pCodecCtx->pix_fmt = m_eHwPixFmt;
    if (entry->eDevice == AV_HWDEVICE_TYPE_D3D11VA) m_pCodecCtx->get_format = GetHwFormat;
    if (video.pHwDeviceCtx != nullptr) {
      m_pHwDeviceRef = av_buffer_ref(static_cast<AVBufferRef*>(video.pHwDeviceCtx));
    }
    if (AttachHwDevice(m_pHwDeviceRef, entry->eDevice, video.nCommandQueueCount,
                       video.nAdapterIndex) < 0) {
      return fail([] { CODEC_LOG(kLogError, "[CODE]hw_decoder_init failed"); });
    }
  }
  if (m_pPacket == nullptr) m_pPacket = av_packet_alloc();
  m_pVideoFrame = av_frame_alloc();
  if (m_pVideoFrame == nullptr) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not allocate video frame"); });
  }
  m_pTempFrame = av_frame_alloc();
  if (m_pTempFrame == nullptr) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not allocate temp video frame"); });
  }

  if (m_bDecoder) {
    m_nSrcWidth = video.nSrcWidth;
    m_nSrcHeight = video.nSrcHeight;
    m_bSrcSizeFixed = video.nSrcWidth != 0 || video.nSrcHeight != 0;
  } else {
    if (m_ePixFmt == AV_PIX_FMT_NONE) {
      CODEC_LOG(kLogError, "[CODE]Encode can not set PIX_FMT_NONE");
      return fail([] { CODEC_LOG(kLogDebug, "[CODE]InitEncode failed"); });
    }
    if (InitEncode(m_pCodecCtx, video) != 0) {
      return fail([] { CODEC_LOG(kLogDebug, "[CODE]InitEncode failed"); });
    }
  }

  if (eCodecType != AV_CODEC_TYPE_H264DEC_MEDIACODEC) {
    const int ret = OpenCodecContext(IsD3dFamily(eCodecType));
    if (ret < 0) {
      return fail([&] {
        CODEC_LOG(kLogError, "[CODE]Could not open codec:[%d][%s]", ret,
                  AvErrorText(ret).c_str());
      });
    }
  } else if (video.pHwDeviceCtx != nullptr) {
    // MediaCodec opens with the first packet that gives the picture size; the device waits.
    m_pHwDeviceRef = av_buffer_ref(static_cast<AVBufferRef*>(video.pHwDeviceCtx));
  }

  const std::string filterDesc = TextOf(video.szFilterDesc);
  if (!m_bDecoder && !filterDesc.empty() &&
      InitFilter(m_pCodecCtx, video.nSrcWidth, video.nSrcHeight, m_ePixFmt,
                 filterDesc.c_str()) != 0) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]InitFilter failed"); });
  }

  m_eCodecType = eCodecType;
  m_nDstWidth = video.nDstWidth;
  m_nDstHeight = video.nDstHeight;
  m_bKeepAspect = video.bKeepAspectRatio;
  m_nCommandQueueCount = video.nCommandQueueCount;
  m_nDeviceIndex = video.nAdapterIndex;
  m_strFilterDesc = filterDesc;
  m_bInit = true;
  CODEC_LOG(kLogInfo, "[CODE]video codec init succ; Using codec: %s (ID: %d)", m_pCodec->name,
            static_cast<int>(m_pCodec->id));
  return 0;
}

void CFFMpegVideoCodec::Uninit() {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  ReleaseCodecContext(true);
  av_buffer_unref(&m_pHwDeviceRef);
  av_frame_free(&m_pVideoFrame);
  av_freep(&m_pImageBuf);
  m_nImageBufSize = 0;
  FreeScaler();
  av_packet_free(&m_pPacket);
  FreeFilterGraph();
  av_frame_free(&m_pFilterFrame);
  av_frame_free(&m_pSwFrame);
  av_frame_free(&m_pSwsFrame);
  av_frame_free(&m_pTempFrame);
  av_dict_free(&m_pEncodeOptions);  // left over when an encoder set-up stopped before opening
  m_pCodec = nullptr;
  m_bInit = false;
  CODEC_LOG(kLogDebug, "[CODE]video codec uninit");
}

int CFFMpegVideoCodec::Reset(CodecParam param) {
  const VideoCodecParam& video = param.stVideo;
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  // Only software formats: a surface format chosen at Init survives.
  if (video.ePixelFormat >= PIX_FMT_NONE && video.ePixelFormat <= PIX_FMT_YUYV422) {
    PixelFormatToAv(video.ePixelFormat, &m_ePixFmt);
  }
  m_nDstWidth = video.nDstWidth;
  m_nDstHeight = video.nDstHeight;
  m_bKeepAspect = video.bKeepAspectRatio;
  FreeScaler();
  av_buffer_unref(&m_pHwDeviceRef);
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]AVCodecContext is null");
    return -1;
  }
  const int recreated =
      RecreateCodecContext(true, static_cast<AVBufferRef*>(video.pHwDeviceCtx));
  if (recreated == kDeviceFailed) CODEC_LOG(kLogError, "[CODE]hw_decoder_init failed");
  if (recreated != 0) return -1;
  if (m_bDecoder) {
    m_nSrcWidth = video.nSrcWidth;
    m_nSrcHeight = video.nSrcHeight;
    m_bSrcSizeFixed = video.nSrcWidth != 0 || video.nSrcHeight != 0;
  } else {
    av_freep(&m_pImageBuf);
    m_nImageBufSize = 0;
    if (InitEncode(m_pCodecCtx, video) != 0) {
      CODEC_LOG(kLogError, "[CODE]InitEncode failed");
      return -1;
    }
  }
  if (OpenCodecContext(false) < 0) {
    CODEC_LOG(kLogError, "[CODE]Could not open codec");
    return -1;
  }
  return 0;
}

void CFFMpegVideoCodec::SetEasyParam(VideoEasyParam param) {
  std::lock_guard<std::mutex> lock(m_mtxEasyParam);
  m_bEasyParamPending = true;
  m_stEasyParam = param;
}

CodecType CFFMpegVideoCodec::GetCodecType() { return m_eCodecType; }

void CFFMpegVideoCodec::FFmpegLogCallback(void*, int nLevel, const char* pFormat,
                                          va_list args) {
  if (nLevel > AV_LOG_WARNING) return;
  base::IBaseLogInterface::GetLogInstance(nullptr)->VPrintLog(
      BaseLevelOf(nLevel), static_cast<int>(base::GetTid()), pFormat, args);
}

void CFFMpegVideoCodec::ReleaseCodecContext(bool bLogDeviceRef) {
  if (m_pCodecCtx == nullptr) return;
  if (m_pCodecCtx->codec != nullptr && av_codec_is_decoder(m_pCodecCtx->codec) &&
      m_pCodecCtx->extradata != nullptr) {
    av_freep(&m_pCodecCtx->extradata);
    m_pCodecCtx->extradata_size = 0;
  }
  if (m_pCodecCtx->hw_device_ctx != nullptr) {
    if (bLogDeviceRef) {
      CODEC_LOG(kLogDebug, "[CODE]hw_device_ctx [%d]",
                av_buffer_get_ref_count(m_pCodecCtx->hw_device_ctx));
    }
    av_buffer_unref(&m_pCodecCtx->hw_device_ctx);
  }
  avcodec_free_context(&m_pCodecCtx);
}

int CFFMpegVideoCodec::RecreateCodecContext(bool bLogDeviceRef, AVBufferRef* pNewDevice) {
  ReleaseCodecContext(bLogDeviceRef);
  m_pCodecCtx = avcodec_alloc_context3(m_pCodec);
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]Could not allocate video codec context");
    return -1;
  }
  if (!MakesDeviceWithCodec(m_eCodecType)) return 0;
  m_pCodecCtx->pix_fmt = m_eHwPixFmt;
  if (pNewDevice != nullptr) m_pHwDeviceRef = av_buffer_ref(pNewDevice);
  if (AttachHwDevice(m_pHwDeviceRef, VideoHwDeviceType(m_eCodecType), m_nCommandQueueCount,
                     m_nDeviceIndex) < 0) {
    return kDeviceFailed;
  }
  return 0;
}

int CFFMpegVideoCodec::AttachHwDevice(AVBufferRef* pDevice, AVHWDeviceType eType,
                                      int nCommandQueueCount, unsigned int nAdapterIndex) {
  if (pDevice != nullptr) {
    m_pCodecCtx->hw_device_ctx = av_buffer_ref(pDevice);
    return 0;
  }
  // The context holds the only reference to a device made for it.
  AVBufferRef* created = nullptr;
  const int ret = hw_decoder_init(&created, nullptr, eType, nCommandQueueCount, nAdapterIndex);
  if (ret < 0) return ret;
  m_pCodecCtx->hw_device_ctx = av_buffer_ref(created);
  av_buffer_unref(&created);
  return 0;
}

int CFFMpegVideoCodec::OpenCodecContext(bool bSingleThread) {
  AvOptions decoderOptions;
  if (bSingleThread) decoderOptions.Set("threads", "1");
  AVDictionary** options = m_bDecoder ? decoderOptions.Slot() : &m_pEncodeOptions;
  const int ret = avcodec_open2(m_pCodecCtx, m_pCodec, options);
  av_dict_free(&m_pEncodeOptions);
  return ret;
}

}  // namespace codec_interface
