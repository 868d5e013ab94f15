#include "support/video_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace codec_test {

using codec_interface::CodecCtxPtr;
using codec_interface::FilterGraphPtr;
using codec_interface::FramePtr;
using codec_interface::PacketPtr;

Bytes PackPicture(const AVFrame* picture) {
  const auto format = static_cast<AVPixelFormat>(picture->format);
  const int size = av_image_get_buffer_size(format, picture->width, picture->height, 1);
  EXPECT_GT(size, 0);
  if (size <= 0) return {};
  Bytes bytes(static_cast<size_t>(size));
  EXPECT_EQ(av_image_copy_to_buffer(bytes.data(), size, picture->data, picture->linesize, format,
                                    picture->width, picture->height, 1),
            size);
  return bytes;
}

std::vector<FramePtr> DecodePackets(AVCodecID id, const std::vector<Bytes>& packets) {
  std::vector<FramePtr> pictures;
  const AVCodec* codec = avcodec_find_decoder(id);
  EXPECT_NE(codec, nullptr);
  if (codec == nullptr) return pictures;
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  EXPECT_GE(avcodec_open2(ctx.get(), codec, nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  auto drain = [&]() {
    for (;;) {
      FramePtr picture(av_frame_alloc());
      if (avcodec_receive_frame(ctx.get(), picture.get()) < 0) return;
      pictures.push_back(std::move(picture));
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
  return pictures;
}

FramePtr ConvertPicture(const AVFrame* picture, int width, int height, AVPixelFormat format) {
  FramePtr out(av_frame_alloc());
  out->format = format;
  out->width = width;
  out->height = height;
  EXPECT_EQ(av_frame_get_buffer(out.get(), 0), 0);
  SwsContext* sws = sws_getContext(picture->width, picture->height,
                                   static_cast<AVPixelFormat>(picture->format), width, height,
                                   format, SWS_BICUBIC, nullptr, nullptr, nullptr);
  EXPECT_NE(sws, nullptr);
  if (sws == nullptr) return nullptr;
  sws_scale(sws, picture->data, picture->linesize, 0, picture->height, out->data, out->linesize);
  sws_freeContext(sws);
  return out;
}

FramePtr FilterReference(const char* description, const AVFrame* picture) {
  FilterGraphPtr graph(avfilter_graph_alloc());
  char args[256];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1",
                picture->width, picture->height, picture->format);
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  EXPECT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "src", args,
                                         nullptr, graph.get()),
            0);
  EXPECT_GE(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "sink",
                                         nullptr, nullptr, graph.get()),
            0);
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  outputs->name = av_strdup("in");
  outputs->filter_ctx = source;
  inputs->name = av_strdup("out");
  inputs->filter_ctx = sink;
  const int parsed = avfilter_graph_parse_ptr(graph.get(), description, &inputs, &outputs,
                                              nullptr);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  EXPECT_GE(parsed, 0);
  EXPECT_GE(avfilter_graph_config(graph.get(), nullptr), 0);
  FramePtr in(av_frame_clone(picture));
  EXPECT_GE(av_buffersrc_add_frame(source, in.get()), 0);
  FramePtr out(av_frame_alloc());
  EXPECT_GE(av_buffersink_get_frame(sink, out.get()), 0);
  return out;
}

double Psnr(const AVFrame* a, const AVFrame* b) {
  if (a == nullptr || b == nullptr || a->width != b->width || a->height != b->height) return 0;
  FramePtr converted;
  if (a->format != b->format) {
    converted = ConvertPicture(b, b->width, b->height, static_cast<AVPixelFormat>(a->format));
    b = converted.get();
  }
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
  double squared = 0;
  int64_t count = 0;
  for (int plane = 0; plane < 4 && a->data[plane] != nullptr; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int rows = chroma ? AV_CEIL_RSHIFT(a->height, desc->log2_chroma_h) : a->height;
    const int bytes = av_image_get_linesize(static_cast<AVPixelFormat>(a->format), a->width,
                                            plane);
    for (int y = 0; y < rows; ++y) {
      const uint8_t* pa = a->data[plane] + static_cast<ptrdiff_t>(y) * a->linesize[plane];
      const uint8_t* pb = b->data[plane] + static_cast<ptrdiff_t>(y) * b->linesize[plane];
      for (int x = 0; x < bytes; ++x) {
        const double d = static_cast<double>(pa[x]) - pb[x];
        squared += d * d;
      }
      count += bytes;
    }
  }
  if (count == 0) return 0;
  const double mse = squared / static_cast<double>(count);
  return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

bool SamePixels(const AVFrame* a, const AVFrame* b) {
  if (a == nullptr || b == nullptr || a->format != b->format || a->width != b->width ||
      a->height != b->height) {
    return false;
  }
  return PackPicture(a) == PackPicture(b);
}

std::vector<FramePtr> TestPictures(AVPixelFormat format, int width, int height, int count,
                                   int first) {
  std::vector<FramePtr> pictures;
  for (int i = 0; i < count; ++i) {
    pictures.push_back(MakeTestPicture(width, height, format, first + i));
  }
  return pictures;
}

codec_interface::CodecParam EncoderParam(codec_interface::PixelFormat format, int width,
                                         int height, const char* filter) {
  codec_interface::CodecParam param{};
  param.stVideo.ePixelFormat = format;
  param.stVideo.nSrcWidth = width;
  param.stVideo.nSrcHeight = height;
  param.stVideo.nBitRate = 4'000'000;
  param.stVideo.nFrameRate = 25;
  param.stVideo.nGopSize = 10;
  std::snprintf(param.stVideo.szFilterDesc, sizeof param.stVideo.szFilterDesc, "%s", filter);
  return param;
}

EncodeRun EncodePictures(codec_interface::ICodecInterface& codec,
                         std::span<const FramePtr> pictures, int flags) {
  EncodeRun run;
  codec_interface::CVideoEncodeOutParam out(flags);
  for (const FramePtr& picture : pictures) {
    Bytes bytes = PackPicture(picture.get());
    run.results.push_back(codec.Encode(bytes.data(), static_cast<int>(bytes.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      run.packets.emplace_back(out.m_outData[k].pData,
                               out.m_outData[k].pData + out.m_outData[k].nSize);
      run.pts.push_back(out.m_pPacket[k]->pts);
    }
    out.Clear();
  }
  return run;
}

}  // namespace codec_test
