// The demo's own source media, made in memory: a moving test picture and a stereo tone sweep.
#pragma once

#include "audio_codec.h"
#include "video_codec.h"

namespace codec_tool {

// The demo's media as it makes and records them: 1280x720 pictures 25 a second, sound at
// 48000 Hz.
constexpr int kSynthWidth = 1280;
constexpr int kSynthHeight = 720;
constexpr int kSynthFrameRate = 25;
constexpr int kSynthSampleRate = 48000;

// Picture `index` of a moving test pattern in packed YUV 4:2:0: colour bars, a gradient and a
// box that travels across, so that every picture differs and motion is there to encode.
Picture MakeTestPicture(int width, int height, int index, int frameRate);

// A stereo sweep: the left channel rises from 220 Hz to 3520 Hz over the whole length, the
// right one a fifth above it, so that no stretch of it looks like another.
Pcm MakeToneSweep(int sampleRate, double seconds);

}  // namespace codec_tool
