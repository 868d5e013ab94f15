// Soak: one small H.264 stream decoded over and over and each picture encoded again, 100 000
// Decode and Encode calls through the public interface, with the resident memory before the
// first call, after a warm-up and at the end as counters. It must stay flat: anything the library
// kept per call would add up to megabytes here.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include "codec_interface.h"

namespace {

using namespace codec_interface;
using Bytes = std::vector<unsigned char>;

constexpr int kWidth = 96, kHeight = 64, kPictures = 25;
constexpr int64_t kIterations = 50000;  // one Decode and one Encode each
constexpr int64_t kWarmUp = 1000;

// Resident memory of this process in KiB.
double ResidentKib() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// A test picture: a gradient with a bar that moves, so that every picture differs.
void Paint(AVFrame* frame, int index) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool bar = (x + 4 * index) % kWidth < 8;
      frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(bar ? 235 : x + 2 * y);
    }
  }
  for (int plane = 1; plane < 3; ++plane) {
    for (int y = 0; y < kHeight / 2; ++y) {
      std::memset(frame->data[plane] + y * frame->linesize[plane], 64 * plane + index,
                  kWidth / 2);
    }
  }
}

// The stream, made by plain libx264 through libavcodec: Annex B packets, a key frame first.
std::vector<Bytes> MakeStream() {
  std::vector<Bytes> packets;
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  AVCodecContext* ctx = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  if (ctx != nullptr && frame != nullptr && packet != nullptr) {
    ctx->width = kWidth, ctx->height = kHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, 25};
    ctx->gop_size = kPictures;
    ctx->max_b_frames = 0;
    frame->format = ctx->pix_fmt, frame->width = kWidth, frame->height = kHeight;
    if (avcodec_open2(ctx, codec, nullptr) == 0 && av_frame_get_buffer(frame, 0) == 0) {
      for (int i = 0; i <= kPictures; ++i) {
        AVFrame* input = nullptr;
        if (i < kPictures && av_frame_make_writable(frame) == 0) {
          Paint(frame, i);
          frame->pts = i;
          input = frame;
        }
        avcodec_send_frame(ctx, input);  // null at the end: flush
        while (avcodec_receive_packet(ctx, packet) == 0) {
          packets.emplace_back(packet->data, packet->data + packet->size);
          av_packet_unref(packet);
        }
      }
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return packets;
}

void Soak(benchmark::State& state) {
  const std::vector<Bytes> stream = MakeStream();
  if (stream.size() != static_cast<size_t>(kPictures)) {
    state.SkipWithError("libx264 did not make the stream");
    return;
  }
  CodecParam decodeParam{};
  decodeParam.stVideo.ePixelFormat = PIX_FMT_YUV420P;
  CodecParam encodeParam{};
  VideoCodecParam& e = encodeParam.stVideo;
  e.ePixelFormat = PIX_FMT_YUV420P;
  e.nSrcWidth = kWidth, e.nSrcHeight = kHeight;
  e.nBitRate = 200000, e.nFrameRate = 25, e.nGopSize = kPictures;
  const double before = ResidentKib();
  auto decoder = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  auto encoder = ICodecInterface::Create(AV_CODEC_TYPE_H264ENC);
  if (decoder->Init(AV_CODEC_TYPE_H264DEC, decodeParam) != 0 ||
      encoder->Init(AV_CODEC_TYPE_H264ENC, encodeParam) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  PixelFormat format = PIX_FMT_NONE;
  Bytes picture(static_cast<size_t>(
      ICodecInterface::ImageGetBufferSize(PIX_FMT_YUV420P, format, kWidth, kHeight)));
  CVideoDecodeOutParam decoded;
  CVideoEncodeOutParam encoded;
  Bytes packet;
  int64_t call = 0, bytesOut = 0;
  double start = 0;
  for (auto _ : state) {
    if (call == kWarmUp) start = ResidentKib();
    packet = stream[static_cast<size_t>(call % kPictures)];
    const int pictures = decoder->Decode(packet.data(), static_cast<int>(packet.size()), &decoded);
    const int copied = pictures == 1 ? ICodecInterface::ImageCopyToBuffer(
                                           picture.data(), static_cast<int>(picture.size()),
                                           decoded, 0)
                                     : -1;
    decoded.Clear();
    const int packets =
        copied > 0 ? encoder->Encode(picture.data(), static_cast<int>(picture.size()), &encoded)
                   : -1;
    if (packets != 1) {
      state.SkipWithError("a call failed");
      break;
    }
    bytesOut += encoded.m_outData[0].nSize;
    encoded.Clear();
    ++call;
  }
  const double end = ResidentKib();
  decoder.reset();
  encoder.reset();
  state.counters["rss_before_kib"] = before;
  state.counters["rss_start_kib"] = start;
  state.counters["rss_end_kib"] = end;
  state.counters["rss_growth_kib"] = end - start;
  state.counters["calls"] = static_cast<double>(2 * call);
  benchmark::DoNotOptimize(bytesOut);
}

}  // namespace

BENCHMARK(Soak)->Iterations(kIterations)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
