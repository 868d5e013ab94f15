// Shared pieces of the audio codec tests: a peer that reaches the codec's private state, and
// parameter records for the common cases.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audio/ffmpeg_audio_codec.h"
#include "support/audio_media.h"
#include "support/log_capture.h"

namespace codec_interface {

struct AudioCodecTestPeer {
  using Codec = CFFMpegAudioCodec;
  static AVCodecContext* Ctx(Codec& c) { return c.m_pCodecCtx.get(); }
  static const AVCodec* FfCodec(Codec& c) { return c.m_pCodec; }
  static SwrContext* Swr(Codec& c) { return c.m_pSwrCtx.get(); }
  static AVFrame* SwrFrame(Codec& c) { return c.m_pSwrFrame.get(); }
  static int SwrOutSamples(Codec& c) { return c.m_nSwrOutSamples; }
  static AVFrame* WorkFrame(Codec& c) { return c.m_pAudioFrame.get(); }
  static AVPacket* InputPacket(Codec& c) { return c.m_pPacket.get(); }
  static AVAudioFifo* EncodeFifo(Codec& c) { return c.m_pEncodeFifo.get(); }
  static AVAudioFifo* RateFifo(Codec& c) { return c.m_pRateFifo.get(); }
  static AVBSFContext* Bsf(Codec& c) { return c.m_pBsfCtx.get(); }
  static bool WritesHeader(Codec& c) { return c.m_pfnWriteHeader != nullptr; }
  static AVSampleFormat SrcFormat(Codec& c) { return c.m_eSrcSampleFormat; }
  static AVSampleFormat DstFormat(Codec& c) { return c.m_eDstSampleFormat; }
  static void SetDstFormat(Codec& c, AVSampleFormat f) { c.m_eDstSampleFormat = f; }
  static bool Decoder(Codec& c) { return c.m_bDecoder; }
  static bool Initialised(Codec& c) { return c.m_bInit; }
  static int Rates(Codec& c) { return c.m_nSrcSampleRate + c.m_nDstSampleRate; }
  static const std::vector<FramePtr>& FrameCache(Codec& c) { return c.m_vecFrameCache; }
  static const std::vector<PacketPtr>& PacketCache(Codec& c) { return c.m_vecPacketCache; }
  static const std::vector<uint8_t>& RateBuffer(Codec& c) { return c.m_vecRateBuffer; }
  static int SwrResamplingInit(Codec& c, AVSampleFormat f) { return c.SwrResamplingInit(f); }
  static int EncodeFrame(Codec& c, AVFrame* f, CAudioEncodeOutParam* out) {
    return c.EncodeFrame(f, out);
  }
  static int AvpktBsf(Codec& c, AVPacket* p) { return c.AvpktBsf(p); }
  // A bare context with the rate and channel count WriteADTSHeader reads.
  static void UseHeaderContext(Codec& c, int rate, int channels) {
    c.m_pCodecCtx.reset(avcodec_alloc_context3(nullptr));
    c.m_pCodecCtx->sample_rate = rate;
    av_channel_layout_default(&c.m_pCodecCtx->ch_layout, channels);
  }
};

}  // namespace codec_interface

namespace codec_test {

using codec_interface::AudioCodecTestPeer;
using Peer = codec_interface::AudioCodecTestPeer;

inline codec_interface::CodecParam AudioParam(int srcRate, int dstRate, int srcChannels,
                                              int dstChannels, codec_interface::SampleFormat src,
                                              codec_interface::SampleFormat dst,
                                              int bitRate = 0, int frameDuration = 0) {
  codec_interface::CodecParam param;
  std::memset(&param, 0, sizeof param);
  param.stAudio.nSrcSampleRate = srcRate;
  param.stAudio.nDstSampleRate = dstRate;
  param.stAudio.nSrcChannels = srcChannels;
  param.stAudio.nDstChannels = dstChannels;
  param.stAudio.nBitRate = bitRate;
  param.stAudio.eSrcSampleFormat = src;
  param.stAudio.eDstSampleFormat = dst;
  param.stAudio.nFrameDuration = frameDuration;
  return param;
}

// The public value of a packed FFmpeg sample format.
inline codec_interface::SampleFormat Public(AVSampleFormat f) {
  return static_cast<codec_interface::SampleFormat>(static_cast<int>(f));
}

inline LogLine Info(const char* text) { return LogLine{20, text}; }
inline LogLine Error(const std::string& text) { return LogLine{60, text}; }
inline LogLine Debug(const char* text) { return LogLine{0, text}; }

inline const LogLine kInitSucc{20, "[CODE]audio codec init succ"};
inline const LogLine kUninit{20, "[CODE]audio codec uninit"};

// Every channel of interleaved `actual` follows the same channel of `expected` (its only channel
// when it is mono) delayed by a lag in [minLag, maxLag].
struct ToneCheck {
  int skip;
  int length;
  int minLag;
  int maxLag;
  double minCorrelation = 0.99;
  double maxRelativeError = 0.15;
};
inline void ExpectFollows(const std::vector<double>& expected, int expectedChannels,
                          const std::vector<double>& actual, int channels, const ToneCheck& check) {
  for (int channel = 0; channel < channels; ++channel) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    const SignalMatch m =
        MatchSignal(Channel(expected, expectedChannels, channel % expectedChannels),
                    Channel(actual, channels, channel), check.skip, check.length, check.minLag,
                    check.maxLag);
    EXPECT_GT(m.correlation, check.minCorrelation);
    EXPECT_LT(m.relativeError, check.maxRelativeError);
  }
}

// Feeds pcm to an encoder in chunks of the given byte sizes, taken in turn, and collects every
// packet and record, clearing the out-param between calls.
struct EncodeRun {
  std::vector<Bytes> packets;
  std::vector<Bytes> headers;
  std::vector<codec_interface::AudioEncOutData> records;  // pointers no longer valid
  std::vector<int> results;
};
inline EncodeRun EncodeInChunks(codec_interface::CFFMpegAudioCodec& codec, const Bytes& pcm,
                                const std::vector<int>& chunkBytes) {
  EncodeRun run;
  codec_interface::CAudioEncodeOutParam out;
  size_t offset = 0;
  for (size_t call = 0; offset < pcm.size(); ++call) {
    const size_t want = static_cast<size_t>(chunkBytes[call % chunkBytes.size()]);
    const size_t n = std::min(pcm.size() - offset, want);
    Bytes chunk(pcm.begin() + static_cast<long>(offset),
                pcm.begin() + static_cast<long>(offset + n));
    run.results.push_back(codec.Encode(chunk.data(), static_cast<int>(n), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      const auto& d = out.m_outData[k];
      run.packets.emplace_back(d.pData, d.pData + d.nSize);
      run.headers.emplace_back(d.byHeader, d.byHeader + d.nHeaderSize);
      run.records.push_back(d);
    }
    out.Clear();
    offset += n;
  }
  return run;
}
inline EncodeRun EncodeInChunks(codec_interface::CFFMpegAudioCodec& codec, const Bytes& pcm,
                                int chunkBytes) {
  return EncodeInChunks(codec, pcm, std::vector<int>{chunkBytes});
}

// Decodes packets one by one and collects the samples handed out, as doubles.
struct DecodeRun {
  std::vector<double> samples;
  std::vector<int> results;
  int frames = 0;
};
inline DecodeRun DecodeAll(codec_interface::CFFMpegAudioCodec& codec,
                           const std::vector<Bytes>& packets, AVSampleFormat dstFormat) {
  DecodeRun run;
  codec_interface::CAudioDecodeOutParam out;
  for (const Bytes& packet : packets) {
    Bytes copy = packet;
    run.results.push_back(codec.Decode(copy.data(), static_cast<int>(copy.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      const AVFrame* f = out.m_pFrame[k];
      const auto s = PcmToDoubles(f->extended_data, dstFormat, f->ch_layout.nb_channels,
                                  f->nb_samples);
      run.samples.insert(run.samples.end(), s.begin(), s.end());
      run.frames++;
    }
    out.Clear();
  }
  return run;
}

}  // namespace codec_test
