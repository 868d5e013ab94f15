// Test sound made and checked in-process with FFmpeg's own encoders and decoders, never with
// this library's.
#pragma once


#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

// Sample i of channel c of the test tone: 440 Hz at half scale, channel c a quarter period
// ahead of channel c - 1 so that swapped channels are noticed.
double SineAt(int rate, int channel, int i);

// The test tone, interleaved, in a packed sample format.
Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples);

// Packed or planar samples as interleaved doubles in [-1, 1].
std::vector<double> PcmToDoubles(const uint8_t* const* planes, AVSampleFormat format,
                                 int channels, int samples);

struct EncodedAudio {
  std::vector<Bytes> packets;
  int initialPadding = 0;
  int frameSize = 0;  // samples per packet the encoder was fed
};

// Encodes interleaved PCM with the named FFmpeg encoder in its first sample format, flushing
// at the end; encoders taking any frame size get `anyFrameSize`, others a short last frame. Fails the current test when
// the encoder is missing or refuses the settings.
EncodedAudio EncodeTestAudio(const char* encoder, const Bytes& pcm, AVSampleFormat pcmFormat,
                             int rate, int channels, int64_t bitRate = 0, int anyFrameSize = 160);

// Decodes packets with the named FFmpeg decoder into interleaved doubles.
std::vector<double> DecodeTestAudio(const char* decoder, const std::vector<Bytes>& packets,
                                    int rate, int channels);

// Raw AAC-LC packets, each behind an ADTS header built here bit by bit (the length kept to 13
// bits, the channel configuration as given).
std::vector<Bytes> WithAdtsHeaders(const std::vector<Bytes>& packets, int rate, int config);

// How well one channel follows the test tone delayed by the best lag in [minLag, maxLag], over
// `length` samples from `skip`: normalised correlation and RMS error relative to the tone.
struct SineMatch { double correlation = -2.0, relativeError = 1e9; };
SineMatch MatchSine(const std::vector<double>& interleaved, int channels, int channel, int rate,
                    int skip, int length, int minLag, int maxLag);

}  // namespace codec_test
