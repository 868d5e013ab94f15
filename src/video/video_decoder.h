// The decoding role of a video codec object: everything FFmpeg one decoder needs, built by Open
// and released with the object.
#pragma once

#include <cstdint>
#include <string>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "interface/scaler.h"
#include "video/decoder_restart.h"
#include "video/easy_param_mailbox.h"
#include "video/picture_filter.h"
#include "video/video_codec_context.h"

namespace codec_interface {

class VideoDecoder {
 public:
  VideoDecoder(const VideoCodecFacts& facts, const VideoCodecParam& param, AVPixelFormat eFormat,
               ThreadChoice threads);

  // Makes and opens the decoder. 0, or -1 after the failing step's line.
  int Open(const VideoCodecParam& param);
  // A new decoder with new output settings, on the caller's device when one is given.
  int Reset(const VideoCodecParam& param);
  // One packet into at most one picture in pOut (nPts: the packet's time in microseconds, or
  // AV_NOPTS_VALUE). The number of pictures, or -1 / -2 after the failure line.
  int Decode(unsigned char* pData, int nSize, int64_t nPts, CVideoDecodeOutParam* pOut,
             EasyParamMailbox& easy);
  // The next picture the decoder kept back at the end of the stream; 0 when there is none.
  int Drain(CVideoDecodeOutParam* pOut, EasyParamMailbox& easy);
  bool Ready() const { return m_context.Get() != nullptr && m_pPacket != nullptr; }
  const AVCodec* Codec() const { return m_context.Facts().pCodec; }

 private:
  void KeepSourceSize(const VideoCodecParam& param);
  // Ends a drain, finished or not: the decoder is flushed.
  void LeaveDrain();
  int OpenMediaCodecWith(unsigned char* pData, int nSize);
  // Sends the packet (bReplay: the kept ones since the key packet) and receives at most one
  // picture into m_pPicture: 1 with a picture, 0 without, or -2 after the failure line.
  [[nodiscard]] int DecodePacket(CVideoDecodeOutParam* pOut, bool bReplay);
  // Follows the size of the picture just decoded: 0 to hand it out, 1 to decode the packet again
  // with a re-created decoder, -1 after the failure line.
  int FollowPictureSize();
  int DecodeChangeSize();

  // Output (video_decoder_output.cpp).
  void ApplyEasyParam(EasyParamMailbox& easy);
  // Hands m_pPicture out, scaled, converted and filtered as asked; -1 after the failure line.
  int OutPutFrame(CVideoDecodeOutParam* pOut, EasyParamMailbox& easy);
  // Copies a device surface into memory when the output needs other pixels; the picture to go
  // on with, or null after the failure line.
  AVFrame* TransferSurface(bool bUntouched);
  int ScaleTempFrame(AVPixelFormat eDstFmt);
  // Converts a filtered m_pTempFrame back to the layout asked for; -1 after the failure line.
  int KeepAskedLayout(AVPixelFormat eAsked);

  VideoCodecContext m_context;
  AVPixelFormat m_ePixFmt;
  int32_t m_nDstWidth;
  int32_t m_nDstHeight;
  bool m_bKeepAspect;
  int32_t m_nSrcWidth = 0;
  int32_t m_nSrcHeight = 0;
  bool m_bSrcSizeFixed = false;
  int32_t m_nRealDstWidth = 0;
  int32_t m_nRealDstHeight = 0;
  PictureFilter m_filter;
  Scaler m_scaler;           // the output's size and layout
  Scaler m_layoutScaler;     // a filter's output back to the layout asked for
  DecoderRestart m_restart;  // a decoder re-created for a new size starts from its key frame
  FramePtr m_pPicture;       // the decoder's picture
  FramePtr m_pTempFrame;     // the picture on its way out
  FramePtr m_pSwFrame;       // a device surface copied into memory
  PacketPtr m_pPacket;
};

}  // namespace codec_interface
