#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>

#include "support/log_capture.h"
#include "support/media.h"

extern "C" {
#include <libavutil/display.h>
}

namespace {

using namespace codec_interface;
using namespace codec_test;

struct Packet { int stream; Bytes data; int64_t pts, dts, duration; bool key; };
struct Source { bool video; const char* codec; int rate, channels, frameSamples, padding; Bytes extradata; std::vector<Packet> packets; };

int64_t Us(int64_t t, AVRational tb) { return t == AV_NOPTS_VALUE ? MEDIA_NO_TIMESTAMP : av_rescale_q(t, tb, {1, 1000000}); }

// FFmpeg's encoder output as a host hands it over: microseconds, Annex B video without extradata.
Source From(const EncodedStream& s, int stream) {
  const bool video = s.params->codec_type == AVMEDIA_TYPE_VIDEO;
  Source out{video, avcodec_get_name(s.params->codec_id), s.params->sample_rate, s.params->ch_layout.nb_channels,
             s.params->frame_size, s.initialPadding, video ? Bytes() : Bytes(s.params->extradata, s.params->extradata + s.params->extradata_size), {}};
  for (size_t i = 0; i < s.packets.size(); ++i) {
    const AVPacket& p = *s.packets[i];
    out.packets.push_back({stream, s.data[i], Us(p.pts, s.timeBase), Us(p.dts, s.timeBase), Us(p.duration, s.timeBase), (p.flags & AV_PKT_FLAG_KEY) != 0});
  }
  return out;
}

int Add(IMediaWriter& writer, const Source& s, int rotation = 0) {
  if (s.video) {
    MediaVideoStreamParam v{};
    std::snprintf(v.szCodecName, sizeof v.szCodecName, "%s", s.codec);
    v.nWidth = 64, v.nHeight = 48, v.nFrameRateNum = 25, v.nFrameRateDen = 1, v.nRotation = rotation;
    return writer.AddVideoStream(v);
  }
  MediaAudioStreamParam a{};
  std::snprintf(a.szCodecName, sizeof a.szCodecName, "%s", s.codec);
  a.nSampleRate = s.rate, a.nChannels = s.channels, a.nFrameSamples = s.frameSamples, a.nInitialPadding = s.padding;
  a.pExtradata = s.extradata.empty() ? nullptr : s.extradata.data(), a.nExtradataSize = int(s.extradata.size());
  return writer.AddAudioStream(a);
}

// All packets in decoding-time order, as a recorder hands them out.
std::vector<Packet> Interleaved(const std::vector<const Source*>& sources) {
  std::vector<Packet> all;
  for (const Source* s : sources) all.insert(all.end(), s->packets.begin(), s->packets.end());
  std::stable_sort(all.begin(), all.end(), [](const Packet& a, const Packet& b) { return a.dts < b.dts; });
  return all;
}

int Write(IMediaWriter& writer, const Packet& p) {
  return writer.WritePacket(p.stream, p.data.data(), int(p.data.size()), p.pts, p.dts, p.duration, p.key);
}

// What plain libavformat and libavcodec make of every stream of a file.
struct Found { AVCodecID codec; int64_t startUs = 0, endUs = 0, decoded = 0, failures = 0; int rotation = 0; AVRational fps{0, 1}; int padding = 0; };
std::vector<Found> Inspect(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return {};
  InputFormatCtxPtr ctx(raw);
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return {};
  std::vector<Found> out;
  std::vector<CodecCtxPtr> decoders;
  for (AVStream* st : std::span(ctx->streams, ctx->nb_streams)) {
    const AVPacketSideData* side = av_packet_side_data_get(st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    out.push_back({st->codecpar->codec_id, INT64_MAX, INT64_MIN, 0, 0,
                   side ? int(std::lround(av_display_rotation_get(reinterpret_cast<const int32_t*>(side->data)))) : 0, st->avg_frame_rate, st->codecpar->initial_padding});
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    decoders.emplace_back(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoders.back().get(), st->codecpar);
    decoders.back()->pkt_timebase = st->time_base;
    EXPECT_EQ(avcodec_open2(decoders.back().get(), codec, nullptr), 0);
  }
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  auto drain = [&](size_t s, const AVPacket* p) {
    if (avcodec_send_packet(decoders[s].get(), p) < 0) ++out[s].failures;
    while (avcodec_receive_frame(decoders[s].get(), frame.get()) == 0) out[s].decoded += frame->nb_samples ? frame->nb_samples : 1;
  };
  while (av_read_frame(ctx.get(), packet.get()) >= 0) {
    const size_t s = size_t(packet->stream_index);
    const AVRational tb = ctx->streams[s]->time_base;
    if (packet->pts != AV_NOPTS_VALUE) {  // raw streams have no times
      out[s].startUs = std::min(out[s].startUs, Us(packet->pts, tb));
      out[s].endUs = std::max(out[s].endUs, Us(packet->pts + packet->duration, tb));
    }
    drain(s, packet.get());
    av_packet_unref(packet.get());
  }
  for (size_t s = 0; s < out.size(); ++s) drain(s, nullptr);
  return out;
}

struct Media {
  EncodedStream h264 = EncodeVideo("libx264", 64, 48, 25), hevc = EncodeVideo("libx265", 64, 48, 25);
  EncodedStream aac = EncodeTone("aac", 48000, 2, 48000), opus = EncodeTone("libopus", 48000, 2, 48000);
  EncodedStream alaw = EncodeTone("pcm_alaw", 8000, 1, 8000);
};
const Media& Sources() { static const Media media; return media; }

// Each container from FFmpeg's encoders' packets, read back by plain FFmpeg: every picture and
// every sample decodes, starts and durations within one frame, rotation and frame rate kept, the
// padding recorded where the container can (MP4/MOV edit list, Matroska delay, Ogg pre-skip).
TEST(MediaWriter, EveryContainerReadsBackInPlainFfmpeg) {
  const Media& m = Sources();
  const std::tuple<const char*, const char*, const EncodedStream*, const EncodedStream*, bool, int> cases[] = {
      {"a.mp4", nullptr, &m.h264, &m.aac, true, 0}, {"a.mov", "mov", &m.hevc, &m.aac, true, 0}, {"a.mkv", nullptr, &m.h264, &m.opus, true, 0},
      {"a.ts", "mpegts", &m.hevc, &m.aac, false, 0}, {"a.ogg", nullptr, nullptr, &m.opus, true, 0}, {"a.aac", nullptr, nullptr, &m.aac, false, 0},
      {"a.h264", nullptr, &m.h264, nullptr, false, 0}, {"a.hevc", "hevc", &m.hevc, nullptr, false, 0}, {"u.mov", nullptr, &m.h264, &m.alaw, false, 0},
      {"f.mp4", nullptr, &m.h264, &m.aac, true, MEDIA_WRITER_CRASH_SAFE}, {"o.mp4", nullptr, nullptr, &m.opus, true, MEDIA_WRITER_CRASH_SAFE}};
  for (const auto& [name, format, video, audio, trims, flags] : cases) {
    SCOPED_TRACE(name);
    const ScratchFile file(name);
    auto writer = IMediaWriter::Create();
    ASSERT_EQ(writer->Open(file.path.c_str(), format, {0, flags, 0}), 0);
    std::vector<Source> sources;
    for (const EncodedStream* s : {video, audio}) if (s) sources.push_back(From(*s, int(sources.size())));
    for (const Source& s : sources) ASSERT_EQ(Add(*writer, s, s.video ? 90 : 0), s.video ? 0 : int(sources.size()) - 1);
    std::vector<const Source*> all;
    for (const Source& s : sources) all.push_back(&s);
    for (const Packet& p : Interleaved(all)) ASSERT_EQ(Write(*writer, p), 0);
    ASSERT_EQ(writer->Close(), 0);
    const std::vector<Found> found = Inspect(file.path);
    ASSERT_EQ(found.size(), sources.size());
    for (size_t s = 0; s < sources.size(); ++s) {
      const Source& in = sources[s];
      const int64_t frameUs = in.video ? 40000 : int64_t(1000000) * std::max(in.frameSamples, 1024) / in.rate;
      const int64_t inEnd = in.packets.back().pts + in.packets.back().duration, inStart = in.video ? 0 : in.packets[0].pts;
      EXPECT_EQ(found[s].failures, 0);
      const std::string_view ending = std::string_view(name).substr(1);
      if (ending == ".h264" || ending == ".hevc") {
        EXPECT_EQ(found[s].decoded, 25);
        continue;
      }
      EXPECT_NEAR(double(found[s].endUs - found[s].startUs), double(inEnd - inStart), double(frameUs)) << s;
      EXPECT_NEAR(double(found[s].startUs), double(inStart), double(frameUs)) << s;
      if (in.video) {
        EXPECT_EQ(found[s].decoded, 25);
        if (ending == ".mov" || ending == ".mp4") {  // FFmpeg reads a quarter turn clockwise as -90
          EXPECT_EQ(std::tuple(found[s].rotation, av_q2d(found[s].fps)), std::tuple(-90, 25.0));
        }
      } else if (trims) {  // the container tells the decoder to drop the padding: the tone's samples come back
        EXPECT_LT(std::abs(found[s].decoded - in.rate), in.frameSamples) << s;
      }
    }
  }
}

// The library's own encoders: H.264 in Annex B (parameter sets in band, no extradata) and AAC
// with ADTS headers, into containers that need avcC and raw AAC with an AudioSpecificConfig.
TEST(MediaWriter, LibraryEncodersOutputIntoMp4AndMatroska) {
  auto video = OpenCodec(AV_CODEC_TYPE_H264ENC, VideoParam(PIX_FMT_YUV420P, 64, 48));
  auto audio = OpenCodec(AV_CODEC_TYPE_AACENC, AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000));
  Source v{true, "h264", 0, 0, 0, 0, {}, {}}, a{false, "aac", 48000, 2, 1024, 0, {}, {}};
  for (int i = 0; i < 25; ++i) {
    CVideoEncodeOutParam out;
    const Bytes picture = PackPicture(MakePicture(64, 48, AV_PIX_FMT_YUV420P, i).get());
    ASSERT_GE(video->Encode(const_cast<uint8_t*>(picture.data()), int(picture.size()), &out), 0);
    for (const VideoEncOutData& d : std::span(out.m_outData, out.m_nNum)) {
      const int64_t t = int64_t(v.packets.size()) * 40000;
      v.packets.push_back({0, Bytes(d.pData, d.pData + d.nSize), t, t, 40000, v.packets.size() % 10 == 0});
    }
  }
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000);
  for (size_t offset = 0; offset < pcm.size(); offset += 4096) {
    CAudioEncodeOutParam out;
    ASSERT_GE(audio->Encode(const_cast<uint8_t*>(pcm.data() + offset), 4096, &out), 0);
    for (const AudioEncOutData& d : std::span(out.m_outData, out.m_nNum)) {
      const int64_t t = int64_t(a.packets.size()) * 1024 * 1000000 / 48000;
      a.packets.push_back({1, Bytes(d.byHeader, d.byHeader + d.nHeaderSize) + Bytes(d.pData, d.pData + d.nSize), t, t, 21333, true});
    }
  }
  ASSERT_GT(v.packets.size(), 20u);
  for (const char* name : {"lib.mp4", "lib.mkv"}) {
    const ScratchFile file(name);
    auto writer = IMediaWriter::Create();
    ASSERT_EQ(writer->Open(file.path.c_str(), nullptr, {}), 0);
    ASSERT_EQ(Add(*writer, v), 0);
    ASSERT_EQ(Add(*writer, a), 1);
    for (const Packet& p : Interleaved({&v, &a})) ASSERT_EQ(Write(*writer, p), 0);
    ASSERT_EQ(writer->Close(), 0);
    const std::vector<Found> found = Inspect(file.path);
    ASSERT_EQ(found.size(), 2u) << name;
    EXPECT_EQ(std::tuple(found[0].decoded, found[0].failures, found[1].failures), std::tuple(int64_t(v.packets.size()), 0, 0)) << name;
    EXPECT_EQ(found[1].decoded, int64_t(a.packets.size()) * 1024) << name;
  }
}

// Refusals, each with its one line: a codec the container cannot hold, an unknown container,
// crash-safe mode outside MP4, a missing folder, a packet too far behind the newest, a
// decoding time going back; packets of two streams out of order within the window are fine.
TEST(MediaWriter, RefusalsNameTheirCause) {
  const Media& m = Sources();
  const Source v = From(m.h264, 0), a = From(m.aac, 1), alaw = From(m.alaw, 0);
  const ScratchFile file("refused.mp4");
  ScopedLogCapture log;
  auto writer = IMediaWriter::Create();
  EXPECT_EQ(writer->Open("/nonexistent-folder/x.mp4", nullptr, {}), -1);
  EXPECT_EQ(writer->Open(file.path.c_str(), "no-such-muxer", {}), -1);
  EXPECT_EQ(writer->Open((file.path + ".mkv").c_str(), nullptr, {0, MEDIA_WRITER_CRASH_SAFE, 0}), -1);
  ASSERT_EQ(writer->Open(file.path.c_str(), nullptr, {500000, 0, 0}), 0);
  EXPECT_EQ(Add(*writer, alaw), -1);
  ASSERT_EQ(Add(*writer, v), 0);
  ASSERT_EQ(Add(*writer, a), 1);
  // Pictures to 0.36 s, then the sound from -0.02 s: inside the 0.5 s window.
  for (size_t i = 0; i < 10; ++i) ASSERT_EQ(Write(*writer, v.packets[i]), 0);
  for (size_t i = 0; i < 20; ++i) ASSERT_EQ(Write(*writer, a.packets[i]), 0);
  for (size_t i = 10; i < 25; ++i) ASSERT_EQ(Write(*writer, v.packets[i]), 0);
  const Packet& late = a.packets[20];  // more than 0.5 s behind the last picture's 960000 us
  EXPECT_EQ(Write(*writer, late), -1);
  EXPECT_EQ(Write(*writer, v.packets[3]), -1);
  for (size_t i = 30; i < a.packets.size(); ++i) ASSERT_EQ(Write(*writer, a.packets[i]), 0);
  EXPECT_EQ(writer->Close(), 0);
  EXPECT_EQ(log->OwnLines(), (std::vector<LogLine>{
      {60, "[CODE]MediaWriter Open[/nonexistent-folder/x.mp4] failed: No such file or directory"},
      {60, "[CODE]MediaWriter Open[" + file.path + "] failed: no container no-such-muxer"},
      {60, "[CODE]MediaWriter Open[" + file.path + ".mkv] failed: crash-safe mode needs MP4 or MOV"},
      {60, "[CODE]MediaWriter AddStream[pcm_alaw] failed: the container cannot hold it"},
      {60, "[CODE]MediaWriter stream 1: packet at " + std::to_string(late.dts) + " us is " + std::to_string(960000 - late.dts) +
               " us behind the newest, past the 500000 us window"},
      {60, "[CODE]MediaWriter stream 0: decoding time " + std::to_string(v.packets[3].dts) + " us is not after the previous 960000 us"}}));
  const std::vector<Found> found = Inspect(file.path);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(std::tuple(found[0].decoded, found[0].failures), std::tuple(25, 0));
}

// Runs `body` in a child process; its exit status is what body returns (a check's number).
int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Files limited to a few kilobytes with SIGXFSZ ignored, so that writes fail with EFBIG as on a
// full disk: the writer reports it at the write (crash-safe files go out packet by packet) or at
// Close (a plain MP4 keeps it buffered), and the audio packer's close reports it too.
TEST(MediaWriter, FullDiskIsReportedAtTheFailingCall) {
  const Media& m = Sources();
  const Source v = From(m.h264, 0), a = From(m.aac, 1), opus = From(m.opus, 0);
  const ScratchFile file("full.mp4");
  const auto limited = [](const std::function<int(CaptureLogger&)>& body) {
    return InChild([&] {
      ScopedLogCapture log;
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 99;
      return body(*log.operator->());
    });
  };
  for (const int flags : {0, MEDIA_WRITER_CRASH_SAFE}) {
    EXPECT_EQ(limited([&](CaptureLogger& log) {
      auto writer = IMediaWriter::Create();
      if (writer->Open(file.path.c_str(), nullptr, {0, flags, 0}) != 0 || Add(*writer, v) != 0 || Add(*writer, a) != 1) return 1;
      int failed = 0;
      for (const Packet& p : Interleaved({&v, &a})) failed += Write(*writer, p) != 0;
      const int closed = writer->Close();
      const std::string line = flags ? "[CODE]MediaWriter stream 1: writing failed: File too large" : "[CODE]MediaWriter Close[" + file.path + "] failed: File too large";
      if ((failed > 0) != (flags != 0) || closed != -1) return 2;
      return log.OwnLines().at(0) == LogLine{60, line} ? 0 : 3;
    }), 0) << flags;
  }
  const auto pack = [&] {
    auto packer = IPackAudio::Create(AUDIO_FILE_PACK_OGG_OPUS);
    if (packer->Init(file.path.c_str(), 48000, 2, 960) != 0) return -2;
    for (const Packet& p : opus.packets) packer->WritePacket(const_cast<uint8_t*>(p.data.data()), int(p.data.size()));
    packer->Close();
    return IPackAudio::LastCloseResult(*packer);
  };
  EXPECT_EQ(pack(), 0);
  EXPECT_EQ(limited([&](CaptureLogger& log) {
    const LogLine line{60, "[CODE]av_write_trailer failed[-27]: File too large"};
    return pack() == -1 && std::ranges::count(log.OwnLines(), line) == 1 ? 0 : 1;
  }), 0);
}

// A recorder killed (SIGKILL) after some pictures: with crash-safe MP4 the file opens in plain
// FFmpeg and holds every picture but those of the fragment being written (a fragment is a key
// frame interval, 10 pictures), each decoding; without it the file does not open at all.
TEST(MediaWriter, KilledRecorderLeavesPlayableCrashSafeFile) {
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 100), aac = EncodeTone("aac", 48000, 2, 4 * 48000);
  const Source v = From(h264, 0), a = From(aac, 1);
  std::printf("| killed after | crash-safe: pictures, seconds | plain MP4 |\n");
  for (const int pictures : {5, 23, 47, 81}) {
    std::vector<Found> left[2];
    for (const int flags : {MEDIA_WRITER_CRASH_SAFE, 0}) {
      const ScratchFile file("killed.mp4");
      EXPECT_EQ(InChild([&] {
        auto writer = IMediaWriter::Create();
        if (writer->Open(file.path.c_str(), nullptr, {0, flags, 0}) != 0 || Add(*writer, v) != 0 || Add(*writer, a) != 1) return 1;
        for (const Packet& p : Interleaved({&v, &a})) {
          if (p.stream == 0 && p.dts >= pictures * 40000) raise(SIGKILL);
          if (Write(*writer, p) != 0) return 2;
        }
        return 3;
      }), 100 + SIGKILL);
      left[flags] = Inspect(file.path);
    }
    // Before the first fragment is complete there is nothing to play, not even the moov.
    ASSERT_EQ(left[1].size(), pictures < 10 ? 0u : 2u) << pictures;
    const Found video = left[1].empty() ? Found{} : left[1][0];
    EXPECT_EQ(video.failures, 0);
    EXPECT_EQ(video.decoded, pictures / 10 * 10) << pictures;
    if (video.decoded > 0) {
      EXPECT_NEAR(double(video.endUs - video.startUs), video.decoded * 40000.0, 40000.0);
    }
    EXPECT_TRUE(left[0].empty()) << pictures;
    std::printf("| %d pictures | %s%lld, %.2f s | %s |\n", pictures, left[1].empty() ? "does not open: " : "", static_cast<long long>(video.decoded),
                video.decoded > 0 ? (video.endUs - video.startUs) / 1e6 : 0.0, left[0].empty() ? "does not open" : "opens");
  }
}

}  // namespace
