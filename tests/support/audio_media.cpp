#include "support/audio_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace codec_test {

using namespace codec_interface;

namespace {

// Converts between sample formats at one rate: nothing is held back from call to call.
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

CodecCtxPtr OpenContext(const AVCodec* codec, int rate, int channels, int64_t bitRate) {
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  const void* formats = nullptr;
  int count = 0;
  avcodec_get_supported_config(ctx.get(), codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                               &count);
  ctx->sample_fmt = count > 0 ? static_cast<const AVSampleFormat*>(formats)[0] : AV_SAMPLE_FMT_S16;
  ctx->sample_rate = rate;
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->time_base = AVRational{1, rate};
  ctx->bit_rate = bitRate;
  if (codec == nullptr || avcodec_open2(ctx.get(), codec, nullptr) < 0) ctx.reset();
  EXPECT_NE(ctx, nullptr) << "the codec is missing or refused the settings";
  return ctx;
}

}  // namespace

double SineAt(int rate, int channel, int i) {
  constexpr double kPi = 3.14159265358979323846;
  return 0.5 * std::sin(2.0 * kPi * 440.0 * i / rate + channel * kPi / 2.0);
}

Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples) {
  std::vector<double> tone(static_cast<size_t>(samples) * channels);
  for (size_t k = 0; k < tone.size(); ++k) {
    tone[k] = SineAt(rate, static_cast<int>(k % channels), static_cast<int>(k / channels));
  }
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(tone.data())};
  Bytes pcm(tone.size() * av_get_bytes_per_sample(format));
  uint8_t* out[1] = {pcm.data()};
  Convert(in, AV_SAMPLE_FMT_DBL, out, format, channels, samples);
  return pcm;
}

std::vector<double> PcmToDoubles(const uint8_t* const* planes, AVSampleFormat format,
                                 int channels, int samples) {
  std::vector<double> doubles(static_cast<size_t>(samples) * channels);
  uint8_t* out[1] = {reinterpret_cast<uint8_t*>(doubles.data())};
  Convert(planes, format, out, AV_SAMPLE_FMT_DBL, channels, samples);
  return doubles;
}

EncodedAudio EncodeTestAudio(const char* encoder, const Bytes& pcm, AVSampleFormat pcmFormat,
                             int rate, int channels, int64_t bitRate, int anyFrameSize) {
  EncodedAudio result;
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  CodecCtxPtr ctx = OpenContext(codec, rate, channels, bitRate);
  if (ctx == nullptr) return result;
  result.initialPadding = ctx->initial_padding;
  const bool anySize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const int frameSize = (anySize || ctx->frame_size <= 0) ? anyFrameSize : ctx->frame_size;
  result.frameSize = frameSize;
  PacketPtr packet(av_packet_alloc());
  const int stride = channels * av_get_bytes_per_sample(pcmFormat);
  const int total = static_cast<int>(pcm.size()) / stride;
  for (int start = 0; start <= total; start += frameSize) {
    FramePtr frame;
    if (start < total) {
      const int n = std::min(frameSize, total - start);
      frame.reset(av_frame_alloc());
      frame->format = ctx->sample_fmt;
      av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
      frame->nb_samples = n;
      frame->pts = start;
      EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
      const uint8_t* in[1] = {pcm.data() + static_cast<size_t>(start) * stride};
      Convert(in, pcmFormat, frame->extended_data, ctx->sample_fmt, channels, n);
    }
    EXPECT_GE(avcodec_send_frame(ctx.get(), frame.get()), 0);  // null at the end: flush
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      result.packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  }
  return result;
}

std::vector<double> DecodeTestAudio(const char* decoder, const std::vector<Bytes>& packets,
                                    int rate, int channels) {
  std::vector<double> samples;
  CodecCtxPtr ctx = OpenContext(avcodec_find_decoder_by_name(decoder), rate, channels, 0);
  if (ctx == nullptr) return samples;
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  for (size_t i = 0; i <= packets.size(); ++i) {
    if (i < packets.size()) {
      EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(packets[i].size())), 0);
      std::copy(packets[i].begin(), packets[i].end(), packet->data);
    }
    EXPECT_GE(avcodec_send_packet(ctx.get(), i < packets.size() ? packet.get() : nullptr), 0);
    av_packet_unref(packet.get());
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      const auto s = PcmToDoubles(frame->extended_data, static_cast<AVSampleFormat>(frame->format),
                                  frame->ch_layout.nb_channels, frame->nb_samples);
      samples.insert(samples.end(), s.begin(), s.end());
      av_frame_unref(frame.get());
    }
  }
  return samples;
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

}  // namespace codec_test
