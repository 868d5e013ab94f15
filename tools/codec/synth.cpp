#include "synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace codec_tool {
using namespace codec_interface;

namespace {

struct Yuv {
  uint8_t y, u, v;
};

// Studio-range colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                         {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};

}  // namespace

Picture MakeTestPicture(int width, int height, int index, int frameRate) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.format = PIX_FMT_YUV420P;
  int chromaWidth = (width + 1) / 2;
  int chromaHeight = (height + 1) / 2;
  picture.data.resize(size_t(width) * height + 2 * size_t(chromaWidth) * chromaHeight);
  uint8_t* luma = picture.data.data();
  uint8_t* cb = luma + size_t(width) * height;
  uint8_t* cr = cb + size_t(chromaWidth) * chromaHeight;
  double t = double(index) / frameRate;
  int boxSize = height / 4;
  int boxX = static_cast<int>((width - boxSize) * (0.5 + 0.5 * std::sin(t * 2.0)));
  int boxY = static_cast<int>((height - boxSize) * (0.5 + 0.5 * std::cos(t * 1.3)));
  auto sampleAt = [&](int x, int y) -> Yuv {
    if (x >= boxX && x < boxX + boxSize && y >= boxY && y < boxY + boxSize) {
      return {static_cast<uint8_t>(128 + 60 * std::sin(x * 0.2 + t * 4)), 200, 60};
    }
    if (y < height * 2 / 3) return kBars[x * 8 / width];
    int shade = 16 + (x + index * 8) % width * 219 / width;  // a gradient that scrolls
    return {static_cast<uint8_t>(shade), 128, 128};
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) luma[size_t(y) * width + x] = sampleAt(x, y).y;
  }
  for (int y = 0; y < chromaHeight; ++y) {
    for (int x = 0; x < chromaWidth; ++x) {
      Yuv sample = sampleAt(x * 2, y * 2);
      cb[size_t(y) * chromaWidth + x] = sample.u;
      cr[size_t(y) * chromaWidth + x] = sample.v;
    }
  }
  return picture;
}

Pcm MakeToneSweep(int sampleRate, double seconds) {
  constexpr double kLow = 220.0;
  constexpr double kHigh = 3520.0;
  constexpr double kFifth = 1.5;
  constexpr double kAmplitude = 0.4 * 32767;
  Pcm pcm;
  pcm.sampleRate = sampleRate;
  pcm.channels = 2;
  size_t count = static_cast<size_t>(seconds * sampleRate);
  pcm.samples.resize(count * 2);
  double phase = 0;
  double growth = std::log(kHigh / kLow) / seconds;  // exponential sweep
  for (size_t i = 0; i < count; ++i) {
    double frequency = kLow * std::exp(growth * double(i) / sampleRate);
    phase += 2 * std::numbers::pi * frequency / sampleRate;
    pcm.samples[2 * i] = static_cast<int16_t>(kAmplitude * std::sin(phase));
    pcm.samples[2 * i + 1] = static_cast<int16_t>(kAmplitude * std::sin(kFifth * phase));
  }
  return pcm;
}

}  // namespace codec_tool
