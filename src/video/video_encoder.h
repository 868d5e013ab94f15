// The encoding role of a video codec object: everything FFmpeg one encoder needs, built by Open
// and released with the object.
#pragma once

#include <cstdint>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "interface/colour.h"
#include "interface/scaler.h"
#include "video/picture_filter.h"
#include "video/video_codec_context.h"

namespace codec_interface {

// What a host chose for an encoder object beyond VideoCodecParam, through the static additions.
struct EncoderChoices {
  AVRational frameRate{0, 0};  // 0/0 when not given
  ColourDescription colour;
};

class VideoEncoder {
 public:
  // pChoices: the object's own choices, read at every opening.
  VideoEncoder(const VideoCodecFacts& facts, const VideoCodecParam& param, AVPixelFormat eFormat,
               const EncoderChoices* pChoices, ThreadChoice threads);

  // Makes and opens the encoder. 0, or -1 after the failing step's line.
  int Open(const VideoCodecParam& param);
  // A new encoder with new settings.
  int Reset(const VideoCodecParam& param);
  // One raw picture from the caller's buffer into at most one packet in pOut; nFrameIndex is
  // the next picture's time, counted on for every picture sent. The number of packets, or -1.
  int Encode(uint8_t* pData, int nSize, int64_t& nFrameIndex, CVideoEncodeOutParam* pOut);
  // The next packet the encoder delayed at the end of the stream; 0 when there is none, and the
  // encoder is opened again for a new stream.
  int Drain(CVideoEncodeOutParam* pOut);
  bool Ready() const { return m_context.Get() != nullptr; }
  const AVCodec* Codec() const { return m_context.Facts().pCodec; }

 private:
  // The context's settings from the parameters, with the scaler they need.
  int InitEncode(const VideoCodecParam& param);
  // The encoder's frame rate and time base: the rational rate when one was given, else
  // nFrameRate.
  void SetEncoderTiming(int nFrameRate) const;
  // The scaler from the caller's pictures to the encoder's.
  int PrepareEncodeScaler(int nSrcWidth, int nSrcHeight);
  // avcodec_open2 with the options InitEncode prepared; FFmpeg's result.
  int OpenPrepared();
  // Ends a drain, finished or not: the encoder is opened again with the stored settings. 0, or
  // -1 after the failing step's line.
  [[nodiscard]] int LeaveDrain();
  // A drain that failed still ends the stream: the re-opening's own failure has had its line,
  // and the caller gets the drain's failure either way, so its result is not needed.
  void AbandonDrain() { (void)LeaveDrain(); }
  int ReopenEncoder();

  // Input (video_encoder_input.cpp).
  int FillAVFrame(uint8_t* pData, int nSize);
  // The raw picture in m_pTempFrame through the filter graph.
  int FilterEncodeInput();
  // A scaler for the picture's real geometry when it is not the encoder's; -1 after the line.
  int FitEncodeScaler(const AVFrame& picture);
  // m_pTempFrame scaled, or copied, into m_pVideoFrame for the encoder.
  int ScaleEncodeInput();
  // At most one packet from the encoder into the out-param.
  [[nodiscard]] int ReceivePacket(CVideoEncodeOutParam* pOut);

  VideoCodecContext m_context;
  AVPixelFormat m_ePixFmt;
  VideoCodecParam m_stParam;  // of the last Init or Reset, for re-opening after a drain
  const EncoderChoices* m_pChoices;
  int32_t m_nSrcWidth = 0;
  int32_t m_nSrcHeight = 0;
  int32_t m_nRealDstWidth = 0;
  int32_t m_nRealDstHeight = 0;
  PictureFilter m_filter;
  Scaler m_scaler;         // with the source it was built for
  FramePtr m_pVideoFrame;  // the picture sent
  FramePtr m_pTempFrame;   // the caller's picture on its way in
  PacketPtr m_pPacket;
  AvOptions m_encodeOptions;  // prepared by InitEncode for avcodec_open2
};

}  // namespace codec_interface
