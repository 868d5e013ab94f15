// What the benchmarks need besides the library: owners for the FFmpeg objects of the plain
// loops, test media made with plain FFmpeg, and a logger that keeps the library's lines off the
// tables. The library itself is reached through codec_interface.h only, as a host does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "interface/av_ptr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace codec_bench {

using Bytes = std::vector<uint8_t>;

// The plain loops own their FFmpeg objects with the same header-only owners the library uses
// (they wrap FFmpeg's own free functions; nothing of the library's is reached through them).
using codec_interface::AudioFifoPtr;
using codec_interface::BsfCtxPtr;
using codec_interface::CodecCtxPtr;
using codec_interface::FilterGraphPtr;
using codec_interface::FramePtr;
using codec_interface::PacketPtr;
using codec_interface::SwrPtr;
using codec_interface::SwsPtr;
using Options = codec_interface::AvOptions;

// A picture of four coloured quadrants with a bright bar whose place follows index.
FramePtr MakePicture(int width, int height, AVPixelFormat format, int index);

// The picture's planes packed one after another, as a host hands them to Encode.
Bytes PackedPicture(int width, int height, AVPixelFormat format, int index);

// `frames` pictures through the named FFmpeg encoder (25 fps, GOP 10, no B-frames, one thread,
// the fastest preset, then the given options); one packet per entry. Empty when the encoder is
// missing or refuses the settings.
std::vector<Bytes> EncodeVideo(
    const char* encoder, int width, int height, int frames,
    const std::vector<std::pair<std::string, std::string>>& options = {});

// An MP4 file in the temporary directory with `frames` pictures of H.264 at the size (25 fps, a
// key frame every 25, parameter sets in avcC) and as long a 44.1 kHz stereo AAC tone, made once
// per process and size and removed at exit; empty when it cannot be made. One thread.
const std::string& H264AacMp4(int width, int height, int frames);

// Interleaved PCM of a 440 Hz sine, each channel a quarter period after the one before.
Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples);

// A frame of that sine.
FramePtr MakeToneFrame(AVSampleFormat format, int rate, int channels, int samples);

// PCM through the named FFmpeg encoder; one packet per entry, empty on failure.
std::vector<Bytes> EncodeAudio(const char* encoder, const Bytes& pcm, AVSampleFormat format,
                               int rate, int channels, int64_t bitRate);

// Installs a logger that drops every line for its lifetime, then restores the previous one.
class QuietLog {
 public:
  QuietLog();
  ~QuietLog();
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;

 private:
  std::shared_ptr<base::IBaseLogInterface> previous_;
};

}  // namespace codec_bench
