// Throughput of the video encoder and of decoding through a filter, each "<area>/<case>/ours"
// against "<area>/<case>/plain", a plain FFmpeg loop doing the same work. The allocation
// counters show where a picture is copied: a 720p picture is 1.4 MB in YUV420P, 3.7 MB in BGRA.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kPictures = 8;  // distinct source pictures, cycled
// Calls before the counted ones: the encoder's first pictures fill its look-ahead and start its
// threads, which allocates once.
constexpr int kWarmUpCalls = 12;

std::vector<Bytes> PackedPictures(AVPixelFormat format) {
  std::vector<Bytes> pictures;
  for (int i = 0; i < kPictures; ++i) pictures.push_back(PackedPicture(kWidth, kHeight, format, i));
  return pictures;
}

// The encoder's record: the host's pictures at their own size, 4 Mbit/s, 25 fps, GOP 10.
CodecParam EncoderParam(PixelFormat format) {
  CodecParam param{};
  param.stVideo.ePixelFormat = format;
  param.stVideo.nSrcWidth = kWidth;
  param.stVideo.nSrcHeight = kHeight;
  param.stVideo.nBitRate = 4'000'000;
  param.stVideo.nFrameRate = 25;
  param.stVideo.nGopSize = 10;
  return param;
}

// One timed call of ours per input, round robin; the out-param is cleared after each call.
template <class Call>
void RunThroughCodec(benchmark::State& state, std::vector<Bytes>& inputs, COutParam& out,
                     const char* failure, Call&& call) {
  size_t i = 0;
  for (; i < kWarmUpCalls; ++i) {
    call(inputs[i % inputs.size()]);
    out.Clear();
  }
  const AllocationScope scope;
  for (auto _ : state) {
    if (!call(inputs[i++ % inputs.size()])) {
      state.SkipWithError(failure);
      break;
    }
    out.Clear();
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// "buffer -> desc -> buffersink", built from the first picture it meets, as the codec builds its
// own. A picture that is not reference-counted is copied by the buffer source (FFmpeg's rule).
class PlainFilter {
 public:
  explicit PlainFilter(const char* desc) : desc_(desc) {}

  // False when the graph cannot be built or gives no picture.
  bool Run(AVFrame* in, AVFrame* out) {
    if (graph_ == nullptr && !Build(*in)) return false;
    return av_buffersrc_add_frame(source_, in) >= 0 && av_buffersink_get_frame(sink_, out) >= 0;
  }

 private:
  bool Build(const AVFrame& first) {
    graph_.reset(avfilter_graph_alloc());
    char args[160];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=0/1",
                  first.width, first.height, first.format);
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args, nullptr,
                                 graph_.get());
    avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr,
                                 nullptr, graph_.get());
    const bool parsed = avfilter_graph_parse2(graph_.get(), desc_, &inputs, &outputs) >= 0 &&
                        inputs != nullptr && outputs != nullptr;
    if (parsed) {
      avfilter_link(source_, 0, inputs->filter_ctx, 0);
      avfilter_link(outputs->filter_ctx, 0, sink_, 0);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return parsed && avfilter_graph_config(graph_.get(), nullptr) >= 0;
  }

  const char* desc_;
  FilterGraphPtr graph_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

void OurEncode(benchmark::State& state, CodecType type, PixelFormat format,
               AVPixelFormat avFormat, const char* filter) {
  std::vector<Bytes> pictures = PackedPictures(avFormat);
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(type);
  CodecParam param = EncoderParam(format);
  std::strcpy(param.stVideo.szFilterDesc, filter);
  if (codec->Init(type, param) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  CVideoEncodeOutParam out;
  RunThroughCodec(state, pictures, out, "Encode failed", [&](Bytes& picture) {
    const bool ok = codec->Encode(picture.data(), static_cast<int>(picture.size()), &out) >= 0;
    benchmark::DoNotOptimize(out.m_outData[0].nSize);
    return ok;
  });
}

// The same encoder settings and the same work by hand: bind the caller's buffer, filter it
// when a filter is named, convert when the encoder takes another format, send, receive one
// packet.
void PlainEncode(benchmark::State& state, AVCodecID id, AVPixelFormat source,
                 AVPixelFormat encoderFormat, const char* filter) {
  const std::vector<Bytes> pictures = PackedPictures(source);
  const AVCodec* codec = avcodec_find_encoder(id);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->bit_rate = 4'000'000;
  ctx->width = kWidth;
  ctx->height = kHeight;
  ctx->time_base = AVRational{2, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->gop_size = 10;
  ctx->max_b_frames = 0;
  ctx->refs = 6;
  ctx->pix_fmt = encoderFormat;
  Options options;
  if (id == AV_CODEC_ID_H264) {
    options.Set("preset", "slow");
    options.Set("tune", "zerolatency");
    options.Set("profile", "baseline");
  }
  if (avcodec_open2(ctx.get(), codec, options.Slot()) < 0) {
    state.SkipWithError("avcodec_open2 failed");
    return;
  }
  SwsPtr sws;
  if (source != encoderFormat) {
    sws.reset(sws_getContext(kWidth, kHeight, source, kWidth, kHeight, encoderFormat,
                             SWS_LANCZOS, nullptr, nullptr, nullptr));
  }
  FramePtr input(av_frame_alloc());
  FramePtr scaled(av_frame_alloc());
  scaled->format = encoderFormat;
  scaled->width = kWidth;
  scaled->height = kHeight;
  if (av_frame_get_buffer(scaled.get(), 0) < 0) return state.SkipWithError("no frame");
  PacketPtr packet(av_packet_alloc());
  PlainFilter graph(filter);
  FramePtr filtered(av_frame_alloc());
  int64_t pts = 0;
  size_t i = 0;
  // Binds the next picture in place and converts it straight from there when needed.
  auto encodeOne = [&] {
    const Bytes& picture = pictures[i++ % pictures.size()];
    input->format = source;
    input->width = kWidth;
    input->height = kHeight;
    av_image_fill_arrays(input->data, input->linesize, picture.data(), source, kWidth, kHeight,
                         1);
    AVFrame* send = input.get();
    if (*filter != '\0') {
      av_frame_unref(filtered.get());
      if (!graph.Run(input.get(), filtered.get())) return false;
      send = filtered.get();
    }
    if (sws != nullptr) {
      if (av_frame_make_writable(scaled.get()) < 0) return false;
      sws_scale(sws.get(), send->data, send->linesize, 0, kHeight, scaled->data,
                scaled->linesize);
      send = scaled.get();
    }
    send->pts = pts++;
    const bool sent = avcodec_send_frame(ctx.get(), send) >= 0;
    av_frame_unref(input.get());
    if (sent && avcodec_receive_packet(ctx.get(), packet.get()) >= 0) {
      benchmark::DoNotOptimize(packet->size);
      av_packet_unref(packet.get());
    }
    return sent;
  };
  for (int k = 0; k < kWarmUpCalls; ++k) encodeOne();
  const AllocationScope scope;
  for (auto _ : state) {
    if (!encodeOne()) {
      state.SkipWithError("avcodec_send_frame failed");
      break;
    }
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// Decoding 720p H.264 through "hflip".
const std::vector<Bytes>& DecodeInput() {
  static const std::vector<Bytes> video =
      EncodeVideo("libx264", kWidth, kHeight, 25, {{"tune", "zerolatency"}});
  return video;
}

void OurDecodeHflip(benchmark::State& state) {
  std::vector<Bytes> packets = DecodeInput();  // Decode takes mutable bytes
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  CodecParam param{};
  std::strcpy(param.stVideo.szFilterDesc, "hflip");
  if (packets.empty() || codec->Init(AV_CODEC_TYPE_H264DEC, param) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  CVideoDecodeOutParam out;
  RunThroughCodec(state, packets, out, "Decode gave no picture", [&](Bytes& packet) {
    const bool ok = codec->Decode(packet.data(), static_cast<int>(packet.size()), &out) == 1;
    benchmark::DoNotOptimize(out.m_outData[0].pData[0]);
    return ok;
  });
}

void PlainDecodeHflip(benchmark::State& state) {
  const auto& packets = DecodeInput();
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  if (packets.empty() || avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    state.SkipWithError("avcodec_open2 failed");
    return;
  }
  PlainFilter graph("hflip");
  FramePtr frame(av_frame_alloc());
  FramePtr filtered(av_frame_alloc());
  PacketPtr packet(av_packet_alloc());
  size_t i = 0;
  const AllocationScope scope;
  for (auto _ : state) {
    const Bytes& bytes = packets[i++ % packets.size()];
    packet->data = const_cast<uint8_t*>(bytes.data());
    packet->size = static_cast<int>(bytes.size());
    avcodec_send_packet(ctx.get(), packet.get());
    if (avcodec_receive_frame(ctx.get(), frame.get()) < 0) {
      state.SkipWithError("no picture");
      break;
    }
    if (!graph.Run(frame.get(), filtered.get())) {
      state.SkipWithError("no filtered picture");
      break;
    }
    benchmark::DoNotOptimize(filtered->data[0]);
    av_frame_unref(filtered.get());
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// Wall time: libx264 works on threads of its own, the same number on both sides.
#define CODEC_PAIR(area, name, ours, plain)                                       \
  BENCHMARK_CAPTURE ours->Name(area "/" #name "/ours")                            \
      ->UseRealTime()                                                             \
      ->Unit(benchmark::kMillisecond);                                            \
  BENCHMARK_CAPTURE plain->Name(area "/" #name "/plain")                          \
      ->UseRealTime()                                                             \
      ->Unit(benchmark::kMillisecond)

CODEC_PAIR("video_encode", h264_720p_yuv420p,
           (OurEncode, a, AV_CODEC_TYPE_H264ENC, PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, ""),
           (PlainEncode, a, AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, ""));
CODEC_PAIR("video_encode", h264_720p_from_bgra,
           (OurEncode, b, AV_CODEC_TYPE_H264ENC, PIX_FMT_BGRA, AV_PIX_FMT_BGRA, ""),
           (PlainEncode, b, AV_CODEC_ID_H264, AV_PIX_FMT_BGRA, AV_PIX_FMT_YUV420P, ""));
CODEC_PAIR("video_encode", h264_720p_yuv420p_hflip,
           (OurEncode, c, AV_CODEC_TYPE_H264ENC, PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, "hflip"),
           (PlainEncode, c, AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, "hflip"));
CODEC_PAIR("video_encode", bmp_720p_bgra,
           (OurEncode, d, AV_CODEC_TYPE_BMPENC, PIX_FMT_BGRA, AV_PIX_FMT_BGRA, ""),
           (PlainEncode, d, AV_CODEC_ID_BMP, AV_PIX_FMT_BGRA, AV_PIX_FMT_BGRA, ""));
BENCHMARK(OurDecodeHflip)->Name("video_decode/h264_720p_hflip/ours")->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PlainDecodeHflip)->Name("video_decode/h264_720p_hflip/plain")->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
