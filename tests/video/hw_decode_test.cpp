// Hardware decoding on a machine whose FFmpeg has none of the five device families: device
// creation and release, and the decode probe (false once per (type, adapter), then cached).
// The probe cache lives as long as the program, so each test uses adapters of its own.

#include <algorithm>
#include <climits>
#include <thread>

#include "support/media.h"
#include "video/hw_device_rules.h"

namespace {

using namespace codec_test;

// Every hardware decoder but MediaCodec, whose device waits for the first packet, with the
// device type it asks FFmpeg for and its codec.
const std::tuple<CodecType, const char*, AVCodecID> kHwTypes[] = {
    {AV_CODEC_TYPE_HEVCDEC_DXVA2, "dxva2", AV_CODEC_ID_HEVC},   {AV_CODEC_TYPE_HEVCDEC_D3D12VA, "d3d12va", AV_CODEC_ID_HEVC},
    {AV_CODEC_TYPE_HEVCDEC_D3D11VA, "d3d11va", AV_CODEC_ID_HEVC}, {AV_CODEC_TYPE_H264DEC_DXVA2, "dxva2", AV_CODEC_ID_H264},
    {AV_CODEC_TYPE_H264DEC_D3D12VA, "d3d12va", AV_CODEC_ID_H264}, {AV_CODEC_TYPE_H264DEC_D3D11VA, "d3d11va", AV_CODEC_ID_H264},
    {AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, "videotoolbox", AV_CODEC_ID_H264},
    {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, "videotoolbox", AV_CODEC_ID_HEVC}};

// What a hardware decoder's Init logs on a machine without the device, as this FFmpeg build
// leads it: a debug line per configuration FFmpeg offers, up to the device's; then no usable
// configuration (a build without the family), or the device failing as FFmpeg says it does.
std::vector<LogLine> HwInitLines(AVCodecID codec, const char* device) {
  const AVHWDeviceType type = av_hwdevice_find_type_by_name(device);
  std::vector<LogLine> lines;
  for (int i = 0;; ++i) {
    const AVCodecHWConfig* config = avcodec_get_hw_config(avcodec_find_decoder(codec), i);
    if (config == nullptr) return lines.push_back({60, "[CODE]avcodec_get_hw_config failed"}), lines;
    lines.push_back({0, "[CODE]hw[" + std::to_string(config->device_type) + "]"});
    if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) && config->device_type == type) break;
  }
  AVBufferRef* ref = nullptr;
  const int err = av_hwdevice_ctx_create(&ref, type, nullptr, nullptr, 0);
  av_buffer_unref(&ref);
  lines.insert(lines.end(), {{60, "[CODE]av_hwdevice_ctx_create failed:" + ErrorText(err)},
                             {60, "[CODE]hw_decoder_init failed"}, {0, "[CODE]video codec uninit"}});
  return lines;
}

// One probe of a hardware decoder here, keyed as logged: Init fails as it does without the
// device, and the codec is released (its "uninit" line) before the verdict.
std::vector<LogLine> ProbeLines(int type, int adapter) {
  const std::string key =
      "[CODE]CheckHardwareDecode[" + std::to_string(type) + "][" + std::to_string(adapter) + "]";
  const auto& [t, device, codec] = *std::ranges::find(kHwTypes, CodecType(type), [](const auto& e) { return std::get<0>(e); });
  return std::vector<LogLine>{{0, key}} + HwInitLines(codec, device) +
         std::vector<LogLine>{{0, "[CODE]video codec uninit"}, {60, key + " Codec Init failed"}};
}

// Software and unknown types and families do nothing; each hardware type fails its device. (Its
// probe, once per key and then from the cache, is Prepare's and the concurrent test's.)
TEST(HwDecode, EveryHardwareTypeFailsItsDevice) {
  ScopedLogCapture capture;
  for (int family : {4, -1, 100}) ICodecInterface::Prepare(HardwareDecoderType(family), 90);
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 21, -1, 99, INT_MAX}) {
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(CodecType(type), 1, 0, nullptr), nullptr);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(type), 90)) << type;
  }
  EXPECT_TRUE(capture->OwnLines().empty());
  for (const auto& [type, device, codec] : kHwTypes) {
    AVBufferRef* ref = nullptr;  // FFmpeg's own answer for such a device here
    const int err = av_hwdevice_ctx_create(&ref, av_hwdevice_find_type_by_name(device), nullptr, nullptr, 0);
    capture->Clear();
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(type, 4294967295u, 0, nullptr), nullptr);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{
        {60, "[CODE]av_hwdevice_ctx_create failed:" + ErrorText(err)},
        {60, "[CODE]codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx hw_decoder_create failed"}})) << type;
  }
}

// The device rules, the same on every platform: expectations worked out by hand from the bytes
// and FFmpeg's device and surface enumerations.
TEST(HwDeviceRules, QueueCountDeviceStringSurfaceAndMediaCodecExtradata) {
  for (auto [asked, count] : {std::pair{1, 1}, {50, 50}, {0, 5}, {51, 5}, {-3, 5}}) EXPECT_EQ(CommandQueueCountFor(asked), count) << asked;
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_D3D12VA, 12) + HwDeviceString(AV_HWDEVICE_TYPE_DXVA2, 0), "120");
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_VIDEOTOOLBOX, 3) + HwDeviceString(AV_HWDEVICE_TYPE_CUDA, 3), "");
  const AVPixelFormat offered[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_D3D11, AV_PIX_FMT_DXVA2_VLD, AV_PIX_FMT_NONE, AV_PIX_FMT_D3D12};
  for (auto [device, surface] : {std::pair{AV_HWDEVICE_TYPE_DXVA2, AV_PIX_FMT_DXVA2_VLD}, {AV_HWDEVICE_TYPE_D3D11VA, AV_PIX_FMT_D3D11},
                                 {AV_HWDEVICE_TYPE_D3D12VA, AV_PIX_FMT_NONE}, {AV_HWDEVICE_TYPE_CUDA, AV_PIX_FMT_NONE}}) {
    EXPECT_EQ(PickHwSurfaceFormat(device, offered), surface) << device;  // nothing read past the list's end
  }
  EXPECT_EQ(PickHwSurfaceFormat(AV_HWDEVICE_TYPE_DXVA2, nullptr), AV_PIX_FMT_NONE);
  const std::pair<Bytes, int> packets[] = {
      {{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4}, 13},  // SPS and PPS before the slice
      {{0, 0, 1, 0x27, 1, 0, 0, 1, 0x28, 3}, 10},                                // no third start code: the whole packet
      {{0, 0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 3}, -1},                             // no second code of the same length
      {{0, 0, 0, 1, 0x65, 1, 0, 0, 0, 1, 0x68}, -1},                             // no SPS first
      {{0, 0, 1, 0x67, 0}, -1}};                                                 // shorter than six bytes
  for (const auto& [packet, size] : packets) EXPECT_EQ(MediaCodecExtradataSize(packet.data(), static_cast<int>(packet.size())), size) << packet.size();
}

TEST(HwDevice, ReleaseLogsTheCountThenDropsOneReference) {
  AVBufferRef* host = av_buffer_alloc(16);  // reference counting is all release looks at
  // A second holder's reference, then the last one (freed, or LeakSanitizer complains).
  void* handles[] = {nullptr, av_buffer_ref(host), host};
  ScopedLogCapture capture;
  ICodecInterface::ReleaseVideoHwDeviceCtx(nullptr);
  for (void*& handle : handles) {
    ICodecInterface::ReleaseVideoHwDeviceCtx(&handle);
    EXPECT_EQ(handle, nullptr);
  }
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{0, "[CODE]hw_device_ctx [2]"}, {0, "[CODE]hw_device_ctx [1]"}}));
}

TEST(Prepare, ProbesTheFamilysH264ThenHevcDecoderOncePerAdapter) {
  const std::tuple<HardwareDecoderType, int, int> cases[] = {
      {HARDWARE_DECODER_DXVA2, 7, 4}, {HARDWARE_DECODER_D3D12VA, 8, 5},
      {HARDWARE_DECODER_D3D11VA, 9, 6}, {HARDWARE_DECODER_VIDEOTOOLBOX, 12, 13}};
  for (const auto& [family, h264, hevc] : cases) {
    SCOPED_TRACE(family);
    ScopedLogCapture capture;
    for (unsigned int a : {120u, 121u, 120u, 4294967295u}) ICodecInterface::Prepare(family, a);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(hevc), 121));
    std::vector<LogLine> expected;
    for (int adapter : {120, 121, -1}) {
      expected = expected + ProbeLines(h264, adapter) + ProbeLines(hevc, adapter);
    }
    EXPECT_EQ(capture->OwnLines(), expected);
  }
}

TEST(CheckHardwareDecode, ConcurrentQuestionsProbeEachKeyOnceAndAgree) {
  constexpr int kKeys = 3 * 8, kThreads = 6;  // every hardware type on adapters 150 to 152
  ScopedLogCapture capture;
  std::vector<std::jthread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      // Every thread asks every key twice, in an order of its own, and prepares a family.
      for (int i = 0; i < 2 * kKeys; ++i) {
        const int k = (i + t * 5) % kKeys;
        EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(std::get<0>(kHwTypes[k % 8]), 150 + k / 8));
        if (i == kKeys) ICodecInterface::Prepare(HardwareDecoderType(t % 4), 150);
      }
    });
  }
  threads.clear();  // joins
  const std::vector<LogLine> lines = capture->OwnLines();
  for (int k = 0; k < kKeys; ++k) {
    const LogLine first = ProbeLines(std::get<0>(kHwTypes[k % 8]), 150 + k / 8)[0];
    // Probed, and never again once the answer was stored: at most once per thread.
    const auto count = std::count(lines.begin(), lines.end(), first);
    EXPECT_TRUE(count >= 1 && count <= kThreads) << first.second << " " << count;
  }
}

}  // namespace
