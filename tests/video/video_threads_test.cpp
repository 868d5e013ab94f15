// Decoder and encoder threads: frame-threaded pictures are the single-threaded ones, the delay is
// the one documented, and the defaults are today's.
#include <algorithm>
#include <atomic>
#include <thread>

#include "base/system.h"
#include "support/media.h"

namespace {

using namespace codec_test;

struct Decoded {
  std::vector<Bytes> pictures;                // packed, in the order handed out
  std::vector<size_t> first = {}, decoded = {};  // per pass: the first picture's packet; Decode's pictures
};

// Every packet, then the drain, twice with a Reset between; a count of 0 leaves the defaults.
Decoded DecodeAll(CodecType type, const std::vector<Bytes>& packets, int count, int kinds) {
  auto codec = ICodecInterface::Create(type);
  EXPECT_EQ(count > 0 ? ICodecInterface::SetThreads(*codec, count, kinds) : 0, 0);
  EXPECT_EQ(codec->Init(type, VideoParam(PIX_FMT_NONE)), 0);
  Decoded decoded;
  CVideoDecodeOutParam out;
  for (int pass = 0; pass < 2; ++pass) {
    decoded.first.push_back(packets.size()), decoded.decoded.push_back(0);
    for (size_t i = 0; i < packets.size(); ++i) {
      if (Decode(*codec, packets[i], out) < 1) continue;
      decoded.first.back() = std::min(decoded.first.back(), i), ++decoded.decoded.back();
      decoded.pictures.push_back(PackPicture(out.m_pFrame[0]));
    }
    while (ICodecInterface::Drain(*codec, &out) == 1) decoded.pictures.push_back(PackPicture(out.m_pFrame[0]));
    EXPECT_EQ(codec->Reset(VideoParam(PIX_FMT_NONE)), 0);
  }
  return decoded;
}

// B-frames and a size change mid-stream: every kind of threads hands out the single-threaded
// pictures, byte for byte, all of them once the drain is done, before and after a Reset.
TEST(VideoThreads, FrameAndSliceThreads_HandOutTheSingleThreadedPictures) {
  const std::tuple<CodecType, const char*, Options> streams[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", {{"bf", "2"}}},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", {{"x265-params", "log-level=error:bframes=2:b-adapt=0"}}}};
  for (const auto& [type, encoder, options] : streams) {
    const std::vector<Bytes> packets = EncodeVideo(encoder, 96, 64, 12, options).data + EncodeVideo(encoder, 160, 96, 12, options).data;
    const Decoded single = DecodeAll(type, packets, 1, CODEC_THREAD_FRAME);
    ASSERT_EQ(single.pictures.size(), 48u) << encoder;
    for (const auto& [count, kinds] : {std::pair<int, int>{2, CODEC_THREAD_FRAME}, {3, CODEC_THREAD_FRAME | CODEC_THREAD_SLICE}, {2, CODEC_THREAD_SLICE}}) {
      const Decoded threaded = DecodeAll(type, packets, count, kinds);
      EXPECT_TRUE(threaded.pictures == single.pictures) << encoder << " " << count << " threads of kinds " << kinds;
    }
  }
}

// The first picture comes out after one packet per frame thread past the first, and one a packet
// from then on; the defaults (one thread) hand it out with its own packet unless a host changed
// them, and an object's own choice beats them.
TEST(VideoThreads, FirstPictureWaitsOnePacketPerFrameThread_DefaultIsOneThread) {
  const std::vector<Bytes> packets = EncodeVideo("libx264", 64, 48, 8).data;
  const int cores = base::GetCpuCount();
  // The defaults, the object's own count and kinds (0: none), the packet of the first picture.
  const std::tuple<std::tuple<int, int, int>, int, int, size_t> cases[] = {
      {{1, 1, 0}, 0, 0, 0}, {{1, 1, 0}, 3, CODEC_THREAD_FRAME, 2}, {{1, 1, 0}, 2, CODEC_THREAD_SLICE, 0},
      {{2, CODEC_THREAD_FRAME, 2}, 0, 0, 1}, {{2, CODEC_THREAD_FRAME, 0}, 1, CODEC_THREAD_FRAME, 0},
      {{0, CODEC_THREAD_FRAME, 0}, 0, 0, size_t(cores - 1)}};
  for (const auto& [defaults, count, kinds, first] : cases) {
    ASSERT_EQ(std::apply(ICodecInterface::SetDefaultThreads, defaults), 0);
    const Decoded decoded = DecodeAll(AV_CODEC_TYPE_H264DEC, packets, count, kinds);
    EXPECT_EQ(decoded.first, std::vector<size_t>(2, first)) << count << " " << kinds << " " << std::get<0>(defaults);
    EXPECT_EQ(decoded.decoded, std::vector<size_t>(2, 8 - first));
    EXPECT_EQ(decoded.pictures.size(), 16u);
  }
  ASSERT_EQ(ICodecInterface::SetDefaultThreads(1, CODEC_THREAD_FRAME, 0), 0);
}

// Encoders with threads still hand out a packet for every picture; refused values name the cause.
TEST(VideoThreads, EncodersKeepNoDelay_RefusedValuesAreLogged) {
  for (CodecType type : {AV_CODEC_TYPE_H264ENC, AV_CODEC_TYPE_HEVCENC}) {
    auto codec = ICodecInterface::Create(type);
    ASSERT_EQ(ICodecInterface::SetThreads(*codec, 2, CODEC_THREAD_FRAME), 0);
    ASSERT_EQ(codec->Init(type, VideoParam(PIX_FMT_YUV420P, 64, 48)), 0);
    CVideoEncodeOutParam out;
    for (Bytes picture : {PackPicture(MakePicture(64, 48, AV_PIX_FMT_YUV420P, 0).get()), PackPicture(MakePicture(64, 48, AV_PIX_FMT_YUV420P, 1).get())}) {
      EXPECT_EQ(codec->Encode(picture.data(), static_cast<int>(picture.size()), &out), 1) << type;
    }
  }
  ScopedLogCapture capture;
  auto video = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC), audio = ICodecInterface::Create(AV_CODEC_TYPE_AACDEC);
  EXPECT_EQ((std::vector<int>{ICodecInterface::SetThreads(*video, -1, 1), ICodecInterface::SetThreads(*video, 2, 0),
                               ICodecInterface::SetThreads(*video, 2, 4), ICodecInterface::SetThreads(*audio, 2, 1),
                               ICodecInterface::SetDefaultThreads(2, 1, -3)}), std::vector<int>(5, -1));
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{60, "[CODE]SetThreads refuses -1 threads"}, {60, "[CODE]SetThreads refuses thread kinds 0"},
                                  {60, "[CODE]SetThreads refuses thread kinds 4"}, {60, "[CODE]SetThreads needs a video codec object"},
                                  {60, "[CODE]SetDefaultThreads refuses -3 threads"}}));
}

// Another thread changes the output size while frame threads decode: every picture has one of
// the two sizes, and ThreadSanitizer sees no race.
TEST(VideoThreads, ConcurrentEasyParamWhileFrameThreadsDecode) {
  const std::vector<Bytes> packets = EncodeVideo("libx264", 160, 96, 24).data;
  auto codec = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  ASSERT_EQ(ICodecInterface::SetThreads(*codec, 2, CODEC_THREAD_FRAME | CODEC_THREAD_SLICE), 0);
  ASSERT_EQ(codec->Init(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_RGB24)), 0);
  std::atomic<bool> done{false};
  std::thread resizer([&] {
    for (int i = 0; !done; ++i) codec->SetEasyParam(VideoEasyParam{i % 2 ? 80 : 160, i % 2 ? 48 : 96, {}});
  });
  CVideoDecodeOutParam out;
  int pictures = 0;
  for (int round = 0; round < 4; ++round) {
    for (const Bytes& packet : packets) {
      if (Decode(*codec, packet, out) != 1) continue;
      const auto size = std::pair(out.m_nWidth, out.m_nHeight);
      EXPECT_TRUE(size == std::pair(80, 48) || size == std::pair(160, 96)) << size.first << "x" << size.second;
      ++pictures;
    }
    while (ICodecInterface::Drain(*codec, &out) == 1) ++pictures;
  }
  done = true;
  resizer.join();
  EXPECT_EQ(pictures, 4 * 24);
}

}  // namespace
