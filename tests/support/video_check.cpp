#include "support/video_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace codec_test {

using codec_interface::FramePtr;

Bytes PackPicture(const AVFrame* p) {
  const auto format = static_cast<AVPixelFormat>(p->format);
  Bytes bytes(static_cast<size_t>(av_image_get_buffer_size(format, p->width, p->height, 1)));
  EXPECT_EQ(av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), p->data,
                                    p->linesize, format, p->width, p->height, 1),
            static_cast<int>(bytes.size()));
  return bytes;
}

std::vector<FramePtr> DecodePackets(AVCodecID id, const std::vector<Bytes>& packets) {
  std::vector<FramePtr> pictures;
  const AVCodec* codec = avcodec_find_decoder(id);
  codec_interface::CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  EXPECT_GE(avcodec_open2(ctx.get(), codec, nullptr), 0);
  codec_interface::PacketPtr packet(av_packet_alloc());
  for (size_t i = 0; i <= packets.size(); ++i) {
    if (i < packets.size()) {  // the pass after the last packet drains the decoder
      EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(packets[i].size())), 0);
      std::memcpy(packet->data, packets[i].data(), packets[i].size());
    }
    EXPECT_GE(avcodec_send_packet(ctx.get(), i < packets.size() ? packet.get() : nullptr), 0);
    av_packet_unref(packet.get());
    for (FramePtr p(av_frame_alloc()); avcodec_receive_frame(ctx.get(), p.get()) >= 0;
         p.reset(av_frame_alloc())) {
      pictures.push_back(std::move(p));
    }
  }
  return pictures;
}

FramePtr FilterReference(const char* description, const AVFrame* picture) {
  codec_interface::FilterGraphPtr graph(avfilter_graph_alloc());
  char args[128];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25",
                picture->width, picture->height, picture->format);
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  EXPECT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "src", args,
                                         nullptr, graph.get()), 0);
  EXPECT_GE(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "sink",
                                         nullptr, nullptr, graph.get()), 0);
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  *outputs = {av_strdup("in"), source, 0, nullptr};
  *inputs = {av_strdup("out"), sink, 0, nullptr};
  EXPECT_GE(avfilter_graph_parse_ptr(graph.get(), description, &inputs, &outputs, nullptr), 0);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  EXPECT_GE(avfilter_graph_config(graph.get(), nullptr), 0);
  FramePtr in(av_frame_clone(picture));
  FramePtr out(av_frame_alloc());
  EXPECT_GE(av_buffersrc_add_frame(source, in.get()), 0);
  EXPECT_GE(av_buffersink_get_frame(sink, out.get()), 0);
  return out;
}

double Psnr(const AVFrame* a, const AVFrame* b) {
  FramePtr scaled(av_frame_alloc());
  scaled->format = a->format;
  scaled->width = a->width;
  scaled->height = a->height;
  codec_interface::SwsPtr sws(sws_getContext(
      b->width, b->height, static_cast<AVPixelFormat>(b->format), a->width, a->height,
      static_cast<AVPixelFormat>(a->format), SWS_BICUBIC, nullptr, nullptr, nullptr));
  EXPECT_GE(sws_scale_frame(sws.get(), scaled.get(), b), 0);
  const Bytes x = PackPicture(a);
  const Bytes y = PackPicture(scaled.get());
  double squared = 0;
  for (size_t i = 0; i < x.size(); ++i) squared += (x[i] - y[i]) * (x[i] - y[i]);
  const double mse = squared / static_cast<double>(x.size());
  return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

bool SamePixels(const AVFrame* a, const AVFrame* b) {
  return a->format == b->format && a->width == b->width && a->height == b->height &&
         PackPicture(a) == PackPicture(b);
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
                         std::span<const FramePtr> pictures) {
  EncodeRun run;
  codec_interface::CVideoEncodeOutParam out;
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
