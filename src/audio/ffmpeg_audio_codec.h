#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Audio encoders and decoders behind ICodecInterface: G.711 A-law and µ-law, Opus, Speex and
// AAC. Which one, and in which direction, is decided by the CodecType given to Init. The object
// resamples between the host's PCM and the codec's, buffers PCM in FIFOs until the encoder has
// whole frames, and frames AAC packets with an ADTS header.
class CFFMpegAudioCodec : public ICodecInterface {
 public:
  // Writes a container header for one encoded packet into (buffer, size) and returns its length.
  using WriteHeaderFn = int (*)(CFFMpegAudioCodec* pCodec, uint8_t* pOut, int nOutSize,
                                const AVPacket* pPacket);

  CFFMpegAudioCodec();
  ~CFFMpegAudioCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

  // Reached from ICodecInterface::Drain, under m_mtxCodec as Decode and Encode.
  int Drain(COutParam* pOut);

  // The 7-byte ADTS header of an AAC packet, from the codec context's rate and channel count.
  static int WriteADTSHeader(CFFMpegAudioCodec* pCodec, uint8_t* pOut, int nOutSize,
                             const AVPacket* pPacket);

  // Appends nbSamples samples to *ppFifo, creating it on first use and growing it by exactly the
  // shortfall. 0 or -1.
  // The FIFO is passed as the location of its owner, so the FIFO keeps exactly one.
  static int FillAVAudioFifo(AudioFifoPtr* ppFifo, AVSampleFormat eFormat, int nChannels,
                             int nbSamples, uint8_t* const* ppPlanes);

  // Copies source's samples into cache[index], reusing that frame's buffer while its shape stays
  // and nobody else references it. 0 or -1.
  int CopyFrameWithReuse(int nIndex, std::vector<FramePtr>& cache, const AVFrame* pSource);

 private:
  friend struct AudioCodecTestPeer;  // tests reach the private steps through it

  // Setup steps.
  int InitCodec(CodecType eCodecType, const AudioCodecParam& param);
  int OpenCodec(const AudioCodecParam& param);
  void SetEncoderParams(AVCodecContext* pCtx, int nDstSampleRate, int nDstChannels,
                        int nBitRate, int nFrameDuration, AvOptions& options);
  int InitBsfc();
  int InitBsfcParams();
  int SwrResamplingInit(AVSampleFormat eInputFormat);
  // The decoder's resampler, for the layout, rate and format the frame really has (a stream
  // may differ from what the host declared, or change midway); kept while frames match it.
  int SwrResamplingInit(const AVFrame& frame);
  int BuildResampler(AVChannelLayout stInput, int nInputRate, AVSampleFormat eInputFormat);

  // Encoding steps.
  // swresample handles at most this many channels, so no conversion needs more planes.
  static constexpr int kMaxPlanes = 64;
  int HoldBackForRate(uint8_t*& pChunk, int& nbSamples);
  int ConvertSamples(uint8_t* pChunk, int nbSamples, uint8_t** ppPlanes);
  int EncodeDirect(uint8_t* const* ppPlanes, int nConverted, CAudioEncodeOutParam* pOut);
  int EncodeThroughFifo(uint8_t* const* ppPlanes, int nConverted, CAudioEncodeOutParam* pOut);
  int PrepareWorkFrame(int nbSamples);
  void CopyIntoWorkFrame(uint8_t* const* ppPlanes, int nSamples);
  int EncodeFrame(AVFrame* pFrame, CAudioEncodeOutParam* pOut);
  // Results of taking one packet or frame out of the codec, besides 1 (handed out), 0 (none
  // ready) and the failure values.
  static constexpr int kOutFull = 2;   // the out-param was full: the result is dropped
  static constexpr int kHeldBack = 3;  // the resampler kept every sample back for now
  // One packet from the encoder as pOut's next entry, with its header.
  int ReceivePacket(CAudioEncodeOutParam* pOut);

  // Decoding steps.
  void FillInputPacket(uint8_t* pData, int nSize);
  bool NeedsConversion(const AVFrame& frame) const;
  int PrepareSwrFrame(int nSamples);
  int DecodeLocked(uint8_t* pData, int nSize, CAudioDecodeOutParam* pOut);
  int EncodeLocked(uint8_t* pData, int nSize, CAudioEncodeOutParam* pOut);
  int HandOverDecoded(int nIndex);
  // One frame from the decoder, in the host's format, into cache slot nSlot and pOut's next
  // entry; Decode's failure values after their line.
  int ReceiveFrame(CAudioDecodeOutParam* pOut, int nSlot);

  // Draining.
  int DrainEncoder(CAudioEncodeOutParam* pOut);
  int DrainDecoder(CAudioDecodeOutParam* pOut);
  // The encode FIFO's last partial frame into the encoder: as it is for an encoder that pads a
  // short last frame itself, else padded with silence to a whole frame.
  int EncodePaddedTail(CAudioEncodeOutParam* pOut);
  // Ends a drain, finished or not: the decoder is flushed, the encoder opened anew with the
  // stored settings and emptied FIFOs. 0, or -1 after the failing step's line.
  int LeaveDrain();
  int GetFrameBuffer(AVFrame* pFrame);

  // AAC framing.
  int AvpktBsf(AVPacket* pPacket);

  WriteHeaderFn m_pfnWriteHeader;
  BsfCtxPtr m_pBsfCtx;
  const AVCodec* m_pCodec;
  CodecCtxPtr m_pCodecCtx;
  PacketPtr m_pPacket;
  FramePtr m_pAudioFrame;
  std::vector<FramePtr> m_vecFrameCache;
  std::vector<PacketPtr> m_vecPacketCache;
  FramePtr m_pSwrFrame;
  std::vector<uint8_t> m_vecSwrBuffer;
  SwrPtr m_pSwrCtx;
  AudioFifoPtr m_pEncodeFifo;
  AudioFifoPtr m_pRateFifo;
  int m_nSwrOutSamples;
  int m_nSrcSampleRate;
  int m_nDstSampleRate;
  int m_nSrcChannels;
  int m_nDstChannels;
  // The resampler's input: layout, rate and format it was built for.
  AVChannelLayout m_stSrcChLayout;
  int m_nSwrInRate;
  AVSampleFormat m_eSwrInFormat;
  AVChannelLayout m_stDstChLayout;
  AVSampleFormat m_eSrcSampleFormat;
  AVSampleFormat m_eDstSampleFormat;
  CodecType m_eCodecType;
  bool m_bDecoder;
  std::mutex m_mtxCodec;
  bool m_bInit;
  // Source samples taken from m_pRateFifo; kept between calls so the rate step does not
  // allocate in steady state.
  std::vector<uint8_t> m_vecRateBuffer;
  // Sample buffers of the cached output frames. A host's Clear releases a cached frame's buffer;
  // through the pool it comes back without a new allocation.
  BufferPoolPtr m_pFramePool;
  int m_nFramePoolSize;

  AudioCodecParam m_stParam{};  // of the last Init, for opening the encoder anew after a drain
  bool m_bDraining = false;     // the codec context has been told the stream ended
};

}  // namespace codec_interface
