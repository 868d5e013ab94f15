// Hardware decoding on a machine whose FFmpeg has none of the five device families: device
// creation and release, and the decode probe (false once per (type, adapter), then cached).
// The probe cache lives as long as the program, so each test uses adapters of its own. (Many
// threads asking the same new key at once is the load test's.)

#include <algorithm>
#include <climits>

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

// The table's row of a hardware type.
const std::tuple<CodecType, const char*, AVCodecID>& Row(int type) {
  return *std::ranges::find(kHwTypes, CodecType(type), [](const auto& e) { return std::get<0>(e); });
}

// Our line for the device failing as FFmpeg's own av_hwdevice_ctx_create says it does here.
LogLine DeviceFailed(const char* device) {
  AVBufferRef* ref = nullptr;
  const int err = av_hwdevice_ctx_create(&ref, av_hwdevice_find_type_by_name(device), nullptr, nullptr, 0);
  av_buffer_unref(&ref);
  return {60, "[CODE]av_hwdevice_ctx_create failed:" + ErrorText(err)};
}

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
  lines.insert(lines.end(), {DeviceFailed(device), {60, "[CODE]hw_decoder_init failed"}, {0, "[CODE]video codec uninit"}});
  return lines;
}

// One probe of a hardware decoder here, keyed as logged: Init fails as it does without the
// device, and the codec is released (its "uninit" line) before the verdict.
std::vector<LogLine> ProbeLines(int type, int adapter) {
  const std::string key =
      "[CODE]CheckHardwareDecode[" + std::to_string(type) + "][" + std::to_string(adapter) + "]";
  const auto& [t, device, codec] = Row(type);
  return std::vector<LogLine>{{0, key}} + HwInitLines(codec, device) +
         std::vector<LogLine>{{0, "[CODE]video codec uninit"}, {60, key + " Codec Init failed"}};
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

// Software and unknown types and families do nothing. Prepare probes a family's H.264, then its
// HEVC decoder, once per adapter; each hardware type fails its device.
TEST(HwDecode, PrepareProbesOncePerAdapter_EveryHardwareTypeFailsItsDevice) {
  ScopedLogCapture capture;
  for (int family : {4, -1, 100}) ICodecInterface::Prepare(HardwareDecoderType(family), 90);
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 21, -1, 99, INT_MAX}) {
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(CodecType(type), 1, 0, nullptr), nullptr);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(type), 90)) << type;
  }
  EXPECT_TRUE(capture->OwnLines().empty());
  const std::tuple<HardwareDecoderType, int, int> cases[] = {
      {HARDWARE_DECODER_DXVA2, 7, 4}, {HARDWARE_DECODER_D3D12VA, 8, 5},
      {HARDWARE_DECODER_D3D11VA, 9, 6}, {HARDWARE_DECODER_VIDEOTOOLBOX, 12, 13}};
  for (const auto& [family, h264, hevc] : cases) {
    SCOPED_TRACE(family);
    capture->Clear();
    for (unsigned int a : {120u, 121u, 120u, 4294967295u}) ICodecInterface::Prepare(family, a);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(hevc), 121));
    std::vector<LogLine> expected;
    for (int adapter : {120, 121, -1}) expected = expected + ProbeLines(h264, adapter) + ProbeLines(hevc, adapter);
    for (int type : {h264, hevc}) {
      EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(CodecType(type), 4294967295u, 0, nullptr), nullptr);
      expected = expected + std::vector<LogLine>{DeviceFailed(std::get<1>(Row(type))),
          {60, "[CODE]codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx hw_decoder_create failed"}};
    }
    EXPECT_EQ(capture->OwnLines(), expected);
  }
}

}  // namespace
