// ImageCopyToBuffer against FFmpeg's av_image_copy_to_buffer on the same 1080p picture, and a
// cached CheckHardwareDecode answer against the work it saves (opening a decoder and decoding
// the probe picture with plain libavcodec). The copies pair as "image/<case>/ours" and
// "image/<case>/plain"; the probe's two cases do different work on purpose and pair with nothing.
#include <benchmark/benchmark.h>

#include <vector>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void CopyWithLibrary(benchmark::State& state, AVPixelFormat format) {
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  out.m_pFrame[0] = MakePicture(kWidth, kHeight, format, 0).release();
  out.m_nNum = 1;
  const int size = av_image_get_buffer_size(format, kWidth, kHeight, 1);
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  const AllocationScope scope;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, 0));
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetBytesProcessed(state.iterations() * size);
}

void CopyWithFfmpeg(benchmark::State& state, AVPixelFormat format) {
  const FramePtr picture = MakePicture(kWidth, kHeight, format, 0);
  const int size = av_image_get_buffer_size(format, kWidth, kHeight, 1);
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  const AllocationScope scope;
  for (auto _ : state) {
    benchmark::DoNotOptimize(av_image_copy_to_buffer(buffer.data(), size, picture->data,
                                                     picture->linesize, format, kWidth,
                                                     kHeight, 1));
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetBytesProcessed(state.iterations() * size);
}

BENCHMARK_CAPTURE(CopyWithLibrary, yuv420p, AV_PIX_FMT_YUV420P)
    ->Name("image/copy_yuv420p_1080p/ours");
BENCHMARK_CAPTURE(CopyWithFfmpeg, yuv420p, AV_PIX_FMT_YUV420P)
    ->Name("image/copy_yuv420p_1080p/plain");
BENCHMARK_CAPTURE(CopyWithLibrary, bgra, AV_PIX_FMT_BGRA)->Name("image/copy_bgra_1080p/ours");
BENCHMARK_CAPTURE(CopyWithFfmpeg, bgra, AV_PIX_FMT_BGRA)->Name("image/copy_bgra_1080p/plain");

void CachedProbeAnswer(benchmark::State& state) {
  ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_H264DEC_D3D11VA, 0);  // fills the cache
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_H264DEC_D3D11VA, 0));
  }
}

// A picture of the probe's kind: one 144x256 H.264 picture with its parameter sets.
void DecodeProbePictureWithFfmpeg(benchmark::State& state) {
  static const std::vector<Bytes> encoded = EncodeVideo("libx264", 144, 256, 1);
  if (encoded.size() != 1) return state.SkipWithError("no probe picture");
  Bytes stream = encoded[0];
  stream.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
  const PacketPtr packet(av_packet_alloc());
  const FramePtr frame(av_frame_alloc());
  for (auto _ : state) {
    const CodecCtxPtr ctx(avcodec_alloc_context3(decoder));
    avcodec_open2(ctx.get(), decoder, nullptr);
    packet->data = stream.data();
    packet->size = static_cast<int>(encoded[0].size());
    avcodec_send_packet(ctx.get(), packet.get());
    benchmark::DoNotOptimize(avcodec_receive_frame(ctx.get(), frame.get()));
    av_frame_unref(frame.get());
  }
}

BENCHMARK(CachedProbeAnswer)->Name("probe/cached_answer");
BENCHMARK(DecodeProbePictureWithFfmpeg)->Name("probe/decode_probe_picture")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const QuietLog quiet;  // keeps the probe's lines out of the output
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
