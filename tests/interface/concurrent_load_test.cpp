// Many codecs at once, one thread per CPU, through the public interface only, while another
// thread probes hardware, changes running decoders' output size and replaces the process logger.
// Every codec must hand out exactly what it hands out alone, and no log line may go astray.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/system.h"
#include "codec_interface.h"
#include "support/audio_media.h"
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
  std::vector<Bytes> pcm;       // per audio kind: mono S16 for our encoder
  std::vector<std::vector<Bytes>> audio;  // per audio kind: FFmpeg's packets for our decoder
};

Media MakeMedia() {
  Media media;
  media.h264 = codec_test::EncodeTestVideo("libx264", kWidth, kHeight, kPictures).packets;
  for (int i = 0; i < kPictures; ++i) {
    const FramePtr picture = codec_test::MakeTestPicture(kWidth, kHeight, AV_PIX_FMT_YUV420P, i);
    Bytes& bytes = media.pictures.emplace_back(
        av_image_get_buffer_size(AV_PIX_FMT_YUV420P, kWidth, kHeight, 1));
    av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), picture->data,
                            picture->linesize, AV_PIX_FMT_YUV420P, kWidth, kHeight, 1);
  }
  for (const AudioKind& kind : kAudioKinds) {
    const Bytes& pcm = media.pcm.emplace_back(
        codec_test::MakeSinePcm(AV_SAMPLE_FMT_S16, kind.rate, 1, kind.samples * kAudioPackets));
    std::vector<Bytes> packets =
        codec_test::EncodeTestAudio(kind.ffmpeg, pcm, AV_SAMPLE_FMT_S16, kind.rate, 1, 64000,
                                    kind.samples)
            .packets;
    if (std::strcmp(kind.ffmpeg, "aac") == 0) {
      packets = codec_test::WithAdtsHeaders(packets, kind.rate, 1);
    }
    media.audio.push_back(std::move(packets));
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

// Running video decoders, for the thread that changes their output size behind their back.
class DecoderBoard {
 public:
  struct Entry {
    std::weak_ptr<ICodecInterface> decoder;
    std::atomic<int> resizes{0};
  };
  std::shared_ptr<Entry> Publish(const std::shared_ptr<ICodecInterface>& decoder) {
    auto entry = std::make_shared<Entry>();
    entry->decoder = decoder;
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    return entry;
  }
  // Asks every live decoder for the size; their workers may be dropping them meanwhile, so the
  // last reference, and the destruction, may be this thread's.
  void Resize(const VideoEasyParam& param) {
    std::vector<std::shared_ptr<Entry>> entries;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      entries = entries_;
    }
    for (const auto& entry : entries) {
      if (const auto decoder = entry->decoder.lock()) {
        decoder->SetEasyParam(param);
        ++entry->resizes;
      }
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

// Counts the audio codecs' Init lines: many of these replace each other while codecs log.
class CountingLogger : public base::IBaseLogInterface {
 public:
  explicit CountingLogger(std::atomic<int>* inits) : inits_(inits) {}
  void PrintLog(const int& level, const int&, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5) {
    if (level == base::LOG_LEVEL_INFO && std::strcmp(format, kAudioInit) == 0) ++*inits_;
  }
  void VPrintLog(const int&, const int&, const char*, va_list) override BASE_PRINTF_LIKE(4, 0) {}

 private:
  std::atomic<int>* inits_;
};

CodecParam Zeroed() {
  CodecParam param;
  std::memset(&param, 0, sizeof param);
  return param;
}

// Decodes the stream into BGRA. With a board, the second half waits until the other thread has
// asked this decoder for a smaller size (it asks for nothing else), so those pictures must come
// out smaller; every picture keeps the stream's aspect ratio. Only the results are traced.
Trace DecodeVideo(const Media& media, DecoderBoard* board) {
  Trace trace;
  CodecParam param = Zeroed();
  param.stVideo.ePixelFormat = PIX_FMT_BGRA;
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  trace.results.push_back(codec->Init(AV_CODEC_TYPE_H264DEC, param));
  const auto entry = board != nullptr ? board->Publish(codec) : nullptr;
  CVideoDecodeOutParam out;
  for (size_t i = 0; i < media.h264.size(); ++i) {
    const bool smaller = entry != nullptr && i >= media.h264.size() / 2;
    if (smaller) {
      while (entry->resizes.load() == 0) std::this_thread::yield();
    }
    Bytes packet = media.h264[i];
    trace.results.push_back(codec->Decode(packet.data(), static_cast<int>(packet.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      const AVFrame* frame = out.m_pFrame[k];
      EXPECT_TRUE(frame->width == out.m_nWidth && frame->height == out.m_nHeight &&
                  out.m_nWidth * kHeight == out.m_nHeight * kWidth &&
                  (smaller ? out.m_nWidth < kWidth : out.m_nWidth <= kWidth) &&
                  out.m_ePixelFormat == PIX_FMT_BGRA)
          << i << ": " << out.m_nWidth << "x" << out.m_nHeight << " format "
          << out.m_ePixelFormat;
    }
    out.Clear();
  }
  codec->Uninit();
  return trace;
}

Trace EncodeVideo(const Media& media) {
  Trace trace;
  CodecParam param = Zeroed();
  VideoCodecParam& v = param.stVideo;
  v.ePixelFormat = PIX_FMT_YUV420P;
  v.nSrcWidth = kWidth, v.nSrcHeight = kHeight;
  v.nBitRate = 300000, v.nFrameRate = 25, v.nGopSize = 8;
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(AV_CODEC_TYPE_H264ENC);
  trace.results.push_back(codec->Init(AV_CODEC_TYPE_H264ENC, param));
  CVideoEncodeOutParam out;
  for (Bytes picture : media.pictures) {
    trace.results.push_back(
        codec->Encode(picture.data(), static_cast<int>(picture.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      trace.Add(out.m_outData[k].pData, static_cast<size_t>(out.m_outData[k].nSize));
    }
    out.Clear();
  }
  return trace;  // dropped open: the destructor closes it
}

CodecParam AudioParam(const AudioKind& kind, bool decoder) {
  CodecParam param = Zeroed();
  AudioCodecParam& a = param.stAudio;
  a.nSrcSampleRate = a.nDstSampleRate = kind.rate;
  a.nSrcChannels = a.nDstChannels = 1;
  a.eSrcSampleFormat = decoder ? SAMPLE_FMT_NONE : SAMPLE_FMT_S16;
  a.eDstSampleFormat = decoder ? SAMPLE_FMT_S16 : kind.encoderDst;
  a.nBitRate = 64000;
  return param;
}

Trace EncodeAudio(const Media& media, int kindIndex) {
  const AudioKind& kind = kAudioKinds[kindIndex];
  Trace trace;
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(kind.encoder);
  trace.results.push_back(codec->Init(kind.encoder, AudioParam(kind, false)));
  CAudioEncodeOutParam out;
  const Bytes& pcm = media.pcm[static_cast<size_t>(kindIndex)];
  const size_t chunk = static_cast<size_t>(kind.samples) * 2;
  for (size_t offset = 0; offset < pcm.size(); offset += chunk) {
    Bytes bytes(pcm.begin() + static_cast<long>(offset),
                pcm.begin() + static_cast<long>(offset + chunk));
    trace.results.push_back(codec->Encode(bytes.data(), static_cast<int>(bytes.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      const AudioEncOutData& d = out.m_outData[k];
      trace.Add(d.byHeader, static_cast<size_t>(d.nHeaderSize));
      trace.Add(d.pData, static_cast<size_t>(d.nSize));
    }
    out.Clear();
  }
  codec->Uninit();
  return trace;
}

Trace DecodeAudio(const Media& media, int kindIndex) {
  const AudioKind& kind = kAudioKinds[kindIndex];
  Trace trace;
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(kind.decoder);
  trace.results.push_back(codec->Init(kind.decoder, AudioParam(kind, true)));
  CAudioDecodeOutParam out;
  for (Bytes packet : media.audio[static_cast<size_t>(kindIndex)]) {
    trace.results.push_back(codec->Decode(packet.data(), static_cast<int>(packet.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      // Mono S16: the samples without the plane's padding.
      trace.Add(out.m_outData[k].pData, static_cast<size_t>(out.m_pFrame[k]->nb_samples) * 2);
    }
    out.Clear();
  }
  return trace;
}

// One worker's whole job: every round a new video decoder and encoder and an audio encoder and
// decoder of the round's kind, each driven through its stream.
std::vector<Trace> Work(const Media& media, DecoderBoard* board) {
  std::vector<Trace> traces;
  for (int round = 0; round < kRounds; ++round) {
    traces.push_back(DecodeVideo(media, board));
    traces.push_back(EncodeVideo(media));
    traces.push_back(EncodeAudio(media, round));
    traces.push_back(DecodeAudio(media, round));
  }
  return traces;
}

TEST(LoadConcurrent, CodecsOnEveryCpuWhileProbingResizingAndReplacingTheLogger) {
  const Media media = MakeMedia();
  ASSERT_EQ(media.h264.size(), static_cast<size_t>(kPictures));
  const std::shared_ptr<base::IBaseLogInterface> previous =
      base::IBaseLogInterface::GetLogInstance(nullptr);

  // Alone first: what each codec gives without company.
  std::atomic<int> inits{0};
  base::IBaseLogInterface::GetLogInstance(std::make_shared<CountingLogger>(&inits));
  const std::vector<Trace> alone = Work(media, nullptr);
  ASSERT_EQ(inits.load(), 2 * kRounds);
  // Init gives 0, and every packet in one picture out, every picture one packet.
  std::vector<int> onePerCall(kPictures + 1, 1);
  onePerCall[0] = 0;
  for (size_t i = 0; i < alone.size(); ++i) {
    SCOPED_TRACE(i);
    const Trace& trace = alone[i];
    ASSERT_GE(*std::min_element(trace.results.begin(), trace.results.end()), 0);
    if (i % 4 < 2) {
      ASSERT_EQ(trace.results, onePerCall);
    }
    if (i % 4 > 0) {
      ASSERT_NE(trace.digest, Trace{}.digest);  // handed out bytes
    }
  }

  const int workers = std::max(2, base::GetCpuCount());
  inits = 0;
  std::atomic<bool> done{false};
  DecoderBoard board;
  std::thread side([&] {
    constexpr VideoEasyParam kSizes[] = {{kWidth / 2, kHeight / 2, ""},
                                         {kWidth / 4, kHeight / 4, ""}};
    unsigned int i = 0;
    do {
      base::IBaseLogInterface::GetLogInstance(std::make_shared<CountingLogger>(&inits));
      // A new adapter each time, so each is a real probe and not an answer from the cache.
      ICodecInterface::Prepare(static_cast<HardwareDecoderType>(i % 4), 300 + i);
      EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_D3D12VA, 300 + i));
      board.Resize(kSizes[i % 2]);
      ++i;
    } while (!done.load());
  });
  std::vector<std::vector<Trace>> together(static_cast<size_t>(workers));
  std::vector<std::thread> threads;
  for (auto& traces : together) {
    threads.emplace_back([&media, &board, &traces] { traces = Work(media, &board); });
  }
  for (std::thread& thread : threads) thread.join();
  done = true;
  side.join();
  base::IBaseLogInterface::GetLogInstance(previous);

  EXPECT_EQ(inits.load(), 2 * kRounds * workers);
  for (const std::vector<Trace>& traces : together) EXPECT_TRUE(traces == alone);
}

}  // namespace
}  // namespace codec_interface
