#include "support/media_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "support/audio_media.h"

namespace codec_test {

using namespace codec_interface;

// Runs frames through an opened encoder, flushing at the end, and keeps every packet.
static EncodedStream RunEncoder(AVCodecContext* ctx, int frames,
                                const std::function<FramePtr(int)>& make) {
  EncodedStream out;
  PacketPtr packet(av_packet_alloc());
  for (int i = 0; i <= frames; ++i) {
    const FramePtr frame = i < frames ? make(i) : nullptr;  // null flushes
    EXPECT_GE(avcodec_send_frame(ctx, frame.get()), 0);
    while (avcodec_receive_packet(ctx, packet.get()) >= 0) {
      out.packets.emplace_back(av_packet_clone(packet.get()));
    }
  }
  out.params.reset(avcodec_parameters_alloc());
  avcodec_parameters_from_context(out.params.get(), ctx);
  out.timeBase = ctx->time_base;
  return out;
}

FramePtr MakeToneFrame(AVSampleFormat format, int sampleRate, int channels, int samples,
                       int64_t pts) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->sample_rate = sampleRate;
  frame->nb_samples = samples;
  frame->pts = pts;
  av_channel_layout_default(&frame->ch_layout, channels);
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  const Bytes tone = MakeSinePcm(av_get_packed_sample_fmt(format), sampleRate, channels, samples);
  const int bytes = av_get_bytes_per_sample(format);
  for (int i = 0; i < samples * channels; ++i) {
    uint8_t* to = av_sample_fmt_is_planar(format) != 0
                      ? frame->extended_data[i % channels] + (i / channels) * bytes
                      : frame->data[0] + i * bytes;
    std::memcpy(to, tone.data() + static_cast<size_t>(i) * bytes, static_cast<size_t>(bytes));
  }
  return frame;
}

EncodedStream EncodeTone(const char* encoder, int sampleRate, int channels, int frames) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  EXPECT_NE(codec, nullptr) << encoder << " is missing from the FFmpeg build";
  if (codec == nullptr) return {};
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  const void* formats = nullptr;
  avcodec_get_supported_config(ctx.get(), codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                               nullptr);
  ctx->sample_fmt = static_cast<const AVSampleFormat*>(formats)[0];  // every audio encoder has some
  ctx->sample_rate = sampleRate;
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->time_base = AVRational{1, sampleRate};
  ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  EXPECT_GE(avcodec_open2(ctx.get(), codec, nullptr), 0) << encoder << " refused the settings";
  const int size = ctx->frame_size > 0 ? ctx->frame_size : sampleRate / 50;
  return RunEncoder(ctx.get(), frames, [&](int i) {
    return MakeToneFrame(ctx->sample_fmt, sampleRate, channels, size, int64_t{i} * size);
  });
}

EncodedStream EncodePictures(const char* encoder, int width, int height, int frames) {
  CodecCtxPtr ctx = OpenTestVideoEncoder(encoder, width, height, {{"flags", "+global_header"}});
  if (ctx == nullptr) return {};
  return RunEncoder(ctx.get(), frames,
                    [&](int i) { return MakeTestPicture(width, height, ctx->pix_fmt, i); });
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
  auto decode = [&](const AVPacket* packet) {
    EXPECT_GE(avcodec_send_packet(dec.get(), packet), 0);
    int got = 0;
    while ((got = avcodec_receive_frame(dec.get(), frame.get())) >= 0) {
      out.decodedSamples += frame->nb_samples;
    }
    EXPECT_TRUE(got == AVERROR(EAGAIN) || got == AVERROR_EOF) << got;
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

ScratchFile::ScratchFile(const std::string& name)
    : path(::testing::TempDir() + "codec_" + std::to_string(getpid()) + "_" + name) {}


}  // namespace codec_test
