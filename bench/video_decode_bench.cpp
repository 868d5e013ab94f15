// Decoding through the video codec's Decode against a plain libavcodec loop doing the same work
// (same packets, same default thread settings, one picture received per packet), and decoding
// with scaling to 640x360 BGRA against the plain loop followed by sws_scale_frame (Lanczos).
// Pairs "video_decode/<case>/ours" and "video_decode/<case>/plain"; bench/ratios compares them.
// The "_frame_threads_2" pairs give both sides two frame threads and are timed by the wall
// clock. "video_decode_scaling/..." rows (no pairs) show the library's throughput with one and
// two threads for one stream, and for two streams at once with one thread each.
#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

namespace {

using codec_bench::Bytes;
using codec_bench::CodecCtxPtr;
using codec_bench::FramePtr;
using codec_bench::PacketPtr;
using codec_bench::SwsPtr;
using EncodedVideo = std::vector<Bytes>;

constexpr int kFrames = 30;

const EncodedVideo& H264Stream() {
  static const EncodedVideo video = codec_bench::EncodeVideo("libx264", 1920, 1080, kFrames);
  return video;
}
const EncodedVideo& HevcStream() {
  static const EncodedVideo video = codec_bench::EncodeVideo("libx265", 1920, 1080, kFrames);
  return video;
}

struct Stream {
  const EncodedVideo& (*video)();
  AVCodecID id;
  codec_interface::CodecType type;
};
const Stream kH264{H264Stream, AV_CODEC_ID_H264, codec_interface::AV_CODEC_TYPE_H264DEC};
const Stream kHevc{HevcStream, AV_CODEC_ID_HEVC, codec_interface::AV_CODEC_TYPE_HEVCDEC};

void DecodeWithLibrary(benchmark::State& state, const Stream& stream, bool scale, int threads) {
  const EncodedVideo& video = stream.video();
  codec_interface::CodecParam param{};
  if (scale) {
    param.stVideo.ePixelFormat = codec_interface::PIX_FMT_BGRA;
    param.stVideo.nDstWidth = 640;
    param.stVideo.nDstHeight = 360;
  }
  const std::shared_ptr<codec_interface::ICodecInterface> codec =
      codec_interface::ICodecInterface::Create(stream.type);
  codec_interface::ICodecInterface::SetThreads(*codec, threads, codec_interface::CODEC_THREAD_FRAME);
  if (codec->Init(stream.type, param) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  codec_interface::CVideoDecodeOutParam out;
  int64_t pictures = 0;
  const codec_bench::AllocationScope scope;
  for (auto _ : state) {
    for (const auto& packet : video) {
      auto* data = const_cast<unsigned char*>(packet.data());
      pictures += codec->Decode(data, static_cast<int>(packet.size()), &out);
      benchmark::DoNotOptimize(out.m_outData[0].pData[0]);
      out.Clear();
    }
  }
  codec_bench::ReportAllocations(state, scope, pictures);
  state.SetItemsProcessed(pictures);
}

void DecodeWithFfmpeg(benchmark::State& state, const Stream& stream, bool scale, int threads) {
  const EncodedVideo& video = stream.video();
  const AVCodec* decoder = avcodec_find_decoder(stream.id);
  CodecCtxPtr ctx(avcodec_alloc_context3(decoder));
  if (threads != 1) {
    ctx->thread_count = threads;
    ctx->thread_type = FF_THREAD_FRAME;
  }
  if (avcodec_open2(ctx.get(), decoder, nullptr) < 0) {
    state.SkipWithError("avcodec_open2 failed");
    return;
  }
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  FramePtr scaled(av_frame_alloc());
  SwsPtr sws;
  int64_t pictures = 0;
  const codec_bench::AllocationScope scope;
  for (auto _ : state) {
    for (const auto& bytes : video) {
      packet->data = const_cast<uint8_t*>(bytes.data());
      packet->size = static_cast<int>(bytes.size());
      avcodec_send_packet(ctx.get(), packet.get());
      if (avcodec_receive_frame(ctx.get(), frame.get()) < 0) continue;
      if (scale) {
        if (sws == nullptr) {
          sws.reset(sws_getContext(frame->width, frame->height,
                                   static_cast<AVPixelFormat>(frame->format), 640, 360,
                                   AV_PIX_FMT_BGRA, SWS_LANCZOS, nullptr, nullptr, nullptr));
        }
        sws_scale_frame(sws.get(), scaled.get(), frame.get());
        benchmark::DoNotOptimize(scaled->data[0]);
      }
      benchmark::DoNotOptimize(frame->data[0]);
      av_frame_unref(frame.get());
      ++pictures;
    }
  }
  codec_bench::ReportAllocations(state, scope, pictures);
  state.SetItemsProcessed(pictures);
}

#define CODEC_PAIR(name, stream, scale)                                               \
  BENCHMARK_CAPTURE(DecodeWithLibrary, name, stream, scale, 1)                        \
      ->Name("video_decode/" #name "/ours")                                           \
      ->Unit(benchmark::kMillisecond);                                                \
  BENCHMARK_CAPTURE(DecodeWithFfmpeg, name, stream, scale, 1)                         \
      ->Name("video_decode/" #name "/plain")                                          \
      ->Unit(benchmark::kMillisecond)

// The caller's thread only waits for the decoder's: its CPU time says nothing.
#define CODEC_WALL_ROW(name, stream, threads, row)                                    \
  BENCHMARK_CAPTURE(DecodeWithLibrary, name, stream, false, threads)                  \
      ->Name(row)                                                                     \
      ->UseRealTime()                                                                 \
      ->Unit(benchmark::kMillisecond)

#define CODEC_THREADED_PAIR(name, stream)                                             \
  CODEC_WALL_ROW(name, stream, 2, "video_decode/" #name "_frame_threads_2/ours");     \
  BENCHMARK_CAPTURE(DecodeWithFfmpeg, name, stream, false, 2)                         \
      ->Name("video_decode/" #name "_frame_threads_2/plain")                          \
      ->UseRealTime()                                                                 \
      ->Unit(benchmark::kMillisecond)

// Pictures a second in items_per_second; two streams run on two benchmark threads.
#define CODEC_SCALING(name, stream)                                                   \
  CODEC_WALL_ROW(name, stream, 1, "video_decode_scaling/" #name "/1_stream_1_thread");  \
  CODEC_WALL_ROW(name, stream, 2, "video_decode_scaling/" #name "/1_stream_2_threads"); \
  CODEC_WALL_ROW(name, stream, 1, "video_decode_scaling/" #name "/2_streams_1_thread_each") \
      ->Threads(2)

CODEC_PAIR(h264_1080p, kH264, false);
CODEC_PAIR(hevc_1080p, kHevc, false);
CODEC_PAIR(h264_1080p_to_640x360_bgra, kH264, true);
CODEC_THREADED_PAIR(h264_1080p, kH264);
CODEC_THREADED_PAIR(hevc_1080p, kHevc);
CODEC_SCALING(h264_1080p, kH264);
CODEC_SCALING(hevc_1080p, kHevc);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const codec_bench::QuietLog quiet;  // keeps the codec's lines off the table
  av_log_set_level(AV_LOG_ERROR);  // the encoders that make the streams are chatty
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
