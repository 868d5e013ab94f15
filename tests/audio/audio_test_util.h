// Shared pieces of the audio codec tests: a peer that reaches the codec's private state, the
// parameter record, and helpers that feed whole streams through one codec object.
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
  static SwrContext* Swr(Codec& c) { return c.m_pSwrCtx.get(); }
  static AVFrame* WorkFrame(Codec& c) { return c.m_pAudioFrame.get(); }
  static AVAudioFifo* EncodeFifo(Codec& c) { return c.m_pEncodeFifo.get(); }
  static AVAudioFifo* RateFifo(Codec& c) { return c.m_pRateFifo.get(); }
  static AVSampleFormat SrcFormat(Codec& c) { return c.m_eSrcSampleFormat; }
  static AVSampleFormat DstFormat(Codec& c) { return c.m_eDstSampleFormat; }
  static void SetDstFormat(Codec& c, AVSampleFormat f) { c.m_eDstSampleFormat = f; }
  static const std::vector<uint8_t>& RateBuffer(Codec& c) { return c.m_vecRateBuffer; }
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

using namespace codec_interface;
using Peer = AudioCodecTestPeer;

inline CodecParam AudioParam(int srcRate, int dstRate, int srcChannels, int dstChannels,
                             int srcFormat, int dstFormat, int bitRate = 0, int duration = 0) {
  CodecParam param;
  std::memset(&param, 0, sizeof param);
  AudioCodecParam& a = param.stAudio;
  a.nSrcSampleRate = srcRate, a.nDstSampleRate = dstRate;
  a.nSrcChannels = srcChannels, a.nDstChannels = dstChannels;
  a.eSrcSampleFormat = static_cast<SampleFormat>(srcFormat);
  a.eDstSampleFormat = static_cast<SampleFormat>(dstFormat);
  a.nBitRate = bitRate, a.nFrameDuration = duration;
  return param;
}

inline LogLine Error(const std::string& text) { return LogLine{60, text}; }
inline LogLine Debug(const char* text) { return LogLine{0, text}; }
inline const LogLine kInitSucc{20, "[CODE]audio codec init succ"};
inline const LogLine kUninit{20, "[CODE]audio codec uninit"};

// Feeds pcm in chunks of `chunkBytes`, collecting every record's header and payload.
struct EncodeRun {
  std::vector<Bytes> packets, headers;
};
inline EncodeRun EncodeInChunks(CFFMpegAudioCodec& codec, const Bytes& pcm, size_t chunkBytes) {
  EncodeRun run;
  CAudioEncodeOutParam out;
  for (size_t offset = 0; offset < pcm.size(); offset += chunkBytes) {
    Bytes chunk(pcm.begin() + static_cast<long>(offset),
                pcm.begin() + static_cast<long>(std::min(pcm.size(), offset + chunkBytes)));
    EXPECT_GE(codec.Encode(chunk.data(), static_cast<int>(chunk.size()), &out), 0);
    for (int k = 0; k < out.m_nNum; ++k) {
      const AudioEncOutData& d = out.m_outData[k];
      run.packets.emplace_back(d.pData, d.pData + d.nSize);
      run.headers.emplace_back(d.byHeader, d.byHeader + d.nHeaderSize);
    }
    out.Clear();
  }
  return run;
}

// Decodes packets one by one, collecting the samples handed out as interleaved doubles.
struct DecodeRun {
  std::vector<double> samples;
  std::vector<int> results;
  int format = -1, rate = 0, channels = 0;  // of the last frame
};
inline DecodeRun DecodeAll(CFFMpegAudioCodec& codec, const std::vector<Bytes>& packets) {
  DecodeRun run;
  CAudioDecodeOutParam out;
  for (Bytes packet : packets) {
    run.results.push_back(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      const AVFrame* f = out.m_pFrame[k];
      run.format = f->format, run.rate = f->sample_rate, run.channels = f->ch_layout.nb_channels;
      const auto s = PcmToDoubles(f->extended_data, static_cast<AVSampleFormat>(f->format),
                                  f->ch_layout.nb_channels, f->nb_samples);
      run.samples.insert(run.samples.end(), s.begin(), s.end());
    }
    out.Clear();
  }
  return run;
}

// FFmpeg's packets for the test tone: G.711 in `packetSamples`, AAC behind ADTS headers.
inline std::vector<Bytes> FfmpegPackets(const char* encoder, int rate, int channels, int samples,
                                        int packetSamples = 160, int* padding = nullptr) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples);
  const EncodedAudio coded =
      EncodeTestAudio(encoder, pcm, AV_SAMPLE_FMT_S16, rate, channels, 128000, packetSamples);
  if (padding != nullptr) *padding = coded.initialPadding;
  const bool aac = std::strcmp(encoder, "aac") == 0;
  return aac ? WithAdtsHeaders(coded.packets, rate, channels) : coded.packets;
}

}  // namespace codec_test
