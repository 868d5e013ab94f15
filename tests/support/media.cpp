#include "support/media.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace codec_test {

using namespace codec_interface;

namespace {

// Converts samples between formats at one rate: nothing is held back from call to call.
void Convert(const uint8_t* const* in, AVSampleFormat from, uint8_t* const* out,
             AVSampleFormat to, int channels, int samples) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  SwrContext* raw = nullptr;
  swr_alloc_set_opts2(&raw, &layout, to, 48000, &layout, from, 48000, 0, nullptr);
  SwrPtr swr(raw);
  EXPECT_GE(swr_init(swr.get()), 0);
  EXPECT_EQ(swr_convert(swr.get(), out, samples, in, samples), samples);
}

CodecCtxPtr OpenEncoder(const char* name, const std::function<void(AVCodecContext*)>& set,
                        const Options& options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  EXPECT_NE(codec, nullptr) << name << " is missing from the FFmpeg build";
  if (codec == nullptr) return nullptr;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  set(ctx.get());
  AvOptions opts;
  for (const auto& [key, value] : options) opts.Set(key.c_str(), value.c_str());
  const int opened = avcodec_open2(ctx.get(), codec, opts.Slot());
  EXPECT_GE(opened, 0) << name << " refused the settings";
  return opened < 0 ? nullptr : std::move(ctx);
}

// Frames through an opened encoder, flushing at the end (a null frame), keeping every packet.
EncodedStream RunEncoder(AVCodecContext* ctx, int frames, const std::function<FramePtr(int)>& make) {
  EncodedStream out;
  PacketPtr packet(av_packet_alloc());
  for (int i = 0; i <= frames; ++i) {
    const FramePtr frame = i < frames ? make(i) : nullptr;
    EXPECT_GE(avcodec_send_frame(ctx, frame.get()), 0);
    while (avcodec_receive_packet(ctx, packet.get()) >= 0) {
      out.data.emplace_back(packet->data, packet->data + packet->size);
      out.packets.emplace_back(av_packet_clone(packet.get()));
      av_packet_unref(packet.get());
    }
  }
  out.params.reset(avcodec_parameters_alloc());
  avcodec_parameters_from_context(out.params.get(), ctx);
  out.timeBase = ctx->time_base;
  out.initialPadding = ctx->initial_padding;
  return out;
}

FramePtr NewPicture(int width, int height, AVPixelFormat format) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  return frame;
}

}  // namespace

FramePtr MakePicture(int width, int height, AVPixelFormat format, int index) {
  // Drawn in YUV420P (or YUVJ420P), then converted when another format is asked for.
  const AVPixelFormat draw = (format == AV_PIX_FMT_YUVJ420P) ? format : AV_PIX_FMT_YUV420P;
  FramePtr yuv = NewPicture(width, height, draw);
  static const uint8_t kQuadrants[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110},
                                           {210, 16, 146}};
  const int bar = (index * 8) % std::max(width, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int q = (y >= height / 2) * 2 + (x >= width / 2);
      yuv->data[0][y * yuv->linesize[0] + x] = (x >= bar && x < bar + 8) ? 235 : kQuadrants[q][0];
      if (x % 2 == 0 && y % 2 == 0) {
        yuv->data[1][y / 2 * yuv->linesize[1] + x / 2] = kQuadrants[q][1];
        yuv->data[2][y / 2 * yuv->linesize[2] + x / 2] = kQuadrants[q][2];
      }
    }
  }
  FramePtr out = format == draw ? std::move(yuv) : Scale(yuv.get(), width, height, format, SWS_POINT);
  out->pts = index;
  return out;
}

double SineAt(int rate, int channel, int i) {
  constexpr double kPi = 3.14159265358979323846;
  return 0.5 * std::sin(2.0 * kPi * 440.0 * i / rate + channel * kPi / 2.0);
}

FramePtr MakeTone(AVSampleFormat format, int rate, int channels, int samples, int64_t first) {
  std::vector<double> tone(static_cast<size_t>(samples) * channels);
  for (size_t k = 0; k < tone.size(); ++k) {
    tone[k] = SineAt(rate, static_cast<int>(k % channels), static_cast<int>(first + k / channels));
  }
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->sample_rate = rate;
  frame->nb_samples = samples;
  frame->pts = first;
  av_channel_layout_default(&frame->ch_layout, channels);
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(tone.data())};
  Convert(in, AV_SAMPLE_FMT_DBL, frame->extended_data, format, channels, samples);
  return frame;
}

Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples) {
  const FramePtr frame = MakeTone(format, rate, channels, samples, 0);
  return Bytes(frame->data[0], frame->data[0] + samples * channels * av_get_bytes_per_sample(format));
}

EncodedStream EncodeVideo(const char* encoder, int width, int height, int frames,
                          const Options& options) {
  Options all = {{"preset", "ultrafast"}, {"x265-params", "log-level=error"}};
  all.insert(all.end(), options.begin(), options.end());
  const CodecCtxPtr ctx = OpenEncoder(encoder, [&](AVCodecContext* c) {
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->pix_fmt = c->codec_id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    c->gop_size = 10;
    c->max_b_frames = 0;
    c->thread_count = 1;
  }, all);
  if (ctx == nullptr) return {};
  return RunEncoder(ctx.get(), frames,
                    [&](int i) { return MakePicture(width, height, ctx->pix_fmt, i); });
}

EncodedStream EncodeTone(const char* encoder, int rate, int channels, int samples,
                         int anyFrameSize, int64_t bitRate) {
  const CodecCtxPtr ctx = OpenEncoder(encoder, [&](AVCodecContext* c) {
    const void* formats = nullptr;
    avcodec_get_supported_config(c, c->codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats, nullptr);
    c->sample_fmt = static_cast<const AVSampleFormat*>(formats)[0];  // every encoder lists some
    c->sample_rate = rate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->time_base = AVRational{1, rate};
    c->bit_rate = bitRate;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }, {});
  if (ctx == nullptr) return {};
  const bool anySize = (ctx->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const int size = (anySize || ctx->frame_size <= 0) ? anyFrameSize : ctx->frame_size;
  EncodedStream out = RunEncoder(ctx.get(), (samples + size - 1) / size, [&](int i) {
    return MakeTone(ctx->sample_fmt, rate, channels, std::min(size, samples - i * size), i * size);
  });
  out.frameSize = size;
  return out;
}

std::vector<FramePtr> DecodeWith(const char* decoder, const std::vector<Bytes>& packets,
                                 int rate, int channels) {
  const AVCodec* codec = avcodec_find_decoder_by_name(decoder);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = rate;
  if (channels > 0) av_channel_layout_default(&ctx->ch_layout, channels);
  EXPECT_GE(avcodec_open2(ctx.get(), codec, nullptr), 0) << decoder;
  std::vector<FramePtr> frames;
  PacketPtr packet(av_packet_alloc());
  for (size_t i = 0; i <= packets.size(); ++i) {
    if (i < packets.size()) {  // the pass after the last packet drains the decoder
      EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(packets[i].size())), 0);
      std::copy(packets[i].begin(), packets[i].end(), packet->data);
    }
    EXPECT_GE(avcodec_send_packet(ctx.get(), i < packets.size() ? packet.get() : nullptr), 0);
    av_packet_unref(packet.get());
    for (FramePtr f(av_frame_alloc()); avcodec_receive_frame(ctx.get(), f.get()) >= 0;
         f.reset(av_frame_alloc())) {
      frames.push_back(std::move(f));
    }
  }
  return frames;
}

std::vector<double> ToDoubles(const AVFrame* frame) {
  std::vector<double> doubles(static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels);
  uint8_t* out[1] = {reinterpret_cast<uint8_t*>(doubles.data())};
  Convert(frame->extended_data, static_cast<AVSampleFormat>(frame->format), out, AV_SAMPLE_FMT_DBL,
          frame->ch_layout.nb_channels, frame->nb_samples);
  return doubles;
}

std::vector<double> DecodeSamples(const char* decoder, const std::vector<Bytes>& packets,
                                  int rate, int channels) {
  std::vector<double> samples;
  for (const FramePtr& frame : DecodeWith(decoder, packets, rate, channels)) {
    const std::vector<double> s = ToDoubles(frame.get());
    samples.insert(samples.end(), s.begin(), s.end());
  }
  return samples;
}

Bytes PackPicture(const AVFrame* p) {
  const auto format = static_cast<AVPixelFormat>(p->format);
  Bytes bytes(static_cast<size_t>(std::max(av_image_get_buffer_size(format, p->width, p->height, 1), 0)));
  av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), p->data, p->linesize,
                          format, p->width, p->height, 1);
  return bytes;
}

bool SamePixels(const AVFrame* a, const AVFrame* b) {
  return a->format == b->format && a->width == b->width && a->height == b->height &&
         !PackPicture(a).empty() && PackPicture(a) == PackPicture(b);
}

FramePtr Scale(const AVFrame* picture, int width, int height, AVPixelFormat format, int flags) {
  SwsPtr sws(sws_getContext(picture->width, picture->height,
                            static_cast<AVPixelFormat>(picture->format), width, height, format,
                            flags, nullptr, nullptr, nullptr));
  FramePtr out = NewPicture(width, height, format);
  EXPECT_GE(sws_scale_frame(sws.get(), out.get(), picture), 0);
  return out;
}

double Psnr(const AVFrame* a, const AVFrame* b) {
  const FramePtr scaled = Scale(b, a->width, a->height, static_cast<AVPixelFormat>(a->format),
                                SWS_BICUBIC);
  const Bytes x = PackPicture(a), y = PackPicture(scaled.get());
  double squared = 0;
  for (size_t i = 0; i < x.size(); ++i) squared += (x[i] - y[i]) * (x[i] - y[i]);
  const double mse = squared / static_cast<double>(x.size());
  return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

FramePtr FilterReference(const char* description, const AVFrame* picture) {
  FilterGraphPtr graph(avfilter_graph_alloc());
  const std::string args = "video_size=" + std::to_string(picture->width) + "x" +
                           std::to_string(picture->height) +
                           ":pix_fmt=" + std::to_string(picture->format) + ":time_base=1/25";
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  EXPECT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "src",
                                         args.c_str(), nullptr, graph.get()), 0);
  EXPECT_GE(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "sink",
                                         nullptr, nullptr, graph.get()), 0);
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  *outputs = {av_strdup("in"), source, 0, nullptr};
  *inputs = {av_strdup("out"), sink, 0, nullptr};
  EXPECT_GE(avfilter_graph_parse_ptr(graph.get(), description, &inputs, &outputs, nullptr), 0);
  const FilterInOutPtr keepIn(inputs), keepOut(outputs);
  EXPECT_GE(avfilter_graph_config(graph.get(), nullptr), 0);
  FramePtr in(av_frame_clone(picture));
  FramePtr out(av_frame_alloc());
  EXPECT_GE(av_buffersrc_add_frame(source, in.get()), 0);
  EXPECT_GE(av_buffersink_get_frame(sink, out.get()), 0);
  return out;
}

std::vector<Bytes> WithAdtsHeaders(const std::vector<Bytes>& packets, int rate, int config) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
  const auto index = static_cast<int>(std::find(std::begin(kRates), std::end(kRates), rate) -
                                      std::begin(kRates));
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    const int length = static_cast<int>(p.size()) + 7;
    Bytes frame = {0xFF, 0xF1, static_cast<uint8_t>(0x40 | index << 2 | config >> 2),
                   static_cast<uint8_t>((config & 3) << 6 | (length >> 11 & 3)),
                   static_cast<uint8_t>(length >> 3), static_cast<uint8_t>((length & 7) << 5 | 0x1F),
                   0xFC};
    frame.insert(frame.end(), p.begin(), p.end());
    out.push_back(std::move(frame));
  }
  return out;
}

SineMatch MatchSine(const std::vector<double>& interleaved, int channels, int channel, int rate,
                    int skip, int length, int minLag, int maxLag) {
  SineMatch best;
  for (int lag = minLag; lag <= maxLag; ++lag) {
    if (static_cast<size_t>(skip + lag + length) * channels > interleaved.size()) break;
    double xy = 0, xx = 0, yy = 0, diff = 0;
    for (int i = skip; i < skip + length; ++i) {
      const double x = SineAt(rate, channel, i);
      const double y = interleaved[static_cast<size_t>(i + lag) * channels + channel];
      xy += x * y;
      xx += x * x;
      yy += y * y;
      diff += (x - y) * (x - y);
    }
    const double correlation = yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    if (correlation > best.correlation) best = {correlation, std::sqrt(diff / xx)};
  }
  return best;
}

void WriteMediaFile(const std::string& path, const char* muxer,
                    const std::vector<const EncodedStream*>& streams) {
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, muxer, path.c_str());
  ASSERT_NE(raw, nullptr) << muxer;
  OutputFormatCtxPtr ctx(raw);
  for (const EncodedStream* stream : streams) {
    AVStream* st = avformat_new_stream(ctx.get(), nullptr);
    ASSERT_GE(avcodec_parameters_copy(st->codecpar, stream->params.get()), 0);
    st->time_base = stream->timeBase;
  }
  ASSERT_GE(avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE), 0) << path;
  ASSERT_GE(avformat_write_header(ctx.get(), nullptr), 0) << muxer;
  // Stream after stream: the muxer's own interleaving puts them in time order.
  for (size_t s = 0; s < streams.size(); ++s) {
    for (const PacketPtr& sent : streams[s]->packets) {
      PacketPtr packet(av_packet_clone(sent.get()));
      av_packet_rescale_ts(packet.get(), streams[s]->timeBase, ctx->streams[s]->time_base);
      packet->stream_index = static_cast<int>(s);
      ASSERT_GE(av_interleaved_write_frame(ctx.get(), packet.get()), 0) << muxer;
    }
  }
  ASSERT_GE(av_write_trailer(ctx.get()), 0) << muxer;
}

ReadBack ReadMediaFile(const std::string& path) {
  ReadBack out;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return out;
  InputFormatCtxPtr ctx(raw);
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return out;
  out.opened = true;
  out.format = ctx->iformat->name;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    out.streams.emplace_back(avcodec_parameters_alloc());
    avcodec_parameters_copy(out.streams.back().get(), ctx->streams[i]->codecpar);
  }
  const AVCodec* codec = nullptr;
  const int audio = av_find_best_stream(ctx.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  CodecCtxPtr dec(audio >= 0 ? avcodec_alloc_context3(codec) : nullptr);
  if (dec != nullptr) {
    avcodec_parameters_to_context(dec.get(), ctx->streams[audio]->codecpar);
    EXPECT_GE(avcodec_open2(dec.get(), codec, nullptr), 0) << path;
  }
  FramePtr frame(av_frame_alloc());
  const auto decode = [&](const AVPacket* packet) {
    EXPECT_GE(avcodec_send_packet(dec.get(), packet), 0);
    while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) out.decodedSamples += frame->nb_samples;
  };
  PacketPtr packet(av_packet_alloc());
  while (av_read_frame(ctx.get(), packet.get()) >= 0) {
    out.packets.push_back({packet->stream_index, Bytes(packet->data, packet->data + packet->size),
                           packet->pts});
    if (packet->stream_index == audio) decode(packet.get());
    av_packet_unref(packet.get());
  }
  if (dec != nullptr) decode(nullptr);
  return out;
}

Bytes FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

ScratchFile::ScratchFile(const std::string& name)
    : path(::testing::TempDir() + "codec_" + std::to_string(getpid()) + "_" + name) {}

std::shared_ptr<ICodecInterface> OpenCodec(CodecType type, const CodecParam& param) {
  auto codec = ICodecInterface::Create(type);
  EXPECT_EQ(codec->Init(type, param), 0) << "type " << type;
  return codec;
}

std::string ErrorText(int err) {
  char text[1024];
  av_strerror(err, text, sizeof text);
  return text;
}

CodecParam AudioParam(int srcRate, int dstRate, int srcChannels, int dstChannels, int srcFormat,
                      int dstFormat, int bitRate, int duration) {
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

CodecParam VideoParam(int format, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                      bool keepAspect, const char* filter) {
  CodecParam param;
  std::memset(&param, 0, sizeof param);
  VideoCodecParam& v = param.stVideo;
  v.ePixelFormat = static_cast<PixelFormat>(format);
  v.nSrcWidth = srcWidth, v.nSrcHeight = srcHeight;
  v.nDstWidth = dstWidth, v.nDstHeight = dstHeight;
  v.bKeepAspectRatio = keepAspect;
  v.nBitRate = 4'000'000, v.nFrameRate = 25, v.nGopSize = 10;
  std::snprintf(v.szFilterDesc, sizeof v.szFilterDesc, "%s", filter);
  return param;
}

TransCoderParam TransParam(int kind, int src, int srcA, int srcB, int dst, int dstA, int dstB) {
  TransCoderParam p{};
  if (kind == 0) {
    p.eSrcPixelFormat = static_cast<PixelFormat>(src), p.nSrcWidth = srcA, p.nSrcHeight = srcB;
    p.eDstPixelFormat = static_cast<PixelFormat>(dst), p.nDstWidth = dstA, p.nDstHeight = dstB;
  } else {
    p.eSrcSampleFormat = static_cast<SampleFormat>(src), p.nSrcSampleRate = srcA;
    p.nSrcChannels = srcB, p.eDstSampleFormat = static_cast<SampleFormat>(dst);
    p.nDstSampleRate = dstA, p.nDstChannels = dstB;
  }
  return p;
}

}  // namespace codec_test
