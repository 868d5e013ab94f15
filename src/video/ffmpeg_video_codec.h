#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Video encoders and decoders behind ICodecInterface: one object is either a decoder (H.264,
// HEVC, MJPEG, in software or on a hardware device) or an encoder (H.264, HEVC, BMP), as the
// CodecType given to Init decides.
class CFFMpegVideoCodec : public ICodecInterface {
 public:
  CFFMpegVideoCodec();
  ~CFFMpegVideoCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

  // Forwards FFmpeg's own log lines (warning and above) to the base logger; installed once per
  // process by the first video Init.
  static void FFmpegLogCallback(void* pAvcl, int nLevel, const char* pFormat, va_list args);

  // Creates a hardware device context into *ppDeviceRef; ppNative, when given, receives the
  // device's API-specific context. Returns FFmpeg's result (negative on failure).
  static int hw_decoder_init(AVBufferRef** ppDeviceRef, void** ppNative, AVHWDeviceType eType,
                             int nCommandQueueCount, unsigned int nAdapterIndex);
  // get_format callback of D3D11VA decoders: picks the surface format of the context's device.
  static AVPixelFormat GetHwFormat(AVCodecContext* pCtx, const AVPixelFormat* pFormats);

 private:
  friend struct VideoCodecTestPeer;  // tests reach the private steps through it

  // Setup steps.
  bool GetHwPixelFormat(const AVCodec* pCodec, AVHWDeviceType eType, AVPixelFormat* pHwPixFmt);
  int InitMediaCodec(const uint8_t* pData, int nSize, AVCodecContext* pCtx);
  // Frees the codec context with its extradata and device reference; Uninit and Reset log the
  // device's reference count first, DecodeChangeSize does not.
  void ReleaseCodecContext(bool bLogDeviceRef);
  // Replaces the codec context by a new, unopened one; a hardware type gets its device again
  // (pNewDevice, when given, becomes m_pHwDeviceRef first). Returns 0, -1 when the context
  // cannot be allocated (logged here) or kDeviceFailed (the caller logs its own line).
  static constexpr int kDeviceFailed = -2;
  int RecreateCodecContext(bool bLogDeviceRef, AVBufferRef* pNewDevice);
  // Gives m_pCodecCtx a reference to pDevice, or to a new device of type eType.
  int AttachHwDevice(AVBufferRef* pDevice, AVHWDeviceType eType, int nCommandQueueCount,
                     unsigned int nAdapterIndex);
  // avcodec_open2 with the encoder's prepared options, or for a decoder "threads" 1 when asked.
  int OpenCodecContext(bool bSingleThread);

  // Decoding and output.
  int OutPutFrame(CVideoDecodeOutParam* pOut);
  int DecodeChangeSize();
  void ApplyEasyParam();
  int AddOutFrame(AVFrame* pPicture, CVideoDecodeOutParam* pOut);

  // Pixel conversion.
  int SwsCtxInit(int nSrcWidth, int nSrcHeight, AVPixelFormat eSrcFmt, int nDstWidth,
                 int nDstHeight, AVPixelFormat eDstFmt);
  void FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out);
  int ScaleTempFrame(AVPixelFormat eDstFmt);  // the decoder's scaling of m_pTempFrame
  void FreeScaler();
  // Drops a reused frame's buffers while anyone else still references them, so that the next
  // write into the frame allocates new ones.
  static void DetachSharedBuffers(AVFrame* pFrame);

  // Encoding.
  int InitEncode(AVCodecContext* pCtx, const VideoCodecParam& param);
  int FillAVFrame(uint8_t* pData, int nSize);

  // Filter graph.
  int InitFilter(AVCodecContext* pCtx, int nWidth, int nHeight, AVPixelFormat eFormat,
                 const char* pFilterDesc);
  AVFrame* FilterDecodeFrame(AVFrame* pFrame);
  AVFrame* FilterEncodeFrame(AVFrame* pFrame);
  void FreeFilterGraph();

  bool m_bKeepAspect;
  int32_t m_nRealDstWidth;
  int32_t m_nRealDstHeight;
  int32_t m_nDstWidth;
  int32_t m_nDstHeight;
  int32_t m_nSrcWidth;
  int32_t m_nSrcHeight;
  int32_t m_nCommandQueueCount;
  uint32_t m_nDeviceIndex;
  bool m_bSrcSizeFixed;
  std::string m_strFilterDesc;
  CodecType m_eCodecType;
  bool m_bDecoder;
  AVPixelFormat m_ePixFmt;
  AVPixelFormat m_eHwPixFmt;
  AVBufferRef* m_pHwDeviceRef;
  const AVCodec* m_pCodec;
  AVCodecContext* m_pCodecCtx;
  SwsContext* m_pSwsCtx;
  int32_t m_nSwsSrcWidth;
  int32_t m_nSwsSrcHeight;
  AVPixelFormat m_eSwsSrcPixFmt;
  AVFilterContext* m_pBufferSrcCtx;   // owned by m_pFilterGraph
  AVFilterContext* m_pBufferSinkCtx;  // owned by m_pFilterGraph
  AVFilterGraph* m_pFilterGraph;
  AVFilterInOut* m_pFilterInputs;
  AVFilterInOut* m_pFilterOutputs;
  AVFrame* m_pVideoFrame;
  AVFrame* m_pFilterFrame;
  AVFrame* m_pSwFrame;
  AVFrame* m_pSwsFrame;
  AVFrame* m_pTempFrame;
  uint8_t* m_pImageBuf;
  int32_t m_nImageBufSize;
  std::atomic<int64_t> m_nFrameIndex;
  AVPacket* m_pPacket;
  AVDictionary* m_pEncodeOptions;  // prepared by InitEncode for avcodec_open2

  std::mutex m_mtxEasyParam;
  bool m_bEasyParamPending;
  VideoEasyParam m_stEasyParam;

  std::mutex m_mtxCodec;
  bool m_bInit;
};

}  // namespace codec_interface
