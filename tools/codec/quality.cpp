#include "quality.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace codec_tool {

void PsnrMeter::Add(const Bytes& reference, const Bytes& decoded) {
  size_t count = std::min(reference.size(), decoded.size());
  for (size_t i = 0; i < count; ++i) {
    double difference = double(reference[i]) - double(decoded[i]);
    m_dSquaredError += difference * difference;
  }
  m_dSamples += double(count);
  ++m_nPictures;
}

double PsnrMeter::Decibels() const {
  if (m_dSamples == 0) return 0;
  if (m_dSquaredError == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (m_dSquaredError / m_dSamples));
}

namespace {

// The source as seen with the decoded sound's channel count (a two-channel source mixed down
// for a one-channel result).
std::vector<double> AsChannels(const Pcm& source, int channels) {
  std::vector<double> out;
  size_t frames = source.samples.size() / source.channels;
  out.reserve(frames * channels);
  for (size_t i = 0; i < frames; ++i) {
    const int16_t* frame = &source.samples[i * source.channels];
    if (channels == source.channels) {
      out.insert(out.end(), frame, frame + channels);
    } else {
      double sum = 0;
      for (int c = 0; c < source.channels; ++c) sum += frame[c];
      out.push_back(sum / source.channels);
    }
  }
  return out;
}

}  // namespace

double SoundSnr(const Pcm& source, const Pcm& decoded, int maxDelay) {
  const int channels = decoded.channels;
  std::vector<double> reference = AsChannels(source, channels);
  size_t sourceFrames = reference.size() / channels;
  size_t decodedFrames = decoded.samples.size() / channels;
  // Find the delay on a stretch from the middle, then measure over everything both cover.
  auto error = [&](int delay, size_t from, size_t to, double& signal) {
    double noise = 0;
    signal = 0;
    for (size_t i = from; i < to; ++i) {
      for (int c = 0; c < channels; ++c) {
        double want = reference[i * channels + c];
        double got = decoded.samples[(i + delay) * channels + c];
        noise += (want - got) * (want - got);
        signal += want * want;
      }
    }
    return noise;
  };
  if (decodedFrames <= size_t(maxDelay) + 1) return 0;
  size_t usable = std::min(sourceFrames, decodedFrames - maxDelay);
  size_t probeFrom = usable / 3;
  size_t probeTo = std::min(usable, probeFrom + 2048);
  int bestDelay = 0;
  double bestNoise = std::numeric_limits<double>::max();
  double signal = 0;
  for (int delay = 0; delay <= maxDelay; ++delay) {
    double noise = error(delay, probeFrom, probeTo, signal);
    if (noise < bestNoise) {
      bestNoise = noise;
      bestDelay = delay;
    }
  }
  size_t covered = std::min(sourceFrames, decodedFrames - bestDelay);
  double noise = error(bestDelay, 0, covered, signal);
  if (noise == 0) return 99;
  return 10 * std::log10(signal / noise);
}

}  // namespace codec_tool
