#include "bench_media.h"

#include <malloc.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

extern "C" {
#include <libavformat/avformat.h>
}

namespace codec_bench {

namespace {

// glibc moves its mmap threshold up to the size of the last large block freed, so whether a
// picture-sized buffer comes from the heap or from a fresh mmap, with a page fault per 4 KiB, on
// every call depends on the order of earlier frees in the process. The same loop then runs up
// to 15 times slower in one process than in the next (a 720p BMP encode: 0.4 ms or 6 ms), and
// one side of a pair can land in the slow regime while the other does not. A fixed threshold and
// no trimming give every program, and both sides of every pair, the same heap.
[[maybe_unused]] const bool kSteadyHeap = [] {
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);  // glibc's ceiling for it on 64-bit
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
  return true;
}();

// Converts between sample formats at one rate: nothing is held back.
bool ConvertSamples(const uint8_t* const* in, AVSampleFormat from, uint8_t* const* out,
                    AVSampleFormat to, int channels, int samples) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  SwrContext* raw = nullptr;
  swr_alloc_set_opts2(&raw, &layout, to, 48000, &layout, from, 48000, 0, nullptr);
  const SwrPtr swr(raw);
  return swr != nullptr && swr_init(swr.get()) >= 0 &&
         swr_convert(swr.get(), out, samples, in, samples) == samples;
}

// Packets the encoder gives for these frames and its flush.
template <class NextFrame>
std::vector<Bytes> RunEncoder(AVCodecContext* ctx, int frames, NextFrame&& next) {
  std::vector<Bytes> packets;
  const PacketPtr packet(av_packet_alloc());
  for (int i = 0; i <= frames; ++i) {
    const FramePtr frame = i < frames ? next(i) : nullptr;
    if (i < frames && frame == nullptr) return {};
    if (avcodec_send_frame(ctx, frame.get()) < 0) return {};  // null at the end: flush
    while (avcodec_receive_packet(ctx, packet.get()) >= 0) {
      packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  }
  return packets;
}

// Opens the named encoder for a global-header stream, or null.
CodecCtxPtr OpenEncoder(const char* name, const std::function<void(AVCodecContext*)>& set) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  if (ctx == nullptr) return nullptr;
  set(ctx.get());
  ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Options options;
  options.Set("preset", "ultrafast");
  return avcodec_open2(ctx.get(), codec, options.Slot()) < 0 ? nullptr : std::move(ctx);
}

// Sends a frame (null drains) and writes what comes out to stream `index`.
bool EncodeInto(AVFormatContext* mux, int index, AVCodecContext* enc, const AVFrame* frame) {
  if (avcodec_send_frame(enc, frame) < 0) return false;
  for (PacketPtr packet(av_packet_alloc()); avcodec_receive_packet(enc, packet.get()) == 0;) {
    av_packet_rescale_ts(packet.get(), enc->time_base, mux->streams[index]->time_base);
    packet->stream_index = index;
    if (av_interleaved_write_frame(mux, packet.get()) < 0) return false;
  }
  return true;
}

// A file in the temporary directory, removed at exit.
struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) std::filesystem::remove(path);
  }
};

// The file H264AacMp4 describes, or empty.
std::string MakeH264AacMp4(int width, int height, int frames) {
    const std::string file =
        (std::filesystem::temp_directory_path() /
         ("codec-bench-" + std::to_string(getpid()) + "-" + std::to_string(width) + "x" +
          std::to_string(height) + "-" + std::to_string(frames) + ".mp4")).string();
    CodecCtxPtr video = OpenEncoder("libx264", [&](AVCodecContext* c) {
      c->width = width, c->height = height, c->pix_fmt = AV_PIX_FMT_YUV420P, c->gop_size = 25;
      c->time_base = {1, 25}, c->thread_count = 1;
    });
    CodecCtxPtr audio = OpenEncoder("aac", [](AVCodecContext* c) {
      c->sample_fmt = AV_SAMPLE_FMT_FLTP, c->sample_rate = 44100, c->time_base = {1, 44100};
      av_channel_layout_default(&c->ch_layout, 2);
    });
    AVFormatContext* raw = nullptr;
    avformat_alloc_output_context2(&raw, nullptr, "mp4", file.c_str());
    codec_interface::OutputFormatCtxPtr mux(raw);
    if (video == nullptr || audio == nullptr || mux == nullptr) return std::string();
    for (AVCodecContext* enc : {video.get(), audio.get()}) {
      AVStream* st = avformat_new_stream(mux.get(), nullptr);
      avcodec_parameters_from_context(st->codecpar, enc);
      st->time_base = enc->time_base;
    }
    if (avio_open(&mux->pb, file.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(mux.get(), nullptr) < 0) {
      return std::string();
    }
    bool ok = true;
    for (int i = 0; ok && i < frames; ++i) {
      FramePtr picture = MakePicture(width, height, AV_PIX_FMT_YUV420P, i);
      picture->pts = i;
      ok = EncodeInto(mux.get(), 0, video.get(), picture.get());
    }
    const int blocks = frames * 44100 / 25 / 1024;
    for (int i = 0; ok && i < blocks; ++i) {
      FramePtr tone = MakeToneFrame(AV_SAMPLE_FMT_FLTP, 44100, 2, 1024);
      tone->pts = int64_t{i} * 1024;
      ok = EncodeInto(mux.get(), 1, audio.get(), tone.get());
    }
    ok = ok && EncodeInto(mux.get(), 0, video.get(), nullptr) &&
         EncodeInto(mux.get(), 1, audio.get(), nullptr) && av_write_trailer(mux.get()) == 0;
    if (!ok) std::filesystem::remove(file);
    return ok ? file : std::string();
}

class DropLines : public base::IBaseLogInterface {
 public:
  void PrintLog(const int&, const int&, const char*, ...) override {}
  void VPrintLog(const int&, const int&, const char*, va_list) override {}
};

}  // namespace

FramePtr MakePicture(int width, int height, AVPixelFormat format, int index) {
  // Drawn in YUV420P (or YUVJ420P), then converted when another format is asked for.
  const AVPixelFormat draw = format == AV_PIX_FMT_YUVJ420P ? format : AV_PIX_FMT_YUV420P;
  FramePtr yuv(av_frame_alloc());
  yuv->format = draw;
  yuv->width = width;
  yuv->height = height;
  if (av_frame_get_buffer(yuv.get(), 0) < 0) return nullptr;
  static const uint8_t kQuadrants[4][3] = {
      {81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {210, 16, 146}};
  const int bar = (index * 8) % std::max(width, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int q = (y >= height / 2) * 2 + (x >= width / 2);
      yuv->data[0][y * yuv->linesize[0] + x] = (x >= bar && x < bar + 8) ? 235 : kQuadrants[q][0];
      if (x % 2 == 0 && y % 2 == 0) {
        yuv->data[1][(y / 2) * yuv->linesize[1] + x / 2] = kQuadrants[q][1];
        yuv->data[2][(y / 2) * yuv->linesize[2] + x / 2] = kQuadrants[q][2];
      }
    }
  }
  yuv->pts = index;
  if (format == draw) return yuv;
  FramePtr out(av_frame_alloc());
  out->format = format;
  out->width = width;
  out->height = height;
  const SwsPtr sws(sws_getContext(width, height, draw, width, height, format, SWS_POINT, nullptr,
                                  nullptr, nullptr));
  if (sws == nullptr || av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  sws_scale(sws.get(), yuv->data, yuv->linesize, 0, height, out->data, out->linesize);
  out->pts = index;
  return out;
}

Bytes PackedPicture(int width, int height, AVPixelFormat format, int index) {
  const FramePtr picture = MakePicture(width, height, format, index);
  Bytes bytes(static_cast<size_t>(av_image_get_buffer_size(format, width, height, 1)));
  av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), picture->data,
                          picture->linesize, format, width, height, 1);
  return bytes;
}

std::vector<Bytes> EncodeVideo(const char* encoder, int width, int height, int frames,
                               const std::vector<std::pair<std::string, std::string>>& options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (codec == nullptr) return {};
  const CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->width = width;
  ctx->height = height;
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->gop_size = 10;
  ctx->max_b_frames = 0;
  ctx->thread_count = 1;
  Options opts;
  opts.Set("preset", "ultrafast");
  if (codec->id == AV_CODEC_ID_HEVC) opts.Set("x265-params", "log-level=error");
  for (const auto& [key, value] : options) opts.Set(key.c_str(), value.c_str());
  if (avcodec_open2(ctx.get(), codec, opts.Slot()) < 0) return {};
  return RunEncoder(ctx.get(), frames,
                    [&](int i) { return MakePicture(width, height, ctx->pix_fmt, i); });
}

Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples) {
  constexpr double kPi = 3.14159265358979323846;
  std::vector<double> tone(static_cast<size_t>(samples) * channels);
  for (size_t k = 0; k < tone.size(); ++k) {
    const auto i = static_cast<double>(k / channels);
    tone[k] = 0.5 * std::sin(2.0 * kPi * 440.0 * i / rate +
                             static_cast<double>(k % channels) * kPi / 2.0);
  }
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(tone.data())};
  Bytes pcm(tone.size() * static_cast<size_t>(av_get_bytes_per_sample(format)));
  uint8_t* out[1] = {pcm.data()};
  return ConvertSamples(in, AV_SAMPLE_FMT_DBL, out, format, channels, samples) ? pcm : Bytes();
}

FramePtr MakeToneFrame(AVSampleFormat format, int rate, int channels, int samples) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->sample_rate = rate;
  frame->nb_samples = samples;
  av_channel_layout_default(&frame->ch_layout, channels);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, samples);
  const uint8_t* in[1] = {pcm.data()};
  if (pcm.empty() || av_frame_get_buffer(frame.get(), 0) < 0 ||
      !ConvertSamples(in, AV_SAMPLE_FMT_S16, frame->extended_data, format, channels, samples)) {
    return nullptr;
  }
  return frame;
}

std::vector<Bytes> EncodeAudio(const char* encoder, const Bytes& pcm, AVSampleFormat format,
                               int rate, int channels, int64_t bitRate) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (codec == nullptr) return {};
  const CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  const void* formats = nullptr;
  int count = 0;
  avcodec_get_supported_config(ctx.get(), codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                               &count);
  ctx->sample_fmt = count > 0 ? static_cast<const AVSampleFormat*>(formats)[0] : AV_SAMPLE_FMT_S16;
  ctx->sample_rate = rate;
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->time_base = AVRational{1, rate};
  ctx->bit_rate = bitRate;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return {};
  const bool anySize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const int frameSize = (anySize || ctx->frame_size <= 0) ? 160 : ctx->frame_size;
  const int stride = channels * av_get_bytes_per_sample(format);
  const int total = static_cast<int>(pcm.size()) / stride;
  return RunEncoder(ctx.get(), (total + frameSize - 1) / frameSize, [&](int i) {
    const int n = std::min(frameSize, total - i * frameSize);
    FramePtr frame(av_frame_alloc());
    frame->format = ctx->sample_fmt;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    frame->nb_samples = n;
    frame->pts = int64_t{i} * frameSize;
    const uint8_t* in[1] = {pcm.data() + static_cast<size_t>(i) * frameSize * stride};
    if (av_frame_get_buffer(frame.get(), 0) < 0 ||
        !ConvertSamples(in, format, frame->extended_data, ctx->sample_fmt, channels, n)) {
      return FramePtr();
    }
    return frame;
  });
}

QuietLog::QuietLog() : previous_(base::IBaseLogInterface::GetLogInstance(nullptr)) {
  base::IBaseLogInterface::GetLogInstance(std::make_shared<DropLines>());
}

QuietLog::~QuietLog() { base::IBaseLogInterface::GetLogInstance(previous_); }

const std::string& H264AacMp4(int width, int height, int frames) {
  static std::map<std::tuple<int, int, int>, TempFile> made;
  TempFile& file = made[{width, height, frames}];
  if (file.path.empty()) file.path = MakeH264AacMp4(width, height, frames);
  return file.path;
}

}  // namespace codec_bench
