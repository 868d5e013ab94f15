#include "support/media.h"

#include <gtest/gtest.h>

namespace codec_test {

using codec_interface::AvOptions;
using codec_interface::CodecCtxPtr;
using codec_interface::FramePtr;
using codec_interface::PacketPtr;

FramePtr MakeTestPicture(int width, int height, AVPixelFormat format, int index) {
  // Draw in YUV420P (or YUVJ420P), then convert when another format is asked for.
  const AVPixelFormat draw = (format == AV_PIX_FMT_YUVJ420P) ? format : AV_PIX_FMT_YUV420P;
  FramePtr yuv(av_frame_alloc());
  yuv->format = draw;
  yuv->width = width;
  yuv->height = height;
  if (av_frame_get_buffer(yuv.get(), 0) < 0) return nullptr;
  static const uint8_t kQuadrants[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110},
                                           {210, 16, 146}};
  const int bar = (index * 8) % (width > 8 ? width : 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int q = (y >= height / 2) * 2 + (x >= width / 2);
      const bool onBar = x >= bar && x < bar + 8;
      yuv->data[0][y * yuv->linesize[0] + x] = onBar ? 235 : kQuadrants[q][0];
      if ((x % 2) == 0 && (y % 2) == 0) {
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
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  SwsContext* sws = sws_getContext(width, height, draw, width, height, format, SWS_POINT,
                                   nullptr, nullptr, nullptr);
  if (sws == nullptr) return nullptr;
  sws_scale(sws, yuv->data, yuv->linesize, 0, height, out->data, out->linesize);
  sws_freeContext(sws);
  out->pts = index;
  return out;
}

CodecCtxPtr OpenTestVideoEncoder(const char* encoder, int width, int height,
                                 const std::vector<std::pair<std::string, std::string>>& options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  EXPECT_NE(codec, nullptr) << encoder << " is missing from the FFmpeg build";
  if (codec == nullptr) return nullptr;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->width = width;
  ctx->height = height;
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->pix_fmt = (codec->id == AV_CODEC_ID_MJPEG) ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  ctx->gop_size = 10;
  ctx->max_b_frames = 0;
  ctx->thread_count = 1;
  AvOptions opts;
  if (codec->id == AV_CODEC_ID_H264) opts.Set("preset", "ultrafast");
  if (codec->id == AV_CODEC_ID_HEVC) {
    opts.Set("preset", "ultrafast");
    opts.Set("x265-params", "log-level=error");
  }
  for (const auto& [key, value] : options) opts.Set(key.c_str(), value.c_str());
  const int opened = avcodec_open2(ctx.get(), codec, opts.Slot());
  EXPECT_GE(opened, 0) << encoder << " refused the settings";
  if (opened < 0) return nullptr;
  return ctx;
}

EncodedVideo EncodeTestVideo(const char* encoder, int width, int height, int frames,
                             const std::vector<std::pair<std::string, std::string>>& options) {
  EncodedVideo result;
  CodecCtxPtr ctx = OpenTestVideoEncoder(encoder, width, height, options);
  if (ctx == nullptr) return result;
  if (ctx->extradata_size > 0) {
    result.extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
  }

  PacketPtr packet(av_packet_alloc());
  auto drain = [&]() {
    while (avcodec_receive_packet(ctx.get(), packet.get()) >= 0) {
      result.packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < frames; ++i) {
    FramePtr picture = MakeTestPicture(width, height, ctx->pix_fmt, i);
    EXPECT_NE(picture, nullptr);
    if (picture == nullptr) return result;
    EXPECT_GE(avcodec_send_frame(ctx.get(), picture.get()), 0);
    drain();
  }
  avcodec_send_frame(ctx.get(), nullptr);
  drain();
  return result;
}

}  // namespace codec_test
