// Reading every packet of an MP4 file with H.264 and AAC through IMediaReader in decoder form
// against a plain libavformat loop doing the same work: "reader/<case>/ours" against
// "reader/<case>/plain". One call is a whole file: open, read every packet in the decoders'
// form (H.264 through "h264_mp4toannexb", AAC behind an ADTS header), close.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kFrames = 250;  // 10 s at 25 fps

void ReadWithLibrary(benchmark::State& state) {
  const std::string& path = H264AacMp4(320, 240, kFrames);
  if (path.empty()) return state.SkipWithError("no test file");
  const std::shared_ptr<IMediaReader> reader = IMediaReader::Create();
  const AllocationScope scope;
  for (auto _ : state) {
    if (reader->Open(path.c_str()) != 0) return state.SkipWithError("Open failed");
    MediaPacket packet{};
    while (reader->ReadPacket(&packet) == 1) benchmark::DoNotOptimize(packet.pData[0]);
    reader->Close();
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// The ADTS header fields from the first two bytes of an AAC-LC AudioSpecificConfig.
void WriteAdts(uint8_t* out, const uint8_t* asc, int payload) {
  const unsigned type = asc[0] >> 3, index = (asc[0] & 7) << 1 | asc[1] >> 7;
  const unsigned config = (asc[1] >> 3) & 0xF, length = static_cast<unsigned>(payload) + 7;
  out[0] = 0xFF, out[1] = 0xF1, out[2] = uint8_t((type - 1) << 6 | index << 2 | config >> 2);
  out[3] = uint8_t((config & 3) << 6 | length >> 11), out[4] = uint8_t(length >> 3);
  out[5] = uint8_t((length & 7) << 5 | 0x1F), out[6] = 0xFC;
}

[[gnu::noinline]] bool ReadPlain(const std::string& path, PacketPtr& packet, PacketPtr& filtered,
                                 Bytes& frame) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
  codec_interface::InputFormatCtxPtr ctx(raw);
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return false;
  AVBSFContext* rawBsf = nullptr;
  if (av_bsf_alloc(av_bsf_get_by_name("h264_mp4toannexb"), &rawBsf) < 0) return false;
  BsfCtxPtr bsf(rawBsf);
  avcodec_parameters_copy(bsf->par_in, ctx->streams[0]->codecpar);
  bsf->time_base_in = ctx->streams[0]->time_base;
  if (av_bsf_init(bsf.get()) < 0) return false;
  const uint8_t* asc = ctx->streams[1]->codecpar->extradata;
  while (av_read_frame(ctx.get(), packet.get()) >= 0) {
    // The times in microseconds, as the reader's records carry them.
    const AVRational tb = ctx->streams[packet->stream_index]->time_base;
    benchmark::DoNotOptimize(av_rescale_q(packet->pts, tb, {1, 1000000}));
    benchmark::DoNotOptimize(av_rescale_q(packet->dts, tb, {1, 1000000}));
    benchmark::DoNotOptimize(av_rescale_q(packet->duration, tb, {1, 1000000}));
    if (packet->stream_index == 0) {
      av_packet_unref(filtered.get());
      if (av_bsf_send_packet(bsf.get(), packet.get()) < 0 ||
          av_bsf_receive_packet(bsf.get(), filtered.get()) < 0) {
        return false;
      }
      benchmark::DoNotOptimize(filtered->data[0]);
    } else if (packet->size > 0) {
      frame.resize(static_cast<size_t>(packet->size) + 7);
      WriteAdts(frame.data(), asc, packet->size);
      std::memcpy(frame.data() + 7, packet->data, static_cast<size_t>(packet->size));
      benchmark::DoNotOptimize(frame[0]);
    }
    av_packet_unref(packet.get());
  }
  return true;
}

void ReadWithFfmpeg(benchmark::State& state) {
  const std::string& path = H264AacMp4(320, 240, kFrames);
  if (path.empty()) return state.SkipWithError("no test file");
  PacketPtr packet(av_packet_alloc()), filtered(av_packet_alloc());
  Bytes frame;
  const AllocationScope scope;
  for (auto _ : state) {
    if (!ReadPlain(path, packet, filtered, frame)) return state.SkipWithError("read failed");
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ReadWithLibrary)->Name("reader/mp4_h264_aac_10s/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadWithFfmpeg)->Name("reader/mp4_h264_aac_10s/plain")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
