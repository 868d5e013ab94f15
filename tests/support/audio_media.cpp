#include "support/audio_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace codec_test {

using codec_interface::AvBytesPtr;
using codec_interface::AvOptions;
using codec_interface::CodecCtxPtr;
using codec_interface::FramePtr;
using codec_interface::InputFormatCtxPtr;
using codec_interface::OutputFormatCtxPtr;
using codec_interface::PacketPtr;
using codec_interface::SwrPtr;

namespace {

constexpr double kPi = 3.14159265358979323846;

double SampleAt(const uint8_t* p, AVSampleFormat packed) {
  switch (packed) {
    case AV_SAMPLE_FMT_U8: return (static_cast<int>(*p) - 128) / 128.0;
    case AV_SAMPLE_FMT_S16: {
      int16_t v;
      std::memcpy(&v, p, sizeof v);
      return v / 32768.0;
    }
    case AV_SAMPLE_FMT_S32: {
      int32_t v;
      std::memcpy(&v, p, sizeof v);
      return v / 2147483648.0;
    }
    case AV_SAMPLE_FMT_FLT: {
      float v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case AV_SAMPLE_FMT_DBL: {
      double v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    default: return 0.0;
  }
}

void StoreSample(uint8_t* p, AVSampleFormat packed, double value) {
  switch (packed) {
    case AV_SAMPLE_FMT_U8: *p = static_cast<uint8_t>(std::lround(value * 127.0) + 128); break;
    case AV_SAMPLE_FMT_S16: {
      const auto v = static_cast<int16_t>(std::lround(value * 32767.0));
      std::memcpy(p, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_S32: {
      const auto v = static_cast<int32_t>(std::lround(value * 2147483647.0));
      std::memcpy(p, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_FLT: {
      const auto v = static_cast<float>(value);
      std::memcpy(p, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_DBL: std::memcpy(p, &value, sizeof value); break;
    default: break;
  }
}

// Reads a memory buffer through a custom AVIO context.
struct MemoryReader {
  const Bytes* bytes;
  size_t offset = 0;
  static int Read(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<MemoryReader*>(opaque);
    const size_t left = self->bytes->size() - self->offset;
    if (left == 0) return AVERROR_EOF;
    const size_t n = std::min(left, static_cast<size_t>(size));
    std::memcpy(buf, self->bytes->data() + self->offset, n);
    self->offset += n;
    return static_cast<int>(n);
  }
};

struct AvioFree {
  void operator()(AVIOContext* c) const noexcept {
    if (c == nullptr) return;
    av_freep(&c->buffer);
    avio_context_free(&c);
  }
};
using AvioPtr = std::unique_ptr<AVIOContext, AvioFree>;

void AppendFrame(DecodedAudio& out, const AVFrame* frame) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const std::vector<double> s = PcmToDoubles(frame->extended_data, format,
                                             frame->ch_layout.nb_channels, frame->nb_samples);
  out.samples.insert(out.samples.end(), s.begin(), s.end());
  out.frames++;
  out.rate = frame->sample_rate;
  out.channels = frame->ch_layout.nb_channels;
}

AVSampleFormat FirstSampleFormat(AVCodecContext* ctx, const AVCodec* codec) {
  const void* formats = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(ctx, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                                   &count) < 0 ||
      formats == nullptr || count == 0) {
    return AV_SAMPLE_FMT_S16;
  }
  return static_cast<const AVSampleFormat*>(formats)[0];
}

}  // namespace

Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples, double frequency,
                  double amplitude) {
  const int bytes = av_get_bytes_per_sample(format);
  Bytes pcm(static_cast<size_t>(samples) * channels * bytes);
  for (int i = 0; i < samples; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double phase = 2.0 * kPi * frequency * i / rate + c * kPi / 2.0;
      StoreSample(&pcm[(static_cast<size_t>(i) * channels + c) * bytes], format,
                  amplitude * std::sin(phase));
    }
  }
  return pcm;
}

std::vector<double> PcmToDoubles(const uint8_t* const* planes, AVSampleFormat format,
                                 int channels, int samples) {
  const AVSampleFormat packed = av_get_packed_sample_fmt(format);
  const int bytes = av_get_bytes_per_sample(format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  std::vector<double> out(static_cast<size_t>(samples) * channels);
  for (int i = 0; i < samples; ++i) {
    for (int c = 0; c < channels; ++c) {
      const uint8_t* p = planar ? planes[c] + static_cast<size_t>(i) * bytes
                                : planes[0] + (static_cast<size_t>(i) * channels + c) * bytes;
      out[static_cast<size_t>(i) * channels + c] = SampleAt(p, packed);
    }
  }
  return out;
}

std::vector<double> PcmToDoubles(const Bytes& interleaved, AVSampleFormat format, int channels) {
  const uint8_t* planes[1] = {interleaved.data()};
  const int samples =
      static_cast<int>(interleaved.size() / (static_cast<size_t>(channels) *
                                             av_get_bytes_per_sample(format)));
  return PcmToDoubles(planes, format, channels, samples);
}

EncodedAudio EncodeTestAudio(const char* encoder, const Bytes& pcm, AVSampleFormat pcmFormat,
                             int rate, int channels, int64_t bitRate,
                             const std::vector<std::pair<std::string, std::string>>& options) {
  EncodedAudio result;
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  EXPECT_NE(codec, nullptr) << encoder << " is missing from the FFmpeg build";
  if (codec == nullptr) return result;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->sample_fmt = FirstSampleFormat(ctx.get(), codec);
  ctx->sample_rate = rate;
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->time_base = AVRational{1, rate};
  if (bitRate > 0) ctx->bit_rate = bitRate;
  AvOptions opts;
  for (const auto& [key, value] : options) opts.Set(key.c_str(), value.c_str());
  const int opened = avcodec_open2(ctx.get(), codec, opts.Slot());
  EXPECT_GE(opened, 0) << encoder << " refused the settings";
  if (opened < 0) return result;
  result.format = ctx->sample_fmt;
  result.initialPadding = ctx->initial_padding;
  const bool anySize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  result.frameSize = (anySize || ctx->frame_size <= 0) ? 160 : ctx->frame_size;
  if (ctx->extradata_size > 0) {
    result.extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
  }

  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  SwrContext* raw = nullptr;
  swr_alloc_set_opts2(&raw, &layout, ctx->sample_fmt, rate, &layout, pcmFormat, rate, 0,
                      nullptr);
  SwrPtr swr(raw);
  EXPECT_GE(swr_init(swr.get()), 0);

  PacketPtr packet(av_packet_alloc());
  auto drain = [&] {
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      result.packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  };
  const int total = static_cast<int>(
      pcm.size() / (static_cast<size_t>(channels) * av_get_bytes_per_sample(pcmFormat)));
  const bool smallLast = anySize || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  for (int start = 0; start < total; start += result.frameSize) {
    const int n = std::min(result.frameSize, total - start);
    FramePtr frame(av_frame_alloc());
    frame->format = ctx->sample_fmt;
    frame->sample_rate = rate;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    frame->nb_samples = smallLast ? n : result.frameSize;
    frame->pts = start;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, channels,
                           ctx->sample_fmt);
    const uint8_t* in[1] = {pcm.data() + static_cast<size_t>(start) * channels *
                                             av_get_bytes_per_sample(pcmFormat)};
    EXPECT_EQ(swr_convert(swr.get(), frame->extended_data, n, in, n), n);
    EXPECT_GE(avcodec_send_frame(ctx.get(), frame.get()), 0);
    drain();
  }
  avcodec_send_frame(ctx.get(), nullptr);
  drain();
  return result;
}

DecodedAudio DecodeTestAudio(const char* decoder, const std::vector<Bytes>& packets, int rate,
                             int channels, const Bytes& extradata) {
  DecodedAudio result;
  const AVCodec* codec = avcodec_find_decoder_by_name(decoder);
  EXPECT_NE(codec, nullptr) << decoder << " is missing from the FFmpeg build";
  if (codec == nullptr) return result;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = rate;
  av_channel_layout_default(&ctx->ch_layout, channels);
  if (!extradata.empty()) {
    ctx->extradata = static_cast<uint8_t*>(
        av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, extradata.data(), extradata.size());
    ctx->extradata_size = static_cast<int>(extradata.size());
  }
  const int opened = avcodec_open2(ctx.get(), codec, nullptr);
  EXPECT_GE(opened, 0) << decoder << " refused the settings";
  if (opened < 0) return result;
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  auto drain = [&] {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      AppendFrame(result, frame.get());
      av_frame_unref(frame.get());
    }
  };
  for (const Bytes& bytes : packets) {
    EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(bytes.size())), 0);
    std::memcpy(packet->data, bytes.data(), bytes.size());
    EXPECT_GE(avcodec_send_packet(ctx.get(), packet.get()), 0);
    av_packet_unref(packet.get());
    drain();
  }
  avcodec_send_packet(ctx.get(), nullptr);
  drain();
  return result;
}

std::vector<Bytes> ToAdtsFrames(const EncodedAudio& aac, int rate, int channels) {
  std::vector<Bytes> frames;
  AVFormatContext* raw = nullptr;
  EXPECT_GE(avformat_alloc_output_context2(&raw, nullptr, "adts", nullptr), 0);
  if (raw == nullptr) return frames;
  OutputFormatCtxPtr oc(raw);
  AVStream* stream = avformat_new_stream(oc.get(), nullptr);
  stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  stream->codecpar->codec_id = AV_CODEC_ID_AAC;
  stream->codecpar->sample_rate = rate;
  av_channel_layout_default(&stream->codecpar->ch_layout, channels);
  stream->codecpar->extradata = static_cast<uint8_t*>(
      av_mallocz(aac.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(stream->codecpar->extradata, aac.extradata.data(), aac.extradata.size());
  stream->codecpar->extradata_size = static_cast<int>(aac.extradata.size());
  stream->time_base = AVRational{1, rate};
  EXPECT_EQ(avio_open_dyn_buf(&oc->pb), 0);
  EXPECT_GE(avformat_write_header(oc.get(), nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  int64_t pts = 0;
  for (const Bytes& bytes : aac.packets) {
    EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(bytes.size())), 0);
    std::memcpy(packet->data, bytes.data(), bytes.size());
    packet->pts = packet->dts = pts;
    pts += aac.frameSize;
    EXPECT_EQ(av_write_frame(oc.get(), packet.get()), 0);
    av_packet_unref(packet.get());  // av_write_frame leaves the packet to its owner
  }
  av_write_trailer(oc.get());
  uint8_t* buffer = nullptr;
  // The dynamic buffer is closed here by hand, so the owner must find no AVIO left.
  const int size = avio_close_dyn_buf(oc->pb, &buffer);
  oc->pb = nullptr;
  AvBytesPtr owned(buffer);
  for (int offset = 0; offset + 7 <= size;) {
    const uint8_t* h = buffer + offset;
    const int length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0 || length < 7 || offset + length > size) {
      ADD_FAILURE() << "broken ADTS stream at byte " << offset;
      break;
    }
    frames.emplace_back(h, h + length);
    offset += length;
  }
  return frames;
}

DemuxedAudio DemuxAndDecode(const Bytes& stream, const char* demuxer) {
  DemuxedAudio result;
  MemoryReader reader{&stream};
  constexpr int kBufferSize = 4096;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  AvioPtr avio(avio_alloc_context(buffer, kBufferSize, 0, &reader, &MemoryReader::Read,
                                  nullptr, nullptr));
  AVFormatContext* raw = avformat_alloc_context();
  raw->pb = avio.get();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  // On failure avformat_open_input frees the context itself.
  if (avformat_open_input(&raw, nullptr, av_find_input_format(demuxer), nullptr) < 0) {
    return result;
  }
  InputFormatCtxPtr fmt(raw);
  if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return result;
  const int index = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return result;
  result.opened = true;
  const AVCodecParameters* par = fmt->streams[index]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(ctx.get(), par);
  EXPECT_GE(avcodec_open2(ctx.get(), codec, nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  auto drain = [&] {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      result.frames++;
      result.samples += frame->nb_samples;
      result.rate = frame->sample_rate;
      result.channels = frame->ch_layout.nb_channels;
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(fmt.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      result.packets++;
      EXPECT_GE(avcodec_send_packet(ctx.get(), packet.get()), 0);
      drain();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(ctx.get(), nullptr);
  drain();
  return result;
}

std::vector<double> Channel(const std::vector<double>& interleaved, int channels, int channel) {
  std::vector<double> out;
  for (size_t i = static_cast<size_t>(channel); i < interleaved.size();
       i += static_cast<size_t>(channels)) {
    out.push_back(interleaved[i]);
  }
  return out;
}

SignalMatch MatchSignal(const std::vector<double>& expected, const std::vector<double>& actual,
                        int skip, int length, int minLag, int maxLag) {
  SignalMatch best;
  const auto expectedLength = static_cast<int>(expected.size());
  const auto actualLength = static_cast<int>(actual.size());
  for (int lag = minLag; lag <= maxLag; ++lag) {
    if (skip + length > expectedLength || skip + lag + length > actualLength) break;
    double xy = 0, xx = 0, yy = 0, diff = 0;
    for (int i = skip; i < skip + length; ++i) {
      const double x = expected[static_cast<size_t>(i)];
      const double y = actual[static_cast<size_t>(i + lag)];
      xy += x * y;
      xx += x * x;
      yy += y * y;
      diff += (x - y) * (x - y);
    }
    const double correlation = (xx > 0 && yy > 0) ? xy / std::sqrt(xx * yy) : 0.0;
    if (correlation > best.correlation) {
      best.lag = lag;
      best.correlation = correlation;
      best.relativeError = xx > 0 ? std::sqrt(diff / xx) : 1.0;
    }
  }
  return best;
}

}  // namespace codec_test
