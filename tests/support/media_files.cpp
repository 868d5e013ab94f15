#include "support/media_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>

#include "interface/log.h"

namespace codec_test {

using codec_interface::AvOptions;
using codec_interface::CodecCtxPtr;
using codec_interface::FramePtr;
using codec_interface::InputFormatCtxPtr;
using codec_interface::OutputFormatCtxPtr;
using codec_interface::PacketPtr;
using codec_interface::PixelFormat;
using codec_interface::SampleFormat;
using codec_interface::TransCoderParam;

namespace {

AVSampleFormat FirstSampleFormat(const AVCodec* codec) {
  const void* configs = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &configs,
                                   &count) < 0 ||
      configs == nullptr || count == 0) {
    return AV_SAMPLE_FMT_S16;
  }
  return static_cast<const AVSampleFormat*>(configs)[0];
}

void PutSample(AVFrame* frame, int channel, int index, double value) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int bytes = av_get_bytes_per_sample(format);
  uint8_t* at = av_sample_fmt_is_planar(format)
                    ? frame->extended_data[channel] + index * bytes
                    : frame->extended_data[0] +
                          (index * frame->ch_layout.nb_channels + channel) * bytes;
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: {
      const auto v = static_cast<uint8_t>(128 + std::lrint(value * 127));
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_S16: {
      const auto v = static_cast<int16_t>(std::lrint(value * 32767));
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_S32: {
      const auto v = static_cast<int32_t>(std::lrint(value * 2147483647.0));
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case AV_SAMPLE_FMT_FLT: {
      const auto v = static_cast<float>(value);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    default:
      std::memcpy(at, &value, sizeof value);
      break;
  }
}

// Runs frames through an opened encoder, flushing at the end, and keeps every packet.
void RunEncoder(AVCodecContext* ctx, int frames, const std::function<FramePtr(int)>& make,
                EncodedStream& out) {
  PacketPtr packet(av_packet_alloc());
  auto drain = [&]() {
    while (avcodec_receive_packet(ctx, packet.get()) >= 0) {
      out.packets.emplace_back(av_packet_clone(packet.get()));
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < frames; ++i) {
    FramePtr frame = make(i);
    ASSERT_NE(frame, nullptr);
    ASSERT_GE(avcodec_send_frame(ctx, frame.get()), 0);
    drain();
  }
  avcodec_send_frame(ctx, nullptr);
  drain();
  out.params.reset(avcodec_parameters_alloc());
  avcodec_parameters_from_context(out.params.get(), ctx);
  out.timeBase = ctx->time_base;
}

const AVCodec* FindEncoder(const char* name) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  EXPECT_NE(codec, nullptr) << name << " is missing from the FFmpeg build";
  return codec;
}

}  // namespace

FramePtr MakeToneFrame(AVSampleFormat format, int sampleRate, int channels, int samples,
                       int64_t start) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->sample_rate = sampleRate;
  frame->nb_samples = samples;
  av_channel_layout_default(&frame->ch_layout, channels);
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  for (int i = 0; i < samples; ++i) {
    const double t = static_cast<double>(start + i) / sampleRate;
    for (int c = 0; c < channels; ++c) {
      PutSample(frame.get(), c, i, 0.5 * std::sin(2 * std::numbers::pi * 440.0 * (c + 1) * t));
    }
  }
  frame->pts = start;
  return frame;
}

EncodedStream EncodeTone(const char* encoder, int sampleRate, int channels, int frames) {
  EncodedStream out;
  const AVCodec* codec = FindEncoder(encoder);
  if (codec == nullptr) return out;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = sampleRate;
  ctx->sample_fmt = FirstSampleFormat(codec);
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->time_base = AVRational{1, sampleRate};
  ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (codec->id == AV_CODEC_ID_AAC || codec->id == AV_CODEC_ID_MP3) ctx->bit_rate = 128000;
  const int opened = avcodec_open2(ctx.get(), codec, nullptr);
  EXPECT_GE(opened, 0) << encoder << " refused the settings";
  if (opened < 0) return out;
  out.frameSize = ctx->frame_size > 0 ? ctx->frame_size : sampleRate / 50;
  RunEncoder(
      ctx.get(), frames,
      [&](int i) {
        return MakeToneFrame(ctx->sample_fmt, sampleRate, channels, out.frameSize,
                             static_cast<int64_t>(i) * out.frameSize);
      },
      out);
  return out;
}

EncodedStream EncodePictures(const char* encoder, int width, int height, int frames,
                             bool globalHeader) {
  EncodedStream out;
  CodecCtxPtr ctx = OpenTestVideoEncoder(
      encoder, width, height,
      globalHeader ? std::vector<std::pair<std::string, std::string>>{{"flags", "+global_header"}}
                   : std::vector<std::pair<std::string, std::string>>{});
  if (ctx == nullptr) return out;
  RunEncoder(
      ctx.get(), frames,
      [&](int i) { return MakeTestPicture(width, height, ctx->pix_fmt, i); },
      out);
  return out;
}

void WriteMediaFile(const std::string& path, const char* muxer,
                    const std::vector<const EncodedStream*>& streams) {
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, muxer, path.c_str());
  ASSERT_NE(raw, nullptr) << muxer;
  OutputFormatCtxPtr ctx(raw);
  for (const EncodedStream* stream : streams) {
    AVStream* st = avformat_new_stream(ctx.get(), nullptr);
    ASSERT_NE(st, nullptr);
    ASSERT_GE(avcodec_parameters_copy(st->codecpar, stream->params.get()), 0);
    st->codecpar->codec_tag = 0;
    st->time_base = stream->timeBase;
  }
  ASSERT_GE(avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE), 0) << path;
  ASSERT_GE(avformat_write_header(ctx.get(), nullptr), 0) << muxer;

  // Interleave by decoding time, as a real muxing application would hand them over.
  std::vector<size_t> next(streams.size(), 0);
  for (;;) {
    int pick = -1;
    for (size_t s = 0; s < streams.size(); ++s) {
      if (next[s] >= streams[s]->packets.size()) continue;
      const AVPacket* candidate = streams[s]->packets[next[s]].get();
      if (pick < 0 ||
          av_compare_ts(candidate->dts, streams[s]->timeBase,
                        streams[pick]->packets[next[pick]]->dts, streams[pick]->timeBase) < 0) {
        pick = static_cast<int>(s);
      }
    }
    if (pick < 0) break;
    PacketPtr packet(av_packet_clone(streams[pick]->packets[next[pick]++].get()));
    av_packet_rescale_ts(packet.get(), streams[pick]->timeBase, ctx->streams[pick]->time_base);
    packet->stream_index = pick;
    ASSERT_GE(av_interleaved_write_frame(ctx.get(), packet.get()), 0) << muxer;
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
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    out.streams.push_back(ReadBack::Stream{
        par->codec_type, par->codec_id, par->sample_rate, par->ch_layout.nb_channels,
        Bytes(par->extradata, par->extradata + par->extradata_size), ctx->streams[i]->time_base});
  }
  PacketPtr packet(av_packet_alloc());
  while (av_read_frame(ctx.get(), packet.get()) >= 0) {
    out.packets.push_back(ReadBack::Packet{packet->stream_index,
                                           Bytes(packet->data, packet->data + packet->size),
                                           packet->pts, packet->dts, packet->duration});
    av_packet_unref(packet.get());
  }
  return out;
}

int64_t DecodeAudioFile(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) {
    ADD_FAILURE() << "cannot open " << path;
    return -1;
  }
  InputFormatCtxPtr ctx(raw);
  EXPECT_GE(avformat_find_stream_info(ctx.get(), nullptr), 0);
  const AVCodec* codec = nullptr;
  const int index = av_find_best_stream(ctx.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (index < 0 || codec == nullptr) {
    ADD_FAILURE() << "no decodable audio stream in " << path;
    return -1;
  }
  CodecCtxPtr dec(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(dec.get(), ctx->streams[index]->codecpar);
  if (avcodec_open2(dec.get(), codec, nullptr) < 0) {
    ADD_FAILURE() << "decoder refused the stream of " << path;
    return -1;
  }
  int64_t samples = 0;
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  auto receive = [&]() {
    int r = 0;
    while ((r = avcodec_receive_frame(dec.get(), frame.get())) >= 0) {
      samples += frame->nb_samples;
      av_frame_unref(frame.get());
    }
    EXPECT_TRUE(r == AVERROR(EAGAIN) || r == AVERROR_EOF) << codec_interface::AvErrorText(r);
  };
  while (av_read_frame(ctx.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      EXPECT_GE(avcodec_send_packet(dec.get(), packet.get()), 0);
      receive();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  return samples;
}

Bytes AdtsHeader(int sampleRate, int channels, int payloadSize) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
  int index = 0;
  while (index < 12 && kRates[index] != sampleRate) ++index;
  const int length = payloadSize + 7;
  return Bytes{0xFF,
               0xF1,
               static_cast<uint8_t>((1 << 6) | (index << 2) | (channels >> 2)),
               static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
               static_cast<uint8_t>((length >> 3) & 0xFF),
               static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
               0xFC};
}

TransCoderParam PictureParam(PixelFormat src, int srcW, int srcH, PixelFormat dst, int dstW,
                             int dstH) {
  TransCoderParam param{};
  param.eSrcPixelFormat = src;
  param.nSrcWidth = srcW;
  param.nSrcHeight = srcH;
  param.eDstPixelFormat = dst;
  param.nDstWidth = dstW;
  param.nDstHeight = dstH;
  return param;
}

TransCoderParam SoundParam(SampleFormat src, int srcRate, int srcChannels, SampleFormat dst,
                           int dstRate, int dstChannels) {
  TransCoderParam param{};
  param.eSrcSampleFormat = src;
  param.nSrcSampleRate = srcRate;
  param.nSrcChannels = srcChannels;
  param.eDstSampleFormat = dst;
  param.nDstSampleRate = dstRate;
  param.nDstChannels = dstChannels;
  return param;
}

std::string ScratchPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                     : std::string("none");
  for (char& c : test) {
    if (c == '/') c = '_';
  }
  return ::testing::TempDir() + "codec_" + std::to_string(getpid()) + "_" + test + "_" + name;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace codec_test
