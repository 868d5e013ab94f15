// Copying every packet of an MP4 file with 1080p H.264 and AAC into a new MP4 file: IMediaReader
// (stored form) into IMediaWriter against a plain libavformat remux loop doing the same work:
// "writer/<case>/ours" against "writer/<case>/plain". One call is a whole file: open both, copy
// every packet with its times (through microseconds, as a host's records carry them), finish.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kFrames = 125;  // 5 s at 25 fps

std::string OutputPath() {
  return (std::filesystem::temp_directory_path() /
          ("codec-writer-bench-" + std::to_string(getpid()) + ".mp4"))
      .string();
}

// The host's part of a copy: each stream of the reader set up in the writer as stored.
bool AddCopiedStream(IMediaWriter& writer, const MediaStreamInfo& info) {
  if (info.eKind == MEDIA_STREAM_VIDEO) {
    MediaVideoStreamParam v{};
    std::memcpy(v.szCodecName, info.szCodecName, sizeof v.szCodecName);
    v.nWidth = info.nWidth, v.nHeight = info.nHeight, v.nRotation = info.nRotation;
    v.nFrameRateNum = info.nFrameRateNum, v.nFrameRateDen = info.nFrameRateDen;
    v.nTimeBaseNum = info.nTimeBaseNum, v.nTimeBaseDen = info.nTimeBaseDen;
    v.pExtradata = info.pExtradata, v.nExtradataSize = info.nExtradataSize;
    return writer.AddVideoStream(v) == info.nIndex;
  }
  MediaAudioStreamParam a{};
  std::memcpy(a.szCodecName, info.szCodecName, sizeof a.szCodecName);
  a.nSampleRate = info.nSampleRate, a.nChannels = info.nChannels;
  a.nFrameSamples = info.nFrameSamples, a.nInitialPadding = info.nInitialPadding;
  a.nTimeBaseNum = info.nTimeBaseNum, a.nTimeBaseDen = info.nTimeBaseDen;
  a.pExtradata = info.pExtradata, a.nExtradataSize = info.nExtradataSize;
  return writer.AddAudioStream(a) == info.nIndex;
}

[[gnu::noinline]] bool CopyWithLibrary(IMediaReader& reader, IMediaWriter& writer,
                                       const std::string& in, const std::string& out) {
  if (reader.Open(in.c_str()) != 0 || reader.SetPacketForm(MEDIA_PACKET_FORM_STORED) != 0 ||
      writer.Open(out.c_str(), nullptr, MediaWriterOptions{}) != 0) {
    return false;
  }
  MediaFileInfo file{};
  reader.GetFileInfo(&file);
  for (int i = 0; i < file.nStreamCount; ++i) {
    MediaStreamInfo info{};
    if (reader.GetStreamInfo(i, &info) != 0 || !AddCopiedStream(writer, info)) return false;
  }
  MediaPacket p{};
  while (reader.ReadPacket(&p) == 1) {
    if (writer.WritePacket(p.nStreamIndex, p.pData, p.nSize, p.nPtsUs, p.nDtsUs, p.nDurationUs,
                           (p.nFlags & MEDIA_PACKET_KEY) != 0) != 0) {
      return false;
    }
  }
  reader.Close();
  return writer.Close() == 0;
}

// The library's side of a remux benchmark: the test file, the output, the reader and writer
// kept from file to file as a host keeps them.
struct LibraryRemux {
  const std::string& in = H264AacMp4(1920, 1080, kFrames);
  const std::string out = OutputPath();
  const std::shared_ptr<IMediaReader> reader = IMediaReader::Create();
  const std::shared_ptr<IMediaWriter> writer = IMediaWriter::Create();
  bool Copy() const { return CopyWithLibrary(*reader, *writer, in, out); }
  ~LibraryRemux() { std::filesystem::remove(out); }
};

void RemuxWithLibrary(benchmark::State& state) {
  const LibraryRemux remux;
  if (remux.in.empty()) return state.SkipWithError("no test file");
  const AllocationScope scope;
  for (auto _ : state) {
    if (!remux.Copy()) return state.SkipWithError("copy failed");
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// FFmpeg's remux loop: read, times through microseconds into the output's time base, the
// muxer's interleaving, trailer.
[[gnu::noinline]] bool CopyPlain(const std::string& in, const std::string& out, PacketPtr& packet) {
  AVFormatContext* rawIn = nullptr;
  if (avformat_open_input(&rawIn, in.c_str(), nullptr, nullptr) < 0) return false;
  InputFormatCtxPtr input(rawIn);
  AVFormatContext* rawOut = nullptr;
  avformat_alloc_output_context2(&rawOut, nullptr, nullptr, out.c_str());
  OutputFormatCtxPtr output(rawOut);
  if (avformat_find_stream_info(input.get(), nullptr) < 0 || output == nullptr) return false;
  for (AVStream* source : std::span(input->streams, input->nb_streams)) {
    AVStream* copy = avformat_new_stream(output.get(), nullptr);
    if (copy == nullptr || avcodec_parameters_copy(copy->codecpar, source->codecpar) < 0) {
      return false;
    }
    copy->time_base = source->time_base;
  }
  if (avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE) < 0 ||
      avformat_write_header(output.get(), nullptr) < 0) {
    return false;
  }
  constexpr AVRational kUs{1, 1000000};
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const AVRational tb = input->streams[packet->stream_index]->time_base;
    av_packet_rescale_ts(packet.get(), tb, kUs);
    av_packet_rescale_ts(packet.get(), kUs, output->streams[packet->stream_index]->time_base);
    if (av_interleaved_write_frame(output.get(), packet.get()) < 0) return false;
  }
  return av_write_trailer(output.get()) == 0;
}

void RemuxWithFfmpeg(benchmark::State& state) {
  const std::string& path = H264AacMp4(1920, 1080, kFrames);
  if (path.empty()) return state.SkipWithError("no test file");
  const std::string out = OutputPath();
  PacketPtr packet(av_packet_alloc());
  const AllocationScope scope;
  for (auto _ : state) {
    if (!CopyPlain(path, out, packet)) return state.SkipWithError("copy failed");
  }
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove(out);
}

// Both loops in turn, one file each, each call timed: a machine whose speed drifts over seconds
// (a shared virtual machine) slows both sides alike, which separate runs of a second each do
// not. Which side goes first alternates. Counters: each side's time per file, plain / ours of
// the sums, and the median of the pairs' plain / ours.
void RemuxAlternating(benchmark::State& state) {
  const LibraryRemux remux;
  if (remux.in.empty()) return state.SkipWithError("no test file");
  PacketPtr packet(av_packet_alloc());
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[2]{};  // ours, plain
  std::vector<double> pairRatios;
  bool oursFirst = true;
  for (auto _ : state) {
    Clock::duration pair[2]{};
    for (const bool ours : {oursFirst, !oursFirst}) {
      const Clock::time_point start = Clock::now();
      const bool copied = ours ? remux.Copy() : CopyPlain(remux.in, remux.out, packet);
      pair[ours ? 0 : 1] = Clock::now() - start;
      if (!copied) return state.SkipWithError("copy failed");
    }
    spent[0] += pair[0], spent[1] += pair[1];
    pairRatios.push_back(std::chrono::duration<double>(pair[1]) / pair[0]);
    oursFirst = !oursFirst;
  }
  const auto perFile = [&](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count() / double(state.iterations());
  };
  state.counters["ours_ms"] = perFile(spent[0]);
  state.counters["plain_ms"] = perFile(spent[1]);
  state.counters["ratio"] = perFile(spent[1]) / perFile(spent[0]);
  // The median of each pair's ratio: a file slowed by a passing load moves the sums above,
  // not this (two runs of the plain loop against itself agree within 0.1 %).
  const auto middle = pairRatios.begin() + std::ptrdiff_t(pairRatios.size() / 2);
  std::nth_element(pairRatios.begin(), middle, pairRatios.end());
  state.counters["ratio_median"] = *middle;
}

BENCHMARK(RemuxWithLibrary)
    ->Name("writer/mp4_1080p_h264_aac_5s/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RemuxWithFfmpeg)
    ->Name("writer/mp4_1080p_h264_aac_5s/plain")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RemuxAlternating)
    ->Name("writer/mp4_1080p_h264_aac_5s/alternating")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
