#include "decode_reference.h"

#include <gtest/gtest.h>

namespace codec_test {

using codec_interface::CodecCtxPtr;
using codec_interface::FramePtr;
using codec_interface::PacketPtr;
using codec_interface::SwsPtr;

std::vector<FramePtr> ReferenceDecode(AVCodecID id, const std::vector<Bytes>& packets) {
  std::vector<FramePtr> pictures;
  const AVCodec* codec = avcodec_find_decoder(id);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->thread_count = 1;
  EXPECT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  for (const Bytes& bytes : packets) {
    packet->data = const_cast<uint8_t*>(bytes.data());
    packet->size = static_cast<int>(bytes.size());
    avcodec_send_packet(ctx.get(), packet.get());
    for (;;) {
      FramePtr frame(av_frame_alloc());
      if (avcodec_receive_frame(ctx.get(), frame.get()) < 0) break;
      pictures.push_back(std::move(frame));
    }
  }
  return pictures;
}

FramePtr ReferenceScale(const AVFrame* src, int width, int height, AVPixelFormat format) {
  SwsPtr sws(sws_getContext(src->width, src->height, static_cast<AVPixelFormat>(src->format),
                            width, height, format, SWS_LANCZOS, nullptr, nullptr, nullptr));
  FramePtr out(av_frame_alloc());
  EXPECT_NE(sws, nullptr);
  if (sws == nullptr) return out;
  EXPECT_GE(sws_scale_frame(sws.get(), out.get(), src), 0);
  return out;
}

Bytes PictureBytes(const AVFrame* frame) {
  Bytes bytes;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (desc == nullptr) return bytes;
  for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
    const int rowBytes = av_image_get_linesize(format, frame->width, plane);
    const bool chroma = (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int rows = chroma ? AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h) : frame->height;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      bytes.insert(bytes.end(), row, row + rowBytes);
    }
  }
  return bytes;
}

void ExpectSamePicture(const AVFrame* actual, const AVFrame* expected) {
  ASSERT_NE(actual, nullptr);
  ASSERT_NE(expected, nullptr);
  ASSERT_EQ(actual->width, expected->width);
  ASSERT_EQ(actual->height, expected->height);
  ASSERT_EQ(actual->format, expected->format);
  const Bytes a = PictureBytes(actual);
  const Bytes e = PictureBytes(expected);
  ASSERT_FALSE(e.empty());
  EXPECT_TRUE(a == e) << "pixels differ";
}

}  // namespace codec_test
