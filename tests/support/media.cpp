#include "support/media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>

namespace codec_test {

using namespace codec_interface;

namespace {

// Converts samples between formats at one rate: nothing is held back from call to call.
void Convert(const uint8_t* const* in, AVSampleFormat from, uint8_t* const* out,
             AVSampleFormat to, int channels, int samples) {
  const SwrPtr swr = Resampler(from, 48000, channels, to, 48000, channels);
  EXPECT_EQ(swr_convert(swr.get(), out, samples, in, samples), samples);
}

void SetAll(AvOptions& opts, const Options& options) {
  for (const auto& [key, value] : options) opts.Set(key.c_str(), value.c_str());
}

// Opens the named encoder set up by `set` and runs the frames `make` gives through it, until
// it gives none: that flushes. Keeps every packet.
EncodedStream Encode(const char* name, const std::function<void(AVCodecContext*)>& set, const Options& options,
                     const std::function<FramePtr(AVCodecContext*, int)>& make) {
  EncodedStream out;
  const CodecCtxPtr ctx = OpenContext(avcodec_find_encoder_by_name(name), set, options);
  PacketPtr packet(av_packet_alloc());
  for (int i = 0;; ++i) {
    const FramePtr frame = make(ctx.get(), i);
    EXPECT_GE(avcodec_send_frame(ctx.get(), frame.get()), 0);
    while (avcodec_receive_packet(ctx.get(), packet.get()) >= 0) {
      out.data.emplace_back(packet->data, packet->data + packet->size);
      out.packets.emplace_back(av_packet_clone(packet.get()));
    }
    if (frame == nullptr) break;
  }
  out.params.reset(avcodec_parameters_alloc());
  avcodec_parameters_from_context(out.params.get(), ctx.get());
  out.timeBase = ctx->time_base;
  out.initialPadding = ctx->initial_padding;
  return out;
}

}  // namespace

FramePtr MakePicture(int width, int height, AVPixelFormat format, int index) {
  // Drawn in YUV420P (or YUVJ420P), then converted when another format is asked for.
  const AVPixelFormat draw = (format == AV_PIX_FMT_YUVJ420P) ? format : AV_PIX_FMT_YUV420P;
  FramePtr yuv(av_frame_alloc());
  yuv->format = draw, yuv->width = width, yuv->height = height, yuv->pts = index;
  EXPECT_GE(av_frame_get_buffer(yuv.get(), 0), 0);
  static const uint8_t kQuadrants[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110},
                                           {210, 16, 146}};
  const int bar = (index * 8) % std::max(width, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* q = kQuadrants[(y >= height / 2) * 2 + (x >= width / 2)];
      yuv->data[0][y * yuv->linesize[0] + x] = (x >= bar && x < bar + 8) ? 235 : q[0];
      yuv->data[1][y / 2 * yuv->linesize[1] + x / 2] = q[1];
      yuv->data[2][y / 2 * yuv->linesize[2] + x / 2] = q[2];
    }
  }
  if (format == draw) return yuv;
  FramePtr out = Scale(yuv.get(), width, height, format, SWS_POINT);
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
  frame->format = format, frame->sample_rate = rate, frame->nb_samples = samples;
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

EncodedStream EncodeVideo(const char* encoder, int width, int height, int frames, const Options& options) {
  Options all = {{"preset", "ultrafast"}, {"x265-params", "log-level=error"}};
  all.insert(all.end(), options.begin(), options.end());
  const auto set = [&](AVCodecContext* c) {
    c->width = width, c->height = height, c->gop_size = 10, c->max_b_frames = 0;
    c->time_base = AVRational{1, 25}, c->framerate = AVRational{25, 1}, c->thread_count = 1;
    c->pix_fmt = c->codec_id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  };
  return Encode(encoder, set, all, [&](AVCodecContext* c, int i) {
    return i < frames ? MakePicture(width, height, c->pix_fmt, i) : nullptr;
  });
}

EncodedStream EncodeTone(const char* encoder, int rate, int channels, int samples, int anyFrameSize, int64_t bitRate) {
  const auto set = [&](AVCodecContext* c) {
    const void* formats = nullptr;
    avcodec_get_supported_config(c, c->codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats, nullptr);
    c->sample_fmt = static_cast<const AVSampleFormat*>(formats)[0];  // every encoder lists some
    c->sample_rate = rate, c->time_base = AVRational{1, rate}, c->bit_rate = bitRate;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_channel_layout_default(&c->ch_layout, channels);
  };
  int size = 0;
  EncodedStream out = Encode(encoder, set, {}, [&](AVCodecContext* c, int i) -> FramePtr {
    const bool any = (c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || c->frame_size <= 0;
    size = any ? anyFrameSize : c->frame_size;
    if (i * size >= samples) return nullptr;
    return MakeTone(c->sample_fmt, rate, channels, std::min(size, samples - i * size), i * size);
  });
  out.frameSize = size;
  return out;
}

CodecCtxPtr OpenContext(const AVCodec* codec, const std::function<void(AVCodecContext*)>& set,
                        const Options& options) {
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  set(ctx.get());
  AvOptions opts;
  SetAll(opts, options);
  EXPECT_GE(avcodec_open2(ctx.get(), codec, opts.Slot()), 0) << (codec ? codec->name : "no codec");
  return ctx;
}

std::vector<FramePtr> SendReceive(AVCodecContext* decoder, const AVPacket* packet) {
  EXPECT_GE(avcodec_send_packet(decoder, packet), 0) << avcodec_get_name(decoder->codec_id);
  std::vector<FramePtr> frames;
  int got = 0;
  for (FramePtr f(av_frame_alloc()); (got = avcodec_receive_frame(decoder, f.get())) == 0; f.reset(av_frame_alloc())) {
    frames.push_back(std::move(f));
  }
  EXPECT_TRUE(got == AVERROR(EAGAIN) || got == AVERROR_EOF) << ErrorText(got);
  return frames;
}

std::vector<FramePtr> DecodeWith(const char* decoder, const std::vector<Bytes>& packets, int rate, int channels) {
  const CodecCtxPtr ctx = OpenContext(avcodec_find_decoder_by_name(decoder), [&](AVCodecContext* c) {
    c->sample_rate = rate;
    if (channels > 0) av_channel_layout_default(&c->ch_layout, channels);
  });
  std::vector<FramePtr> frames;
  for (size_t i = 0; i <= packets.size(); ++i) {  // the pass after the last packet drains the decoder
    PacketPtr packet(i < packets.size() ? av_packet_alloc() : nullptr);
    if (packet != nullptr) {
      EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(packets[i].size())), 0);
      std::copy(packets[i].begin(), packets[i].end(), packet->data);
    }
    frames = std::move(frames) + SendReceive(ctx.get(), packet.get());
  }
  return frames;
}

std::vector<double> ToDoubles(const AVFrame* frame) {
  const int channels = frame->ch_layout.nb_channels;
  std::vector<double> doubles(static_cast<size_t>(frame->nb_samples) * channels);
  uint8_t* out[1] = {reinterpret_cast<uint8_t*>(doubles.data())};
  Convert(frame->extended_data, static_cast<AVSampleFormat>(frame->format), out, AV_SAMPLE_FMT_DBL,
          channels, frame->nb_samples);
  return doubles;
}

std::vector<double> DecodeSamples(const char* decoder, const std::vector<Bytes>& packets, int rate, int channels) {
  std::vector<double> samples;
  for (const FramePtr& frame : DecodeWith(decoder, packets, rate, channels)) samples = samples + ToDoubles(frame.get());
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

FramePtr Scale(const AVFrame* picture, int width, int height, AVPixelFormat format, int flags, bool declared) {
  SwsPtr sws(sws_getContext(picture->width, picture->height,
                            static_cast<AVPixelFormat>(picture->format), width, height, format,
                            flags, nullptr, nullptr, nullptr));
  const int* matrix = sws_getCoefficients(picture->colorspace);
  const bool rgbOut = av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB;
  if (declared) sws_setColorspaceDetails(sws.get(), matrix, picture->color_range == AVCOL_RANGE_JPEG, matrix, rgbOut, 0, 1 << 16, 1 << 16);
  FramePtr out(av_frame_alloc());
  EXPECT_GE(sws_scale_frame(sws.get(), out.get(), picture), 0);
  return out;
}

double Psnr(const AVFrame* a, const AVFrame* b) {
  const auto format = static_cast<AVPixelFormat>(a->format);
  const bool same = b->format == format && b->width == a->width && b->height == a->height;
  const Bytes x = PackPicture(a), y = PackPicture(same ? b : Scale(b, a->width, a->height, format, SWS_BICUBIC).get());
  double squared = 0;
  for (size_t i = 0; i < x.size(); ++i) squared += (x[i] - y[i]) * (x[i] - y[i]);
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(x.size()) / std::max(squared, 1.0));
}

std::vector<Bytes> WithAdtsHeaders(const std::vector<Bytes>& packets, int rate, int config) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
  const auto index = static_cast<int>(std::find(std::begin(kRates), std::end(kRates), rate) - std::begin(kRates));
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    const int length = static_cast<int>(p.size()) + 7;
    out.push_back({0xFF, 0xF1, static_cast<uint8_t>(0x40 | index << 2 | config >> 2),
                   static_cast<uint8_t>((config & 3) << 6 | (length >> 11 & 3)),
                   static_cast<uint8_t>(length >> 3), static_cast<uint8_t>((length & 7) << 5 | 0x1F), 0xFC});
    out.back().insert(out.back().end(), p.begin(), p.end());
  }
  return out;
}

void WriteMediaFile(const std::string& path, const char* muxer, const std::vector<const EncodedStream*>& streams,
                    const Options& options) {
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, muxer, path.c_str());
  OutputFormatCtxPtr ctx(raw);
  ctx->flags |= AVFMT_FLAG_BITEXACT;  // no random stream serials or ids: the same bytes every run
  for (const EncodedStream* stream : streams) {
    AVStream* st = avformat_new_stream(ctx.get(), nullptr);
    avcodec_parameters_copy(st->codecpar, stream->params.get());
    st->time_base = stream->timeBase;
    st->disposition = stream->disposition;
    for (const auto& [key, value] : stream->metadata) av_dict_set(&st->metadata, key.c_str(), value.c_str(), 0);
  }
  ASSERT_GE(avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE), 0) << path;
  AvOptions opts;
  SetAll(opts, options);
  ASSERT_GE(avformat_write_header(ctx.get(), opts.Slot()), 0) << muxer;
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

InputFormatCtxPtr OpenInput(const std::string& path) {
  AVFormatContext* raw = nullptr;
  EXPECT_EQ(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0) << path;
  InputFormatCtxPtr ctx(raw);
  return ctx != nullptr && avformat_find_stream_info(ctx.get(), nullptr) >= 0 ? std::move(ctx) : nullptr;
}

ReadBack ReadMediaFile(const std::string& path, int stream) {
  ReadBack out;
  const InputFormatCtxPtr ctx = OpenInput(path);
  if (ctx == nullptr || ctx->nb_streams == 0) return out;
  out.format = ctx->iformat->name;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    out.streams.emplace_back(avcodec_parameters_alloc());
    avcodec_parameters_copy(out.streams.back().get(), ctx->streams[i]->codecpar);
  }
  const AVCodecParameters* par = out.streams[stream].get();
  const CodecCtxPtr decoder = OpenContext(avcodec_find_decoder(par->codec_id),
                                          [&](AVCodecContext* c) { avcodec_parameters_to_context(c, par); });
  PacketPtr packet(av_packet_alloc());
  for (bool more = true; more;) {  // the pass after the last packet drains the decoder
    more = av_read_frame(ctx.get(), packet.get()) >= 0;
    if (more) {
      out.packets.push_back({packet->stream_index, Bytes(packet->data, packet->data + packet->size), packet->pts,
                             double(packet->pts) * av_q2d(ctx->streams[packet->stream_index]->time_base)});
    }
    const bool ours = !more || packet->stream_index == stream;
    for (const FramePtr& frame : ours ? SendReceive(decoder.get(), more ? packet.get() : nullptr) : std::vector<FramePtr>()) {
      out.decoded += decoder->codec_type == AVMEDIA_TYPE_VIDEO ? 1 : frame->nb_samples;
      if (frame->sample_rate > 0) out.seconds += double(frame->nb_samples) / frame->sample_rate;
      out.width = frame->width, out.height = frame->height;
    }
    av_packet_unref(packet.get());
  }
  return out;
}

void Take(EncodedRecords& run, const CAudioEncodeOutParam& out) {
  for (const AudioEncOutData& d : std::span(out.m_outData, out.m_nNum)) {
    run.packets.emplace_back(d.pData, d.pData + d.nSize);
    run.headers.emplace_back(d.byHeader, d.byHeader + d.nHeaderSize);
  }
}

EncodedRecords EncodeInChunks(ICodecInterface& codec, const Bytes& pcm, size_t chunkBytes) {
  EncodedRecords run;
  CAudioEncodeOutParam out;
  for (size_t offset = 0; offset < pcm.size(); offset += chunkBytes, out.Clear()) {
    const size_t bytes = std::min(pcm.size() - offset, chunkBytes);
    auto chunk = std::make_unique<uint8_t[]>(bytes);
    std::memcpy(chunk.get(), pcm.data() + offset, bytes);
    EXPECT_GE(codec.Encode(chunk.get(), static_cast<int>(bytes), &out), 0);
    EXPECT_EQ(std::memcmp(chunk.get(), pcm.data() + offset, bytes), 0);
    for (const int odd : {0, 1, -4}) EXPECT_EQ(codec.Encode(chunk.get(), odd, &out), out.m_nNum);
    EXPECT_EQ(codec.Encode(nullptr, 4000, &out), out.m_nNum);
    chunk.reset();
    Take(run, out);
  }
  return run;
}

std::vector<double> DecodeOurs(ICodecInterface& codec, const std::vector<Bytes>& packets, const AudioCodecParam& a) {
  std::vector<double> decoded;
  CAudioDecodeOutParam out;
  for (Bytes packet : packets) {  // a block of its own size: AddressSanitizer sees over-reads
    EXPECT_GE(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out), 0);
    for (const AVFrame* f : std::span(out.m_pFrame, out.m_nNum)) {
      EXPECT_EQ(std::tuple(f->format, f->sample_rate, f->ch_layout.nb_channels),
                std::tuple(int(a.eDstSampleFormat), a.nDstSampleRate, a.nDstChannels));
      decoded = decoded + ToDoubles(f);
    }
    out.Clear();
  }
  return decoded;
}

ScratchFile::ScratchFile(const std::string& name)
    : path(::testing::TempDir() + "codec_" + std::to_string(getpid()) + "_" + name) {}

std::shared_ptr<ICodecInterface> OpenCodec(CodecType type, const CodecParam& param) {
  auto codec = ICodecInterface::Create(type);
  EXPECT_EQ(codec->Init(type, param), 0) << "type " << type;
  return codec;
}

SwrPtr Resampler(AVSampleFormat from, int fromRate, int fromChannels, AVSampleFormat to, int toRate,
                 int toChannels) {
  AVChannelLayout in{}, out{};
  av_channel_layout_default(&in, fromChannels), av_channel_layout_default(&out, toChannels);
  SwrContext* raw = nullptr;
  swr_alloc_set_opts2(&raw, &out, to, toRate, &in, from, fromRate, 0, nullptr);
  SwrPtr swr(raw);
  EXPECT_GE(swr_init(swr.get()), 0);
  return swr;
}

std::string ErrorText(int err) {
  char text[1024];
  av_strerror(err, text, sizeof text);
  return text;
}

CodecParam AudioParam(int srcRate, int dstRate, int srcChannels, int dstChannels, int srcFormat,
                      int dstFormat, int bitRate, int duration) {
  CodecParam param{};
  param.stAudio = {srcRate, dstRate, srcChannels, dstChannels, 0, bitRate,
                   SampleFormat(srcFormat), SampleFormat(dstFormat), duration};
  return param;
}

CodecParam VideoParam(int format, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                      bool keepAspect, const char* filter) {
  CodecParam param{};
  param.stVideo = {PixelFormat(format), dstWidth, dstHeight, keepAspect, 4'000'000, 25, 10,
                   srcWidth, srcHeight, {}, 0, 0, nullptr, 0, 0};
  std::snprintf(param.stVideo.szFilterDesc, sizeof param.stVideo.szFilterDesc, "%s", filter);
  return param;
}

TransCoderParam TransParam(int src, int srcA, int srcB, int dst, int dstA, int dstB) {
  // Both views of each field are 32 bits: the kind given to Init decides how they are read.
  TransCoderParam p{};
  p.eSrcPixelFormat = PixelFormat(src), p.nSrcWidth = srcA, p.nSrcHeight = srcB;
  p.eDstPixelFormat = PixelFormat(dst), p.nDstWidth = dstA, p.nDstHeight = dstB;
  return p;
}

}  // namespace codec_test
