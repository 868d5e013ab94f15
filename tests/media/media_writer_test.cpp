#include <signal.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include "support/media.h"

extern "C" {
#include <libavutil/display.h>
}

namespace {

using namespace codec_test;

struct Packet { int stream; Bytes data; int64_t pts, dts, duration; bool key; };
struct Source { bool video; const char* codec; int rate, channels, frameSamples, padding; Bytes extradata; std::vector<Packet> packets; };

int64_t Us(int64_t t, AVRational tb) { return t == AV_NOPTS_VALUE ? MEDIA_NO_TIMESTAMP : av_rescale_q(t, tb, {1, 1000000}); }

// FFmpeg's encoder output as a host hands it over: microseconds, Annex B video without extradata.
Source From(const EncodedStream& s, int stream) {
  const AVCodecParameters& par = *s.params;
  Source out{par.codec_type == AVMEDIA_TYPE_VIDEO, avcodec_get_name(par.codec_id), par.sample_rate, par.ch_layout.nb_channels, par.frame_size, s.initialPadding,
             par.codec_type == AVMEDIA_TYPE_VIDEO ? Bytes() : Bytes(par.extradata, par.extradata + par.extradata_size), {}};
  for (size_t i = 0; const PacketPtr& p : s.packets) out.packets.push_back({stream, s.data[i++], Us(p->pts, s.timeBase), Us(p->dts, s.timeBase), Us(p->duration, s.timeBase), (p->flags & AV_PKT_FLAG_KEY) != 0});
  return out;
}

// Pictures 64x48 at 25 per second to be turned a quarter clockwise; sound as encoded.
int Add(IMediaWriter& writer, const Source& s) {
  MediaVideoStreamParam v{"", 64, 48, 25, 1, 0, 0, 90, 0, nullptr};
  MediaAudioStreamParam a{"", s.rate, s.channels, s.frameSamples, s.padding, 0, 0, int(s.extradata.size()), 0, s.extradata.empty() ? nullptr : s.extradata.data()};
  std::snprintf(s.video ? v.szCodecName : a.szCodecName, sizeof v.szCodecName, "%s", s.codec);
  return s.video ? writer.AddVideoStream(v) : writer.AddAudioStream(a);
}

int Write(IMediaWriter& writer, const Packet& p) { return writer.WritePacket(p.stream, p.data.data(), int(p.data.size()), p.pts, p.dts, p.duration, p.key); }

// Writes the sources' packets in decoding-time order, as a recorder hands them out; kills the
// process at the first picture from `killAt` on. 0, or -1 at the first call that fails.
int Record(const std::string& path, const char* format, int flags, const std::vector<const Source*>& sources, [[maybe_unused]] int64_t killAt = INT64_MAX) {
  auto writer = IMediaWriter::Create();
  if (writer->Open(path.c_str(), format, {0, flags, 0}) != 0) return -1;
  std::vector<Packet> all;
  for (const Source* s : sources) all.insert(all.end(), s->packets.begin(), s->packets.end());
  if (std::ranges::any_of(sources, [&](const Source* s) { return Add(*writer, *s) != s->packets[0].stream; })) return -1;
  std::stable_sort(all.begin(), all.end(), [](const Packet& a, const Packet& b) { return a.dts < b.dts; });
  for (const Packet& p : all) {
#if !defined(_WIN32)  // killing the recorder is tried only where SIGKILL exists
    if (p.stream == 0 && p.dts >= killAt) raise(SIGKILL);
#endif
    if (Write(*writer, p) != 0) return -1;
  }
  return writer->Close();
}

// What plain libavformat and libavcodec make of every stream of a file (nothing when it does not open); a
// packet a decoder refuses fails the test.
struct Found { int64_t startUs = INT64_MAX, endUs = INT64_MIN, decoded = 0; int rotation = 0; double fps = 0; };
std::vector<Found> Inspect(const std::string& path) {
  AVFormatContext* raw = nullptr;
  const bool opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr) == 0;
  InputFormatCtxPtr ctx(raw);
  std::vector<Found> out;
  std::vector<CodecCtxPtr> decoders;
  if (!opened || avformat_find_stream_info(ctx.get(), nullptr) < 0) return out;
  for (AVStream* st : std::span(ctx->streams, ctx->nb_streams)) {
    const AVPacketSideData* side = av_packet_side_data_get(st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    out.push_back({.rotation = side ? int(av_display_rotation_get(reinterpret_cast<const int32_t*>(side->data))) : 0, .fps = av_q2d(st->avg_frame_rate)});
    const auto copy = [&](AVCodecContext* c) { avcodec_parameters_to_context(c, st->codecpar); };
    decoders.push_back(OpenContext(avcodec_find_decoder(st->codecpar->codec_id), copy));
  }
  PacketPtr packet(av_packet_alloc());
  for (bool more = true; more; av_packet_unref(packet.get())) {  // the pass after the last packet drains every decoder
    more = av_read_frame(ctx.get(), packet.get()) >= 0;
    for (size_t s = 0; s < out.size(); ++s) {
      if (more && size_t(packet->stream_index) != s) continue;
      const AVRational tb = ctx->streams[s]->time_base;
      if (more && packet->pts != AV_NOPTS_VALUE) out[s].startUs = std::min(out[s].startUs, Us(packet->pts, tb));  // raw streams have no times
      if (more && packet->pts != AV_NOPTS_VALUE) out[s].endUs = std::max(out[s].endUs, Us(packet->pts + packet->duration, tb));
      const std::vector<FramePtr> frames = SendReceive(decoders[s].get(), more ? packet.get() : nullptr);
      for (const FramePtr& frame : frames) out[s].decoded += frame->nb_samples ? frame->nb_samples : 1;
    }
  }
  return out;
}

struct Media {
  EncodedStream h264 = EncodeVideo("libx264", 64, 48, 25), hevc = EncodeVideo("libx265", 64, 48, 25), aac = EncodeTone("aac", 48000, 2, 48000),
                opus = EncodeTone("libopus", 48000, 2, 48000), alaw = EncodeTone("pcm_alaw", 8000, 1, 8000);
};
const Media& Sources() { static const Media media; return media; }

// What the library's AAC encoder hands out (ADTS header and payload), stamped by the host.
Source LibraryAac() {
  Source aac{false, "aac", 48000, 2, 1024, 0, {}, {}};
  auto encoder = OpenCodec(AV_CODEC_TYPE_AACENC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000));
  const EncodedRecords run = EncodeInChunks(*encoder, MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000), 4096);
  for (size_t i = 0; i < run.packets.size(); ++i) {
    const int64_t t = int64_t(i) * 1024 * 1000000 / 48000;
    aac.packets.push_back({1, run.headers[i] + run.packets[i], t, t, 21333, true});
  }
  return aac;
}

// Checks one file against its sources: every picture and sample decodes, starts and durations
// within one frame (containers with times), rotation and frame rate where MP4/MOV keep them, the
// tone's own samples only where the container records the padding (edit list, delay, pre-skip).
void ExpectLike(const std::string& path, const std::vector<const Source*>& sources, bool timed, bool trims, bool matrix) {
  const std::vector<Found> found = Inspect(path);
  ASSERT_EQ(found.size(), sources.size());
  for (size_t s = 0; s < found.size(); ++s) {
    const Source& in = *sources[s];
    const int64_t frameUs = in.video ? 40000 : int64_t(1000000) * std::max(in.frameSamples, 1024) / in.rate, inStart = in.video ? 0 : in.packets[0].pts,
                  inEnd = in.packets.back().pts + in.packets.back().duration;
    if (timed) { EXPECT_NEAR(double(found[s].endUs - found[s].startUs), double(inEnd - inStart), double(frameUs)) << s; EXPECT_NEAR(double(found[s].startUs), double(inStart), double(frameUs)) << s; }
    // FFmpeg reads a quarter turn clockwise as -90.
    if (in.video) { EXPECT_EQ(found[s].decoded, int64_t(in.packets.size())); if (matrix) { EXPECT_EQ(std::tuple(found[s].rotation, found[s].fps), std::tuple(-90, 25.0)); } }
    if (!in.video && trims) { EXPECT_LT(std::abs(found[s].decoded - in.rate), in.frameSamples) << s; }  // one second of tone
  }
}

// Every container from FFmpeg's encoders' packets (H.264 and HEVC in Annex B without extradata,
// as the library's video encoders hand them out too) and from the library's AAC encoder.
TEST(MediaWriter, EveryContainerReadsBackInPlainFfmpeg) {
  const Media& m = Sources();
  const Source h264 = From(m.h264, 0), hevc = From(m.hevc, 0), aac = From(m.aac, 1), opus = From(m.opus, 1), alaw = From(m.alaw, 1), aac0 = From(m.aac, 0), opus0 = From(m.opus, 0);
  const Source libAac = LibraryAac();
  const std::tuple<const char*, const char*, std::vector<const Source*>, int, bool, bool> cases[] = {  // flags, trims, timed
      {"a.mp4", nullptr, {&h264, &aac}, 0, true, true}, {"a.mov", "mov", {&hevc, &aac}, 0, true, true}, {"a.mkv", nullptr, {&h264, &opus}, 0, true, true},
      {"a.ts", "mpegts", {&hevc, &aac}, 0, false, true}, {"a.ogg", nullptr, {&opus0}, 0, true, true}, {"a.aac", nullptr, {&aac0}, 0, false, true},
      {"a.h264", nullptr, {&h264}, 0, false, false}, {"a.hevc", "hevc", {&hevc}, 0, false, false}, {"u.mov", nullptr, {&h264, &alaw}, 0, false, true},
      {"f.mp4", nullptr, {&h264, &aac}, MEDIA_WRITER_CRASH_SAFE, true, true}, {"o.mp4", nullptr, {&opus0}, MEDIA_WRITER_CRASH_SAFE, true, true},
      {"lib.mp4", nullptr, {&h264, &libAac}, 0, false, true}, {"lib.mkv", nullptr, {&h264, &libAac}, 0, false, true}};
  for (const auto& [name, format, sources, flags, trims, timed] : cases) {
    SCOPED_TRACE(name);
    const ScratchFile file(name);
    ASSERT_EQ(Record(file.path, format, flags, sources), 0);
    ExpectLike(file.path, sources, timed, trims, std::string_view(name).ends_with(".mp4") || std::string_view(name).ends_with(".mov"));
  }
}

// Refusals, each with its one line: a missing folder, an unknown container, crash-safe mode
// outside MP4, a codec the container cannot hold, a packet too far behind the newest, a decoding
// time going back. Sound 0.38 s behind the pictures (within the 0.5 s window) is interleaved.
TEST(MediaWriter, RefusalsNameTheirCause) {
  const Media& m = Sources();
  const Source v = From(m.h264, 0), a = From(m.aac, 1), alaw = From(m.alaw, 0);
  const ScratchFile file("refused.mp4");
  ScopedLogCapture log;
  auto writer = IMediaWriter::Create();
  for (const auto& [path, format, flags] : {std::tuple("/nonexistent-folder/x.mp4", "mp4", 0), {file.path.c_str(), "no-such-muxer", 0}, {file.path.c_str(), "matroska", MEDIA_WRITER_CRASH_SAFE}})
    EXPECT_EQ(writer->Open(path, format, {0, flags, 0}), -1);
  ASSERT_EQ(writer->Open(file.path.c_str(), nullptr, {500000, 0, 0}), 0);
  EXPECT_EQ(Add(*writer, alaw), -1);
  EXPECT_EQ(writer->AddVideoStream({"vp9", 64, 48, 25, 1, 0, 0, 0, 0, nullptr}), -1);  // MP4 describes it by facts the writer is not told
  for (int i = 0; const Source* s : {&v, &a}) ASSERT_EQ(Add(*writer, *s), i++);
  const auto writeAll = [&](const Source& s, size_t from, size_t to) { for (size_t i = from; i < to; ++i) ASSERT_EQ(Write(*writer, s.packets[i]), 0); };
  writeAll(v, 0, 10), writeAll(a, 0, 20), writeAll(v, 10, 25);
  const Packet& late = a.packets[20];  // more than 0.5 s behind the last picture's 960000 us
  for (const Packet* refused : {&late, &v.packets[3]}) EXPECT_EQ(Write(*writer, *refused), -1);
  writeAll(a, 30, a.packets.size());
  EXPECT_EQ(writer->Close(), 0);
  EXPECT_EQ(log->OwnLines(), (std::vector<LogLine>{
      {60, "[CODE]MediaWriter Open[/nonexistent-folder/x.mp4] failed: No such file or directory"},
      {60, "[CODE]MediaWriter Open[" + file.path + "] failed: no container no-such-muxer"},
      {60, "[CODE]MediaWriter Open[" + file.path + "] failed: crash-safe mode needs MP4 or MOV"},
      {60, "[CODE]MediaWriter AddStream[pcm_alaw] failed: the container cannot hold it"},
      {60, "[CODE]MediaWriter AddStream[vp9] failed: the writer cannot describe it in this container"},
      {60, "[CODE]MediaWriter stream 1: packet at " + std::to_string(late.dts) + " us is " + std::to_string(960000 - late.dts) + " us behind the newest, past the 500000 us window"},
      {60, "[CODE]MediaWriter stream 0: decoding time " + std::to_string(v.packets[3].dts) + " us is not after the previous 960000 us"}}));
  EXPECT_EQ(Inspect(file.path).at(0).decoded, 25);
}

// FFmpeg's H.264 packets in an MP4 at `path`, opened by `reader` as stored; that stream as a
// writer sets it up (its extradata is the reader's).
MediaVideoStreamParam OpenStoredH264(IMediaReader& reader, const std::string& path, bool write = true) {
  if (write) WriteMediaFile(path, "mp4", {&Sources().h264});
  MediaStreamInfo info{};
  EXPECT_TRUE(reader.Open(path.c_str()) == 0 && reader.SetPacketForm(MEDIA_PACKET_FORM_STORED) == 0 && reader.GetStreamInfo(0, &info) == 0);
  return {"h264", info.nWidth, info.nHeight, 25, 1, info.nTimeBaseNum, info.nTimeBaseDen, 0, info.nExtradataSize, info.pExtradata};
}

// A turn handed between two threads. (With MinGW's std::binary_semaphore this test once hung
// under Wine.)
struct Baton {
  std::mutex mutex;
  std::condition_variable handed;
  bool ready = false;
  void Release() { { const std::lock_guard lock(mutex); ready = true; } handed.notify_one(); }
  void Acquire() { std::unique_lock lock(mutex); handed.wait(lock, [this] { return ready; }); ready = false; }
};

// Packets copied from a reader keep the reader's bytes without a copy: written on another thread
// and by a second writer on the reader's, by that second writer closed while it waits for them,
// and after the reader is gone. The sound comes from a host buffer overwritten after every call,
// which the writer must have copied.
TEST(MediaWriter, ConcurrentCopiesKeepTheReadersBytes) {
  const Source a = From(Sources().aac, 1);
  const ScratchFile in("in.mp4"), out("out.mp4"), tee("tee.mp4");
  auto writer = IMediaWriter::Create(), second = IMediaWriter::Create();
  std::vector<Bytes> written[2], back[3];  // back[2]: the second writer's
  size_t sound = 0;
  {
    auto reader = IMediaReader::Create();
    const MediaVideoStreamParam v = OpenStoredH264(*reader, in.path);
    ASSERT_TRUE(writer->Open(out.path.c_str(), nullptr, {0, 0, 0}) == 0 && second->Open(tee.path.c_str(), nullptr, {0, 0, 0}) == 0);
    ASSERT_TRUE(writer->AddVideoStream(v) == 0 && Add(*writer, a) == 1 && second->AddVideoStream(v) == 0);
    MediaPacket p{};
    const auto put = [&p](IMediaWriter& w) { return w.WritePacket(0, p.pData, p.nSize, p.nPtsUs, p.nDtsUs, p.nDurationUs, p.nFlags & MEDIA_PACKET_KEY); };
    Baton readOne, wroteOne;
    std::thread writing([&] {
      for (int k = 0; (readOne.Acquire(), p.nSize > 0); ++k) {
        EXPECT_EQ(put(*writer), 0);
        wroteOne.Release();
        // Every other picture, sound while the reader hands the picture over; else the claim
        // waits for the reader's next read, with the second writer's on the same packet.
        if (k % 2 == 1) { EXPECT_EQ(Write(*writer, a.packets[sound++]), 0); }
      }
    });
    for (; reader->ReadPacket(&p) == 1; written[0].emplace_back(p.pData, p.pData + p.nSize)) {
      readOne.Release();
      if (written[0].size() < 10) { EXPECT_EQ(put(*second), 0); }
      wroteOne.Acquire();
      if (written[0].size() == 9) { EXPECT_EQ(second->Close(), 0); }
    }
    p.nSize = 0;
    readOne.Release();
    writing.join();
  }
  for (const Packet& p : a.packets) {
    Bytes buffer = written[1].emplace_back(p.data);
    if (written[1].size() > sound) { ASSERT_EQ(writer->WritePacket(1, buffer.data(), int(buffer.size()), p.pts, p.dts, p.duration, p.key), 0); }
    std::ranges::fill(buffer, 0xff);
  }
  ASSERT_EQ(writer->Close(), 0);
  for (const ReadBack::Packet& p : ReadMediaFile(out.path).packets) back[p.stream].push_back(p.data);
  for (const ReadBack::Packet& p : ReadMediaFile(tee.path).packets) back[2].push_back(p.data);
  EXPECT_TRUE(back[0] == written[0] && back[1] == written[1]);
  EXPECT_TRUE(back[2] == std::vector<Bytes>(written[0].begin(), written[0].begin() + 10));
}

// Copies on four threads at once, each from its own reader into its own writer, three files each,
// all through the one registry of lent bytes: every file holds its own reader's packets, whole.
TEST(MediaWriter, ConcurrentRemuxesEachKeepTheirOwnReadersBytes) {
  const ScratchFile in("in.mp4"), outs[] = {ScratchFile("c0.mp4"), ScratchFile("c1.mp4"), ScratchFile("c2.mp4"), ScratchFile("c3.mp4")};
  WriteMediaFile(in.path, "mp4", {&Sources().h264});
  std::vector<std::thread> copies;
  for (const ScratchFile& out : outs) {
    copies.emplace_back([&in, &out] {
      auto reader = IMediaReader::Create();
      auto writer = IMediaWriter::Create();
      for (int round = 0; round < 3; ++round, reader->Close()) {
        EXPECT_TRUE(writer->Open(out.path.c_str(), nullptr, {0, 0, 0}) == 0 && writer->AddVideoStream(OpenStoredH264(*reader, in.path, false)) == 0);
        for (MediaPacket p{}; reader->ReadPacket(&p) == 1;) EXPECT_EQ(writer->WritePacket(0, p.pData, p.nSize, p.nPtsUs, p.nDtsUs, p.nDurationUs, p.nFlags & MEDIA_PACKET_KEY), 0);
        EXPECT_EQ(writer->Close(), 0);
      }
    });
  }
  for (std::thread& copy : copies) copy.join();
  const auto bytes = [](const std::string& path) { std::vector<Bytes> all; for (const ReadBack::Packet& p : ReadMediaFile(path).packets) all.push_back(p.data); return all; };
  for (const ScratchFile& out : outs) EXPECT_TRUE(bytes(out.path) == bytes(in.path)) << out.path;
}

// A claimed packet that cannot go on for want of memory is dropped with a line naming its stream.
TEST(MediaWriter, ClaimedPacketWithoutMemoryNamesItsStream) {
  const Source a = From(Sources().aac, 0);
  const ScratchFile in("in.mp4"), out("out.mp4");
  auto reader = IMediaReader::Create();
  auto writer = IMediaWriter::Create();
  const MediaVideoStreamParam v = OpenStoredH264(*reader, in.path);
  ASSERT_TRUE(writer->Open(out.path.c_str(), nullptr, {0, 0, 0}) == 0 && Add(*writer, a) == 0);
  MediaPacket p{};
  ASSERT_TRUE(writer->AddVideoStream(v) == 1 && reader->ReadPacket(&p) == 1);
  ASSERT_EQ(writer->WritePacket(1, p.pData, p.nSize, p.nPtsUs, p.nDtsUs, p.nDurationUs, true), 0);  // claimed; waits for the sound
  ASSERT_EQ(reader->ReadPacket(&p), 1);  // hands its reference over
  ScopedLogCapture log;
  av_max_alloc(1);  // every allocation fails until the default comes back
  EXPECT_EQ(Write(*writer, a.packets[0]), -1);
  av_max_alloc(INT_MAX);
  EXPECT_EQ(log->OwnLines(), (std::vector<LogLine>{{60, "[CODE]MediaWriter stream 1: out of memory"}}));
}

#if !defined(_WIN32)
// Runs `body` in a child process, its files limited to `fileLimit` bytes with SIGXFSZ ignored
// (writes then fail with EFBIG, as on a full disk); its exit status is what body returns.
int InChild(const std::function<int()>& body, rlim_t fileLimit = RLIM_INFINITY) {
  const pid_t pid = fork();
  const rlimit limit{fileLimit, fileLimit};
  if (pid == 0) _exit(signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0 ? 99 : body());
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Files limited to 4 KiB: the writer reports it at the write (crash-safe files go out packet by
// packet) or at Close (a plain MP4 keeps it buffered); the audio packer's last close result and
// line tell it too.
TEST(MediaWriter, FullDiskIsReportedAtTheFailingCall) {
  const Media& m = Sources();
  const Source v = From(m.h264, 0), a = From(m.aac, 1), opus = From(m.opus, 0);
  const ScratchFile file("full.mp4");
  const auto limited = [](const std::function<bool()>& body, const std::string& line) {  // 0 when the body fails with the line
    return InChild([&] { ScopedLogCapture log; return body() && std::ranges::count(log->OwnLines(), LogLine{60, line}) == 1 ? 0 : 1; }, 4096); };
  EXPECT_EQ(limited([&] { return Record(file.path, nullptr, 0, {&v, &a}) == -1; }, "[CODE]MediaWriter Close[" + file.path + "] failed: File too large"), 0);
  EXPECT_EQ(limited([&] { return Record(file.path, nullptr, MEDIA_WRITER_CRASH_SAFE, {&v, &a}) == -1; }, "[CODE]MediaWriter stream 1: writing failed: File too large"), 0);
  const auto pack = [&] {
    auto packer = IPackAudio::Create(AUDIO_FILE_PACK_OGG_OPUS);
    EXPECT_EQ(packer->Init(file.path.c_str(), 48000, 2, 960), 0);
    for (const Packet& p : opus.packets) packer->WritePacket(const_cast<uint8_t*>(p.data.data()), int(p.data.size()));
    return packer->Close(), IPackAudio::LastCloseResult(*packer);
  };
  EXPECT_EQ(pack(), 0);
  EXPECT_EQ(limited([&] { return pack() == -1; }, "[CODE]av_write_trailer failed[-27]: File too large"), 0);
}

// A recorder killed (SIGKILL) after some pictures: with crash-safe MP4 the file opens in plain
// FFmpeg and holds every picture but those of the fragment being written (a fragment is a key
// frame interval, 10 pictures), each decoding; without it the file does not open at all.
TEST(MediaWriter, KilledRecorderLeavesPlayableCrashSafeFile) {
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 100), aac = EncodeTone("aac", 48000, 2, 4 * 48000);
  const Source v = From(h264, 0), a = From(aac, 1);
  for (const int pictures : {5, 23, 47, 81}) {
    std::vector<Found> left[2];
    for (const int flags : {MEDIA_WRITER_CRASH_SAFE, 0}) {
      const ScratchFile file("killed.mp4");
      EXPECT_EQ(InChild([&] { return Record(file.path, nullptr, flags, {&v, &a}, pictures * 40000) + 10; }), 100 + SIGKILL);  // never returns
      left[flags] = Inspect(file.path);
    }
    // Before the first fragment is complete there is nothing to play, not even the moov.
    ASSERT_EQ(std::pair(left[1].size(), left[0].size()), std::pair(size_t(pictures < 10 ? 0 : 2), size_t(0))) << pictures;  // plain MP4: no moov, no file
    const Found video = left[1].empty() ? Found{} : left[1][0];
    EXPECT_EQ(video.decoded, pictures / 10 * 10) << pictures;
    if (video.decoded > 0) { EXPECT_NEAR(double(video.endUs - video.startUs), video.decoded * 40000.0, 40000.0); }
  }
}

#else
// Windows has neither fork nor a per-process file size limit nor SIGKILL to leave a half-written file.
TEST(MediaWriter, FullDiskIsReportedAtTheFailingCall) { GTEST_SKIP() << "needs fork and RLIMIT_FSIZE, which Windows lacks"; }
TEST(MediaWriter, KilledRecorderLeavesPlayableCrashSafeFile) { GTEST_SKIP() << "needs fork and SIGKILL, which Windows lacks"; }
#endif

}  // namespace
