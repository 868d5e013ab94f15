// Converting through ITransCoder::Transcode against a plain libswscale / libswresample loop
// doing the same work with the same settings: "transcode/<case>/ours" against
// "transcode/<case>/plain". The library hands every result out as a new frame owned by the
// destination, so both loops make and free one frame per call: the same output on both sides.
#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

namespace {

using namespace codec_interface;
using namespace codec_bench;

TransCoderParam PictureParam() {
  TransCoderParam param{};
  param.eSrcPixelFormat = PIX_FMT_NV12;
  param.nSrcWidth = 1920;
  param.nSrcHeight = 1080;
  param.eDstPixelFormat = PIX_FMT_BGRA;
  param.nDstWidth = 1280;
  param.nDstHeight = 720;
  return param;
}

TransCoderParam SoundParam() {
  TransCoderParam param{};
  param.eSrcSampleFormat = SAMPLE_FMT_S16;
  param.nSrcSampleRate = 48000;
  param.nSrcChannels = 1;
  param.eDstSampleFormat = SAMPLE_FMT_S16;
  param.nDstSampleRate = 16000;
  param.nDstChannels = 1;
  return param;
}

const AVFrame* Nv12Picture() {
  static const FramePtr picture = MakePicture(1920, 1080, AV_PIX_FMT_NV12, 0);
  return picture.get();
}

const AVFrame* ToneBlock() {
  static const FramePtr block = MakeToneFrame(AV_SAMPLE_FMT_S16, 48000, 1, 960);
  return block.get();
}

// The library's loop: one set-up, then one Transcode (a new owned frame) and Clear per item.
template <class OutParam>
void TranscodeWithLibrary(benchmark::State& state, int kind, const TransCoderParam& param,
                          const AVFrame* source) {
  const std::shared_ptr<ITransCoder> trans = ITransCoder::Create();
  if (trans->Init(kind, param) != 0) return state.SkipWithError("Init failed");
  OutParam src(OUTPARAM_FLAG_NOT_USE_CACHE);
  src.m_pFrame[0] = av_frame_clone(source);
  src.m_nNum = 1;
  OutParam dst(OUTPARAM_FLAG_NOT_USE_CACHE);
  const AllocationScope scope;
  for (auto _ : state) {
    if (trans->Transcode(&src, 0, &dst) != 0) return state.SkipWithError("Transcode failed");
    benchmark::DoNotOptimize(dst.m_pFrame[0]->data[0]);
    dst.Clear();
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

void PictureWithLibrary(benchmark::State& state) {
  TranscodeWithLibrary<CVideoDecodeOutParam>(state, 0, PictureParam(), Nv12Picture());
}

void PictureWithFfmpeg(benchmark::State& state) {
  const AVFrame* src = Nv12Picture();
  SwsPtr sws(sws_getContext(1920, 1080, AV_PIX_FMT_NV12, 1280, 720, AV_PIX_FMT_BGRA,
                            SWS_LANCZOS, nullptr, nullptr, nullptr));
  const AllocationScope scope;
  for (auto _ : state) {
    FramePtr out(av_frame_alloc());
    out->format = AV_PIX_FMT_BGRA;
    out->width = 1280;
    out->height = 720;
    if (av_frame_get_buffer(out.get(), 1) < 0) return state.SkipWithError("no frame");
    sws_scale(sws.get(), src->data, src->linesize, 0, 1080, out->data, out->linesize);
    benchmark::DoNotOptimize(out->data[0]);
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

void SoundWithLibrary(benchmark::State& state) {
  TranscodeWithLibrary<CAudioDecodeOutParam>(state, 1, SoundParam(), ToneBlock());
}

// One block into a new frame, as a host would keep it. Out of line, like Transcode, so that a
// profiler counts one call per block on both sides.
[[gnu::noinline]] bool ConvertSound(SwrContext* swr, const AVChannelLayout& layout,
                                    const AVFrame* block) {
  FramePtr out(av_frame_alloc());
  out->format = AV_SAMPLE_FMT_S16;
  out->sample_rate = 16000;
  out->nb_samples = 320;
  av_channel_layout_copy(&out->ch_layout, &layout);
  if (av_frame_get_buffer(out.get(), 1) < 0) return false;
  benchmark::DoNotOptimize(
      swr_convert(swr, out->extended_data, 320, block->extended_data, block->nb_samples));
  return true;
}

void SoundWithFfmpeg(benchmark::State& state) {
  const AVFrame* block = ToneBlock();
  AVChannelLayout mono{};
  av_channel_layout_default(&mono, 1);
  SwrContext* raw = nullptr;
  swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, 16000, &mono, AV_SAMPLE_FMT_S16, 48000, 0,
                      nullptr);
  SwrPtr swr(raw);
  if (swr == nullptr || swr_init(swr.get()) < 0) return state.SkipWithError("swr_init failed");
  const AllocationScope scope;
  for (auto _ : state) {
    if (!ConvertSound(swr.get(), mono, block)) return state.SkipWithError("no frame");
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(PictureWithLibrary)->Name("transcode/picture_nv12_1080p_to_bgra_720p/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PictureWithFfmpeg)->Name("transcode/picture_nv12_1080p_to_bgra_720p/plain")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SoundWithLibrary)->Name("transcode/sound_48k_to_16k_960/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(SoundWithFfmpeg)->Name("transcode/sound_48k_to_16k_960/plain")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
