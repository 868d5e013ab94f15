// Audio codec throughput and heap allocations per call, each case "audio/<case>/ours" against
// "audio/<case>/plain", a plain FFmpeg loop doing the same work. bench/ratios pairs them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "alloc_count.h"
#include "bench_media.h"
#include "codec_interface.h"

namespace {

using namespace codec_interface;
using namespace codec_bench;

constexpr int kWarmUpCalls = 300;
// FFmpeg's AAC encoder adapts its rate control over its first ~800 frames of this tone, and each
// frame costs up to four times more until then. A shorter warm-up leaves the timed calls on that
// slope, where a side that happens to run fewer iterations measures dearer frames: the pair then
// compares different work. Encoders therefore warm up past it.
constexpr int kEncoderWarmUpCalls = 1200;

// Interleaved PCM handed out chunk by chunk, round and round.
class PcmSource {
 public:
  PcmSource(AVSampleFormat format, int rate, int channels)
      : bytes_(MakeSinePcm(format, rate, channels, rate * 4)),
        sampleBytes_(av_get_bytes_per_sample(format) * channels) {}
  uint8_t* Next(int samples) {
    const size_t size = static_cast<size_t>(samples) * sampleBytes_;
    if (offset_ + size > bytes_.size()) offset_ = 0;
    uint8_t* chunk = bytes_.data() + offset_;
    offset_ += size;
    return chunk;
  }
  int SampleBytes() const { return sampleBytes_; }

 private:
  Bytes bytes_;
  int sampleBytes_;
  size_t offset_ = 0;
};

struct EncodeCase {
  const char* name;
  CodecType type;
  const char* encoder;
  AVSampleFormat src;
  int srcRate;
  int dstRate;
  int channels;
  int bitRate;
  int chunk;  // source samples per call
};

struct DecodeCase {
  const char* name;
  CodecType type;
  const char* encoder;  // FFmpeg encoder that makes the stream
  const char* decoder;
  int rate;
  int channels;
};

CodecParam Param(int srcRate, int dstRate, int channels, AVSampleFormat src, AVSampleFormat dst,
                 int bitRate) {
  CodecParam param{};
  param.stAudio = AudioCodecParam{srcRate, dstRate, channels, channels, 0, bitRate,
                                  static_cast<SampleFormat>(src), static_cast<SampleFormat>(dst),
                                  20};
  return param;
}

void Finish(benchmark::State& state, const AllocationScope& scope) {
  ReportAllocations(state, scope, state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------------------------
// The library.

void OursEncode(benchmark::State& state, const EncodeCase& c) {
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(c.type);
  const AVSampleFormat dst = c.type == AV_CODEC_TYPE_G711UENC ? AV_SAMPLE_FMT_S16
                                                             : AV_SAMPLE_FMT_NONE;
  if (codec->Init(c.type, Param(c.srcRate, c.dstRate, c.channels, c.src, dst, c.bitRate)) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  PcmSource source(c.src, c.srcRate, c.channels);
  const int bytes = c.chunk * source.SampleBytes();
  CAudioEncodeOutParam out;
  for (int i = 0; i < kEncoderWarmUpCalls; ++i) {
    codec->Encode(source.Next(c.chunk), bytes, &out);
    out.Clear();
  }
  AllocationScope scope;
  for (auto _ : state) {
    const int n = codec->Encode(source.Next(c.chunk), bytes, &out);
    for (int k = 0; k < n; ++k) benchmark::DoNotOptimize(out.m_outData[k].pData);
    out.Clear();
  }
  Finish(state, scope);
}

void OursDecode(benchmark::State& state, const DecodeCase& c, const std::vector<Bytes>& packets) {
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(c.type);
  if (codec->Init(c.type, Param(c.rate, c.rate, c.channels, AV_SAMPLE_FMT_NONE, AV_SAMPLE_FMT_S16,
                               0)) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  std::vector<Bytes> input = packets;
  CAudioDecodeOutParam out;
  size_t next = 0;
  auto call = [&] {
    Bytes& packet = input[next++ % input.size()];
    const int n = codec->Decode(packet.data(), static_cast<int>(packet.size()), &out);
    for (int k = 0; k < n; ++k) benchmark::DoNotOptimize(out.m_outData[k].pData);
    out.Clear();
  };
  for (int i = 0; i < kWarmUpCalls; ++i) call();
  AllocationScope scope;
  for (auto _ : state) call();
  Finish(state, scope);
}

// ---------------------------------------------------------------------------------------------
// Plain FFmpeg loops: the same conversion, framing and encoding (or decoding), written directly
// with reused objects.

class PlainEncoder {
 public:
  bool Open(const EncodeCase& c) {
    const AVCodec* codec = avcodec_find_encoder_by_name(c.encoder);
    if (codec == nullptr) return false;
    ctx_.reset(avcodec_alloc_context3(codec));
    const AVSampleFormat dst = std::string(c.encoder) == "aac" ? AV_SAMPLE_FMT_FLTP
                                                               : AV_SAMPLE_FMT_S16;
    ctx_->sample_fmt = dst;
    ctx_->sample_rate = c.dstRate;
    ctx_->bit_rate = c.bitRate;
    av_channel_layout_default(&ctx_->ch_layout, c.channels);
    Options options;
    options.Set("frame_duration", "20");
    if (avcodec_open2(ctx_.get(), codec, options.Slot()) < 0) return false;
    anySize_ = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    if (c.src != dst || c.srcRate != c.dstRate) {
      SwrContext* swr = nullptr;
      swr_alloc_set_opts2(&swr, &ctx_->ch_layout, dst, c.dstRate, &ctx_->ch_layout, c.src,
                          c.srcRate, 0, nullptr);
      swr_.reset(swr);
      if (swr_init(swr) < 0) return false;
    }
    const int capacity =
        static_cast<int>(av_rescale_rnd(c.chunk, c.dstRate, c.srcRate, AV_ROUND_UP)) + 64;
    converted_.reset(av_frame_alloc());
    converted_->format = dst;
    converted_->nb_samples = capacity;
    av_channel_layout_copy(&converted_->ch_layout, &ctx_->ch_layout);
    if (av_frame_get_buffer(converted_.get(), 0) < 0) return false;
    frame_.reset(av_frame_alloc());
    frame_->format = dst;
    frame_->nb_samples = anySize_ ? capacity : ctx_->frame_size;
    av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout);
    if (av_frame_get_buffer(frame_.get(), 0) < 0) return false;
    fifo_.reset(av_audio_fifo_alloc(dst, c.channels, capacity + ctx_->frame_size));
    packet_.reset(av_packet_alloc());
    if (std::string(c.encoder) == "aac") {
      AVBSFContext* bsf = nullptr;
      av_bsf_alloc(av_bsf_get_by_name("aac_adtstoasc"), &bsf);
      bsf_.reset(bsf);
      avcodec_parameters_from_context(bsf->par_in, ctx_.get());
      bsf->time_base_in = ctx_->time_base;
      if (av_bsf_init(bsf) < 0) return false;
    }
    return true;
  }

  // Out of line for the same reason as PlainDecodeCall.
  [[gnu::noinline]] int Push(uint8_t* data, int samples) {
    uint8_t** planes = &data;
    int n = samples;
    if (swr_ != nullptr) {
      const uint8_t* in[1] = {data};
      n = swr_convert(swr_.get(), converted_->extended_data, converted_->nb_samples, in, samples);
      planes = converted_->extended_data;
    }
    const int channels = ctx_->ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(frame_->format);
    if (anySize_ || (n == ctx_->frame_size && av_audio_fifo_size(fifo_.get()) == 0)) {
      av_frame_make_writable(frame_.get());
      frame_->nb_samples = n;
      av_samples_copy(frame_->extended_data, planes, 0, 0, n, channels, format);
      return Send();
    }
    av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), n);
    int packets = 0;
    while (av_audio_fifo_size(fifo_.get()) >= ctx_->frame_size) {
      av_frame_make_writable(frame_.get());
      av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->extended_data),
                         ctx_->frame_size);
      packets += Send();
    }
    return packets;
  }

 private:
  int Send() {
    if (avcodec_send_frame(ctx_.get(), frame_.get()) < 0) return 0;
    int packets = 0;
    while (avcodec_receive_packet(ctx_.get(), packet_.get()) == 0) {
      if (bsf_ != nullptr) {
        av_bsf_send_packet(bsf_.get(), packet_.get());
        av_bsf_receive_packet(bsf_.get(), packet_.get());
        WriteAdts(packet_->size);
      }
      benchmark::DoNotOptimize(packet_->data);
      av_packet_unref(packet_.get());
      ++packets;
    }
    return packets;
  }

  // The same 7 bytes a host gets before each AAC packet.
  void WriteAdts(int size) {
    static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
    const int index =
        static_cast<int>(std::find(std::begin(kRates), std::end(kRates), ctx_->sample_rate) -
                         std::begin(kRates));
    const unsigned config = static_cast<unsigned>(ctx_->ch_layout.nb_channels);
    const unsigned length = static_cast<unsigned>(size + 7) & 0x1FFF;
    header_[0] = 0xFF;
    header_[1] = 0xF1;
    header_[2] = static_cast<uint8_t>(0x40 | (index << 2) | (config >> 2));
    header_[3] = static_cast<uint8_t>(((config & 3) << 6) | (length >> 11));
    header_[4] = static_cast<uint8_t>(length >> 3);
    header_[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F);
    header_[6] = 0xFC;
    benchmark::DoNotOptimize(header_);
  }

  CodecCtxPtr ctx_;
  SwrPtr swr_;
  FramePtr converted_;
  FramePtr frame_;
  AudioFifoPtr fifo_;
  PacketPtr packet_;
  BsfCtxPtr bsf_;
  bool anySize_ = false;
  uint8_t header_[7] = {};
};

void PlainEncode(benchmark::State& state, const EncodeCase& c) {
  PlainEncoder encoder;
  if (!encoder.Open(c)) {
    state.SkipWithError("open failed");
    return;
  }
  PcmSource source(c.src, c.srcRate, c.channels);
  for (int i = 0; i < kEncoderWarmUpCalls; ++i) encoder.Push(source.Next(c.chunk), c.chunk);
  AllocationScope scope;
  for (auto _ : state) benchmark::DoNotOptimize(encoder.Push(source.Next(c.chunk), c.chunk));
  Finish(state, scope);
}

// One packet in, every picture out. Out of line, like the library's Decode, so that a profiler
// counts one call per iteration on both sides.
[[gnu::noinline]] void PlainDecodeCall(AVCodecContext* ctx, AVPacket* packet, AVFrame* frame,
                                       Bytes& bytes) {
  packet->data = bytes.data();
  packet->size = static_cast<int>(bytes.size());
  if (avcodec_send_packet(ctx, packet) < 0) return;
  while (avcodec_receive_frame(ctx, frame) == 0) {
    benchmark::DoNotOptimize(frame->data[0]);
    av_frame_unref(frame);
  }
}

void PlainDecode(benchmark::State& state, const DecodeCase& c, const std::vector<Bytes>& packets) {
  const AVCodec* codec = avcodec_find_decoder_by_name(c.decoder);
  CodecCtxPtr ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = c.rate;
  av_channel_layout_default(&ctx->ch_layout, c.channels);
  ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    state.SkipWithError("open failed");
    return;
  }
  std::vector<Bytes> input = packets;
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  size_t next = 0;
  auto call = [&] {
    PlainDecodeCall(ctx.get(), packet.get(), frame.get(), input[next++ % input.size()]);
  };
  for (int i = 0; i < kWarmUpCalls; ++i) call();
  AllocationScope scope;
  for (auto _ : state) call();
  Finish(state, scope);
}

std::vector<Bytes> MakeStream(const DecodeCase& c) {
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, c.rate, c.channels, c.rate * 2);
  return EncodeAudio(c.encoder, pcm, AV_SAMPLE_FMT_S16, c.rate, c.channels, 96000);
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  static const EncodeCase kEncodes[] = {
      {"aac_encode_1024", AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_S16, 48000, 48000, 2, 128000,
       1024},
      {"aac_encode_1000", AV_CODEC_TYPE_AACENC, "aac", AV_SAMPLE_FMT_S16, 48000, 48000, 2, 128000,
       1000},
      {"opus_encode_20ms", AV_CODEC_TYPE_OPUSENC, "libopus", AV_SAMPLE_FMT_S16, 48000, 48000, 2,
       96000, 960},
      {"g711_encode_20ms", AV_CODEC_TYPE_G711UENC, "pcm_mulaw", AV_SAMPLE_FMT_S16, 8000, 8000, 1, 0,
       160},
      {"g711_encode_48k_to_16k", AV_CODEC_TYPE_G711UENC, "pcm_mulaw", AV_SAMPLE_FMT_S16, 48000,
       16000, 1, 0, 1000},
  };
  static const DecodeCase kDecodes[] = {
      {"opus_decode_20ms", AV_CODEC_TYPE_OPUSDEC, "libopus", "libopus", 48000, 2},
      {"g711_decode_20ms", AV_CODEC_TYPE_G711UDEC, "pcm_mulaw", "pcm_mulaw", 8000, 1},
  };
  const auto name = [](const char* what, const char* side) {
    return std::string("audio/") + what + "/" + side;
  };
  for (const EncodeCase& c : kEncodes) {
    benchmark::RegisterBenchmark(name(c.name, "ours").c_str(), OursEncode, c);
    benchmark::RegisterBenchmark(name(c.name, "plain").c_str(), PlainEncode, c);
  }
  static std::vector<std::vector<Bytes>> streams;
  streams.reserve(std::size(kDecodes));
  for (const DecodeCase& c : kDecodes) {
    streams.push_back(MakeStream(c));
    const std::vector<Bytes>& packets = streams.back();
    benchmark::RegisterBenchmark(name(c.name, "ours").c_str(), OursDecode, c, packets);
    benchmark::RegisterBenchmark(name(c.name, "plain").c_str(), PlainDecode, c, packets);
  }
  benchmark::Initialize(&argc, argv);
  const QuietLog quiet;  // keeps the codec's open and close lines off the table
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
