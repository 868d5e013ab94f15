// Test sound made and checked in-process with FFmpeg's own encoders, decoders and (de)muxers,
// never with this library's.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

// A sine tone of `samples` samples per channel, interleaved, in a packed sample format. Channel c
// is shifted by c quarter periods so that swapped or mixed channels are noticed.
Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples,
                  double frequency = 440.0, double amplitude = 0.5);

// Samples of a packed or planar buffer as interleaved doubles in [-1, 1].
std::vector<double> PcmToDoubles(const uint8_t* const* planes, AVSampleFormat format,
                                 int channels, int samples);
std::vector<double> PcmToDoubles(const Bytes& interleaved, AVSampleFormat format, int channels);

struct EncodedAudio {
  std::vector<Bytes> packets;
  Bytes extradata;
  int frameSize = 0;
  int initialPadding = 0;
  AVSampleFormat format = AV_SAMPLE_FMT_NONE;  // what the encoder consumed
};

// Encodes an interleaved PCM buffer with the named FFmpeg encoder, converting it to the
// encoder's first sample format with swresample and flushing at the end. Fails the current test
// when the encoder is missing or refuses the settings.
EncodedAudio EncodeTestAudio(const char* encoder, const Bytes& pcm, AVSampleFormat pcmFormat,
                             int rate, int channels, int64_t bitRate = 0,
                             const std::vector<std::pair<std::string, std::string>>& options = {});

struct DecodedAudio {
  std::vector<double> samples;  // interleaved
  int frames = 0;
  int rate = 0;
  int channels = 0;
};

// Decodes packets with the named FFmpeg decoder (rate and channels preset on its context).
DecodedAudio DecodeTestAudio(const char* decoder, const std::vector<Bytes>& packets, int rate,
                             int channels, const Bytes& extradata = {});

// Wraps raw AAC packets into an ADTS stream with libavformat's "adts" muxer and splits it back
// into one ADTS frame (header and payload) per packet.
std::vector<Bytes> ToAdtsFrames(const EncodedAudio& aac, int rate, int channels);

// Opens bytes with the named libavformat demuxer and decodes its first audio stream.
struct DemuxedAudio {
  int packets = 0;
  int frames = 0;
  int64_t samples = 0;  // per channel
  int rate = 0;
  int channels = 0;
  bool opened = false;
};
DemuxedAudio DemuxAndDecode(const Bytes& stream, const char* demuxer);

// One channel of interleaved samples.
std::vector<double> Channel(const std::vector<double>& interleaved, int channels, int channel);

// How well mono `actual` follows mono `expected` once delayed by the best lag in
// [minLag, maxLag]: normalised correlation and the RMS of the difference relative to the RMS of
// `expected`, over `length` samples of `expected` starting at `skip`.
struct SignalMatch {
  int lag = 0;
  double correlation = -2.0;
  double relativeError = 1.0;
};
SignalMatch MatchSignal(const std::vector<double>& expected, const std::vector<double>& actual,
                        int skip, int length, int minLag, int maxLag);

}  // namespace codec_test
