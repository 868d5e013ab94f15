// Reading every packet of an MP4 file with H.264 and AAC through IMediaReader in decoder form
// against a plain libavformat loop doing the same work: "reader/<case>/ours" against
// "reader/<case>/plain". One call is a whole file: open, read every packet in the decoders'
// form (H.264 through "h264_mp4toannexb", AAC behind an ADTS header), close.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
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

// Opens the named encoder for a global-header stream, or null.
CodecCtxPtr OpenEncoder(const char* name, void (*set)(AVCodecContext*)) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  if (ctx == nullptr) return nullptr;
  set(ctx.get());
  ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Options options;
  options.Set("preset", "ultrafast");
  return avcodec_open2(ctx.get(), codec, options.Slot()) < 0 ? nullptr : std::move(ctx);
}

// Sends a frame (null drains) and writes what comes out to stream `index`.
bool EncodeInto(AVFormatContext* mux, int index, AVCodecContext* enc, const AVFrame* frame) {
  if (avcodec_send_frame(enc, frame) < 0) return false;
  for (PacketPtr packet(av_packet_alloc()); avcodec_receive_packet(enc, packet.get()) == 0;) {
    av_packet_rescale_ts(packet.get(), enc->time_base, mux->streams[index]->time_base);
    packet->stream_index = index;
    if (av_interleaved_write_frame(mux, packet.get()) < 0) return false;
  }
  return true;
}

// A file in the temporary directory, removed at exit.
struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) std::filesystem::remove(path);
  }
};

// 10 s of 320x240 H.264 and 44.1 kHz stereo AAC in an MP4 file, made once per process.
const std::string& Mp4File() {
  static const TempFile made{[] {
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("codec-reader-bench-" + std::to_string(getpid()) + ".mp4")).string();
    CodecCtxPtr video = OpenEncoder("libx264", [](AVCodecContext* c) {
      c->width = 320, c->height = 240, c->pix_fmt = AV_PIX_FMT_YUV420P, c->gop_size = 25;
      c->time_base = {1, 25}, c->thread_count = 1;
    });
    CodecCtxPtr audio = OpenEncoder("aac", [](AVCodecContext* c) {
      c->sample_fmt = AV_SAMPLE_FMT_FLTP, c->sample_rate = 44100, c->time_base = {1, 44100};
      av_channel_layout_default(&c->ch_layout, 2);
    });
    AVFormatContext* raw = nullptr;
    avformat_alloc_output_context2(&raw, nullptr, "mp4", file.c_str());
    codec_interface::OutputFormatCtxPtr mux(raw);
    if (video == nullptr || audio == nullptr || mux == nullptr) return std::string();
    for (AVCodecContext* enc : {video.get(), audio.get()}) {
      AVStream* st = avformat_new_stream(mux.get(), nullptr);
      avcodec_parameters_from_context(st->codecpar, enc);
      st->time_base = enc->time_base;
    }
    if (avio_open(&mux->pb, file.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(mux.get(), nullptr) < 0) {
      return std::string();
    }
    bool ok = true;
    for (int i = 0; ok && i < kFrames; ++i) {
      FramePtr picture = MakePicture(320, 240, AV_PIX_FMT_YUV420P, i);
      picture->pts = i;
      ok = EncodeInto(mux.get(), 0, video.get(), picture.get());
    }
    const int blocks = kFrames * 44100 / 25 / 1024;
    for (int i = 0; ok && i < blocks; ++i) {
      FramePtr tone = MakeToneFrame(AV_SAMPLE_FMT_FLTP, 44100, 2, 1024);
      tone->pts = int64_t{i} * 1024;
      ok = EncodeInto(mux.get(), 1, audio.get(), tone.get());
    }
    ok = ok && EncodeInto(mux.get(), 0, video.get(), nullptr) &&
         EncodeInto(mux.get(), 1, audio.get(), nullptr) && av_write_trailer(mux.get()) == 0;
    if (!ok) std::filesystem::remove(file);
    return ok ? file : std::string();
  }()};
  return made.path;
}

void ReadWithLibrary(benchmark::State& state) {
  const std::string& path = Mp4File();
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
  const std::string& path = Mp4File();
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
