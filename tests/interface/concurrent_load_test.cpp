// Many codecs at once, one thread per CPU, through the public interface only, while another
// thread probes hardware and replaces the process logger. Every codec must hand out exactly what
// it hands out alone, and no log line may go astray. (Resizing a decoder from another thread while
// it decodes is the threads test's.)

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "base/system.h"
#include "support/media.h"

namespace codec_interface {
namespace {

using codec_test::Bytes;

constexpr int kWidth = 160, kHeight = 96, kPictures = 16, kAudioPackets = 20;
constexpr const char* kAudioInit = "[CODE]audio codec init succ";

struct AudioKind {
  CodecType encoder, decoder;
  const char* ffmpeg;       // FFmpeg's encoder, for the packets our decoder is given
  int rate, samples;        // samples per packet
  SampleFormat encoderDst;  // what our encoder is asked to feed its codec
};
constexpr AudioKind kAudioKinds[] = {
    {AV_CODEC_TYPE_G711AENC, AV_CODEC_TYPE_G711ADEC, "pcm_alaw", 8000, 160, SAMPLE_FMT_S16},
    {AV_CODEC_TYPE_OPUSENC, AV_CODEC_TYPE_OPUSDEC, "libopus", 48000, 960, SAMPLE_FMT_NONE},
    {AV_CODEC_TYPE_AACENC, AV_CODEC_TYPE_AACDEC, "aac", 44100, 1024, SAMPLE_FMT_NONE},
};
constexpr int kRounds = std::size(kAudioKinds);

// Made once with plain FFmpeg before any thread starts, then only read.
struct Media {
  std::vector<Bytes> h264;      // FFmpeg's packets
  std::vector<Bytes> pictures;  // raw YUV420P pictures for our encoder
  std::vector<std::vector<Bytes>> pcm;    // per audio kind: mono S16 chunks for our encoder
  std::vector<std::vector<Bytes>> audio;  // per audio kind: FFmpeg's packets for our decoder
};

Media MakeMedia() {
  using namespace codec_test;
  Media media{EncodeVideo("libx264", kWidth, kHeight, kPictures).data, {}, {}, {}};
  for (int i = 0; i < kPictures; ++i) {
    media.pictures.push_back(PackPicture(MakePicture(kWidth, kHeight, AV_PIX_FMT_YUV420P, i).get()));
  }
  for (const AudioKind& kind : kAudioKinds) {
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, kind.rate, 1, kind.samples * kAudioPackets);
    std::vector<Bytes>& chunks = media.pcm.emplace_back();
    for (auto at = pcm.begin(); at != pcm.end(); at += kind.samples * 2) {
      chunks.emplace_back(at, at + kind.samples * 2);
    }
    const std::vector<Bytes> packets =
        EncodeTone(kind.ffmpeg, kind.rate, 1, kind.samples * kAudioPackets, kind.samples, 64000).data;
    media.audio.push_back(std::strcmp(kind.ffmpeg, "aac") == 0
                              ? WithAdtsHeaders(packets, kind.rate, 1) : packets);
  }
  return media;
}

// What one codec gave over a run: every call's result and a digest of every byte handed out.
struct Trace {
  std::vector<int> results;
  uint64_t digest = 14695981039346656037ull;  // FNV-1a

  void Add(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) digest = (digest ^ data[i]) * 1099511628211ull;
  }
  bool operator==(const Trace&) const = default;
};

// The audio codecs' Init lines in all the loggers: many of these replace each other while
// codecs log.
using Loggers = std::vector<std::shared_ptr<codec_test::CaptureLogger>>;
int Inits(const Loggers& loggers) {
  int count = 0;
  for (const auto& logger : loggers) count += int(std::ranges::count(logger->OwnLines(), codec_test::LogLine{20, kAudioInit}));
  return count;
}

// Opens a codec, gives it every input in turn (to Encode or to Decode), lets `each` look at every
// entry handed out and traces the results.
template <class Out>
Trace Drive(CodecType type, const CodecParam& param, const std::vector<Bytes>& inputs,
            bool encode, const std::function<void(Trace&, const Out&, int)>& each) {
  Trace trace;
  const std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(type);
  trace.results.push_back(codec->Init(type, param));
  Out out;
  for (Bytes input : inputs) {  // a copy: the calls take writable buffers
    const int size = static_cast<int>(input.size());
    trace.results.push_back(encode ? codec->Encode(input.data(), size, &out)
                                   : codec->Decode(input.data(), size, &out));
    for (int k = 0; k < out.m_nNum; ++k) each(trace, out, k);
    out.Clear();
  }
  return trace;  // dropped open: the destructor closes it
}

CodecParam AudioParam(const AudioKind& kind, bool decoder) {
  return codec_test::AudioParam(kind.rate, kind.rate, 1, 1, decoder ? SAMPLE_FMT_NONE : SAMPLE_FMT_S16,
                                decoder ? SAMPLE_FMT_S16 : kind.encoderDst, 64000);
}

// One worker's whole job: every round a question for the hardware probe on an adapter no
// one has asked about (every worker asks the same one at once), packets from the G.711 encoder
// all workers share (which the other thread closes and opens: each call finds it closed or gives
// one packet), then a new video decoder and encoder and an audio encoder and decoder of the
// round's kind, each driven through its stream and traced.
std::vector<Trace> Work(const Media& media, unsigned int adapter, ICodecInterface* shared) {
  std::vector<Trace> traces;
  for (int round = 0; round < kRounds; ++round) {
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_H264DEC_D3D11VA, adapter + round));
    for (Bytes chunk : shared ? media.pcm[0] : std::vector<Bytes>()) {  // A-law's 160 samples
      CAudioEncodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
      const int result = shared->Encode(chunk.data(), static_cast<int>(chunk.size()), &out);
      EXPECT_TRUE(result == -1 || (result == 1 && out.m_outData[0].nSize == 160)) << result;
    }
    traces.push_back(Drive<CVideoDecodeOutParam>(
        AV_CODEC_TYPE_H264DEC, codec_test::VideoParam(PIX_FMT_BGRA), media.h264, false,
        [](Trace& trace, const CVideoDecodeOutParam& out, int k) {
          const AVFrame* frame = out.m_pFrame[k];
          EXPECT_EQ(std::tuple(out.m_nWidth, out.m_nHeight, frame->linesize[0] >= 4 * kWidth),
                    std::tuple(kWidth, kHeight, true));
          for (int y = 0; y < kHeight; ++y) trace.Add(frame->data[0] + y * frame->linesize[0], 4 * kWidth);
        }));
    traces.push_back(Drive<CVideoEncodeOutParam>(
        AV_CODEC_TYPE_H264ENC, codec_test::VideoParam(PIX_FMT_YUV420P, kWidth, kHeight), media.pictures,
        true, [](Trace& trace, const CVideoEncodeOutParam& out, int k) {
          trace.Add(out.m_outData[k].pData, static_cast<size_t>(out.m_outData[k].nSize));
        }));
    const AudioKind& kind = kAudioKinds[round];
    traces.push_back(Drive<CAudioEncodeOutParam>(
        kind.encoder, AudioParam(kind, false), media.pcm[static_cast<size_t>(round)], true,
        [](Trace& trace, const CAudioEncodeOutParam& out, int k) {
          const AudioEncOutData& d = out.m_outData[k];
          trace.Add(d.byHeader, static_cast<size_t>(d.nHeaderSize));
          trace.Add(d.pData, static_cast<size_t>(d.nSize));
        }));
    traces.push_back(Drive<CAudioDecodeOutParam>(
        kind.decoder, AudioParam(kind, true), media.audio[static_cast<size_t>(round)], false,
        [](Trace& trace, const CAudioDecodeOutParam& out, int k) {
          // Mono S16: the samples without the plane's padding.
          trace.Add(out.m_outData[k].pData, static_cast<size_t>(out.m_pFrame[k]->nb_samples) * 2);
        }));
  }
  return traces;
}

TEST(LoadConcurrent, CodecsOnEveryCpuWhileProbingAndReplacingTheLogger) {
  const Media media = MakeMedia();
  ASSERT_EQ(media.h264.size(), static_cast<size_t>(kPictures));
  // The test's loggers are its own: the process logger comes back on every way out.
  struct Restore {
    std::shared_ptr<base::IBaseLogInterface> logger;
    ~Restore() { base::IBaseLogInterface::GetLogInstance(logger); }
  } restore{base::IBaseLogInterface::GetLogInstance(nullptr)};

  // Alone first: what each codec gives without company.
  Loggers loggers = {std::make_shared<codec_test::CaptureLogger>()};
  base::IBaseLogInterface::GetLogInstance(loggers[0]);
  const std::vector<Trace> alone = Work(media, 400, nullptr);
  ASSERT_EQ(Inits(loggers), 2 * kRounds);
  // Init gives 0, and every packet in one picture out, every picture one packet.
  std::vector<int> onePerCall(kPictures + 1, 1);
  onePerCall[0] = 0;
  for (size_t i = 0; i < alone.size(); ++i) {
    const Trace& trace = alone[i];
    ASSERT_GE(*std::min_element(trace.results.begin(), trace.results.end()), 0) << i;
    if (i % 4 < 2) { ASSERT_EQ(trace.results, onePerCall) << i; }
    ASSERT_NE(trace.digest, Trace{}.digest) << i;  // handed out bytes
  }

  const int workers = std::max(2, base::GetCpuCount());
  std::atomic<bool> done{false};
  const CodecParam g711 = AudioParam(kAudioKinds[0], false);
  const std::shared_ptr<ICodecInterface> shared = codec_test::OpenCodec(AV_CODEC_TYPE_G711AENC, g711);
  int sharedInits = 1;
  std::thread side([&] {
    unsigned int i = 0;
    do {
      shared->Uninit();
      sharedInits += shared->Init(AV_CODEC_TYPE_G711AENC, g711) == 0;
      base::IBaseLogInterface::GetLogInstance(
          loggers.emplace_back(std::make_shared<codec_test::CaptureLogger>()));
      // A new adapter each time, so each is a real probe and not an answer from the cache.
      ICodecInterface::Prepare(static_cast<HardwareDecoderType>(i % 4), 300 + i);
      EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_D3D12VA, 300 + i));
      ++i;
    } while (!done.load());
  });
  std::vector<std::vector<Trace>> together(static_cast<size_t>(workers));
  std::vector<std::thread> threads;
  for (auto& traces : together) {
    threads.emplace_back([&media, &traces, &shared] { traces = Work(media, 500, shared.get()); });
  }
  for (std::thread& thread : threads) thread.join();
  done = true;
  side.join();

  EXPECT_EQ(Inits(loggers), 2 * kRounds * (workers + 1) + sharedInits);  // the lines alone are still counted
  for (const std::vector<Trace>& traces : together) EXPECT_TRUE(traces == alone);
}

}  // namespace
}  // namespace codec_interface
