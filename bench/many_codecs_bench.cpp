// Many codecs at once: N hosts' decoders (and encoders) on N threads against N plain FFmpeg
// loops on N threads, N = 1, 2 and the CPU count. Each thread owns its codec, so the only thing
// the threads share is what the library shares between instances (the process logger, the
// FFmpeg log bridge, the probe cache, any lock of its own). If nothing serialises them, the
// ratio stays where it is at N = 1 and the total throughput grows with N up to the core count.
// Pairs "many/<case>_x<N>/ours" and "many/<case>_x<N>/plain"; the time per iteration is the wall
// time over the calls of all threads, so it falls as N grows while the cores keep up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "bench_media.h"
#include "codec_interface.h"

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kG711Samples = 160;  // 20 ms at 8 kHz

const std::vector<Bytes>& H264Stream() {
  static const std::vector<Bytes> video = EncodeVideo("libx264", kWidth, kHeight, 25);
  return video;
}

const Bytes& SpeechPcm() {
  static const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 8000, 1, 8000);
  return pcm;
}

void OursDecode(benchmark::State& state) {
  std::vector<Bytes> packets = H264Stream();  // Decode takes mutable bytes
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  if (packets.empty() || codec->Init(AV_CODEC_TYPE_H264DEC, CodecParam{}) != 0) {
    return state.SkipWithError("Init failed");
  }
  CVideoDecodeOutParam out;
  size_t i = 0;
  for (auto _ : state) {
    Bytes& packet = packets[i++ % packets.size()];
    benchmark::DoNotOptimize(codec->Decode(packet.data(), static_cast<int>(packet.size()), &out));
    out.Clear();
  }
  state.SetItemsProcessed(state.iterations());
}

void PlainDecode(benchmark::State& state) {
  const std::vector<Bytes>& packets = H264Stream();
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
  CodecCtxPtr ctx(avcodec_alloc_context3(decoder));
  if (packets.empty() || avcodec_open2(ctx.get(), decoder, nullptr) < 0) {
    return state.SkipWithError("avcodec_open2 failed");
  }
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& bytes = packets[i++ % packets.size()];
    packet->data = const_cast<uint8_t*>(bytes.data());
    packet->size = static_cast<int>(bytes.size());
    avcodec_send_packet(ctx.get(), packet.get());
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      benchmark::DoNotOptimize(frame->data[0]);
      av_frame_unref(frame.get());
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The next 20 ms of the tone, round and round.
uint8_t* NextChunk(Bytes& pcm, size_t& offset) {
  constexpr size_t kBytes = kG711Samples * 2;
  if (offset + kBytes > pcm.size()) offset = 0;
  uint8_t* chunk = pcm.data() + offset;
  offset += kBytes;
  return chunk;
}

void OursEncode(benchmark::State& state) {
  Bytes pcm = SpeechPcm();
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_G711UENC);
  CodecParam param{};
  param.stAudio = AudioCodecParam{8000, 8000, 1, 1, 0, 0, SAMPLE_FMT_S16, SAMPLE_FMT_S16, 20};
  if (codec->Init(AV_CODEC_TYPE_G711UENC, param) != 0) return state.SkipWithError("Init failed");
  CAudioEncodeOutParam out;
  size_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(codec->Encode(NextChunk(pcm, offset), kG711Samples * 2, &out));
    out.Clear();
  }
  state.SetItemsProcessed(state.iterations());
}

void PlainEncode(benchmark::State& state) {
  Bytes pcm = SpeechPcm();
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_MULAW);
  CodecCtxPtr ctx(avcodec_alloc_context3(encoder));
  ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  ctx->sample_rate = 8000;
  av_channel_layout_default(&ctx->ch_layout, 1);
  FramePtr frame(av_frame_alloc());
  frame->format = AV_SAMPLE_FMT_S16;
  frame->nb_samples = kG711Samples;
  av_channel_layout_default(&frame->ch_layout, 1);
  PacketPtr packet(av_packet_alloc());
  if (avcodec_open2(ctx.get(), encoder, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
    return state.SkipWithError("open failed");
  }
  size_t offset = 0;
  for (auto _ : state) {
    av_frame_make_writable(frame.get());
    std::copy_n(NextChunk(pcm, offset), kG711Samples * 2, frame->data[0]);
    avcodec_send_frame(ctx.get(), frame.get());
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      benchmark::DoNotOptimize(packet->data);
      av_packet_unref(packet.get());
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void RegisterPair(const char* what, void (*ours)(benchmark::State&),
                  void (*plain)(benchmark::State&), int threads) {
  const std::string path = std::string("many/") + what + "_x" + std::to_string(threads);
  benchmark::RegisterBenchmark((path + "/ours").c_str(), ours)->Threads(threads)->UseRealTime();
  benchmark::RegisterBenchmark((path + "/plain").c_str(), plain)->Threads(threads)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  // Made once before any thread starts, so no thread waits on another's set-up.
  H264Stream();
  SpeechPcm();
  std::vector<int> counts = {1, 2, static_cast<int>(std::thread::hardware_concurrency())};
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  for (const int n : counts) {
    if (n < 1) continue;
    RegisterPair("h264_decode_360p", OursDecode, PlainDecode, n);
    RegisterPair("g711_encode_20ms", OursEncode, PlainEncode, n);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const QuietLog quiet;  // keeps the codecs' open and close lines off the table
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
