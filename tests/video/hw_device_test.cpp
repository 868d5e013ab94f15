// The device-independent hardware rules called directly, and device creation, release and the
// MediaCodec set-up on a machine whose FFmpeg has none of the five device families.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "base/system.h"
#include "interface/log.h"
#include "support/log_capture.h"
#include "video/hw_device_rules.h"
#include "video/hw_probe.h"
#include "video_codec_peer.h"

namespace {

using namespace codec_interface;
using codec_test::LogLine;
using codec_test::ScopedLogCapture;
using Bytes = std::vector<uint8_t>;

TEST(HwDeviceRules, DeviceStringAndCommandQueueCount) {
  const std::tuple<AVHWDeviceType, unsigned int, const char*, int, int> cases[] = {
      {AV_HWDEVICE_TYPE_DXVA2, 2, "2", 0, 5},
      {AV_HWDEVICE_TYPE_D3D11VA, 4294967295u, "4294967295", 1, 1},  // unsigned, never "-1"
      {AV_HWDEVICE_TYPE_D3D12VA, 13, "13", 50, 50},
      {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, 2, "", 51, 5},
      {AV_HWDEVICE_TYPE_MEDIACODEC, 2, "", -1, 5},
      {AV_HWDEVICE_TYPE_NONE, 7, "", 1 << 30, 5}};
  for (const auto& [type, adapter, device, count, used] : cases) {
    SCOPED_TRACE(testing::Message() << type << " " << count);
    EXPECT_EQ(HwDeviceString(type, adapter), device);
    EXPECT_EQ(CommandQueueCountFor(count), used);
  }
}

TEST(HwDeviceRules, SurfaceFormatIsTheDevicesAmongTheOffered) {
  // FFmpeg offers the hardware formats it can use, then the software fallback.
  const AVPixelFormat all[] = {
      AV_PIX_FMT_D3D12,     AV_PIX_FMT_MEDIACODEC,  AV_PIX_FMT_D3D11,   AV_PIX_FMT_VIDEOTOOLBOX,
      AV_PIX_FMT_DXVA2_VLD, AV_PIX_FMT_D3D11VA_VLD, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  const AVPixelFormat cut[] = {AV_PIX_FMT_NV12, AV_PIX_FMT_NONE, AV_PIX_FMT_DXVA2_VLD};
  const std::tuple<AVHWDeviceType, const AVPixelFormat*, AVPixelFormat> cases[] = {
      {AV_HWDEVICE_TYPE_DXVA2, all, AV_PIX_FMT_DXVA2_VLD},
      {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, all, AV_PIX_FMT_VIDEOTOOLBOX},
      {AV_HWDEVICE_TYPE_D3D11VA, all, AV_PIX_FMT_D3D11},  // not the old D3D11VA_VLD
      {AV_HWDEVICE_TYPE_MEDIACODEC, all, AV_PIX_FMT_MEDIACODEC},
      {AV_HWDEVICE_TYPE_D3D12VA, all, AV_PIX_FMT_D3D12},
      {AV_HWDEVICE_TYPE_VAAPI, all, AV_PIX_FMT_NONE},
      {AV_HWDEVICE_TYPE_DXVA2, cut, AV_PIX_FMT_NONE},  // nothing after the end is read
      {AV_HWDEVICE_TYPE_D3D11VA, all + 6, AV_PIX_FMT_NONE},
      {AV_HWDEVICE_TYPE_DXVA2, nullptr, AV_PIX_FMT_NONE}};
  for (const auto& [device, offered, chosen] : cases) {
    SCOPED_TRACE(testing::Message() << device << " " << (offered - all));
    EXPECT_EQ(PickHwSurfaceFormat(device, offered), chosen);
  }
  // Without a device the callback chooses nothing and builds no surface pool.
  CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
  EXPECT_EQ(CFFMpegVideoCodec::GetHwFormat(ctx.get(), all), AV_PIX_FMT_NONE);
  EXPECT_EQ(ctx->hw_frames_ctx, nullptr);
  // The D3D11VA pool holds NV12 whatever a 10-bit stream would suggest.
  AVHWFramesContext pool{};
  pool.sw_format = AV_PIX_FMT_P010;
  FillD3D11SurfacePool(pool, 1920, 1088);
  EXPECT_EQ(std::vector<int>(
                {pool.format, pool.sw_format, pool.width, pool.height, pool.initial_pool_size}),
            std::vector<int>({AV_PIX_FMT_D3D11, AV_PIX_FMT_NV12, 1920, 1088, 20}));
}

// A start code of three or four bytes, the NAL header and a payload without zeros.
Bytes Nal(int code, uint8_t header, int payload) {
  Bytes bytes(static_cast<size_t>(code - 1), 0);
  bytes.push_back(1);
  bytes.push_back(header);
  bytes.insert(bytes.end(), static_cast<size_t>(payload), 0x80);
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(HwDeviceRules, MediaCodecExtradataEndsBeforeTheThirdStartCode) {
  const Bytes sps = Nal(4, 0x67, 10), pps = Nal(4, 0x68, 4), idr = Nal(4, 0x65, 30);  // 15, 9
  const std::tuple<const char*, Bytes, int> cases[] = {
      {"SPS PPS IDR", Join({sps, pps, idr}), 24},
      {"three-byte codes", Join({Nal(3, 0x67, 10), Nal(3, 0x68, 4), Nal(3, 0x65, 30)}), 22},
      {"no third code", Join({sps, pps}), 24},
      {"only the type bits count", Join({Nal(4, 0x27, 10), pps, idr}), 24},
      {"second code at the very end", Join({sps, {0, 0, 0, 1}}), 19},
      {"six bytes are enough", {0, 0, 1, 0x67, 0, 0, 1, 0x68}, 8},
      {"a lone slice", idr, -1},
      {"PPS first", Join({pps, idr}), -1},
      {"no start code", {0x67, 0x64, 0x00, 0x28, 0xac, 0xd9, 0x40}, -1},
      {"shorter than six bytes", {0, 0, 0, 1, 0x67}, -1},
      {"no second start code", Nal(4, 0x67, 20), -1},
      {"second code shorter", Join({sps, Nal(3, 0x68, 4)}), -1},
      {"empty", {}, -1}};
  for (const auto& [why, packet, size] : cases) {
    EXPECT_EQ(MediaCodecExtradataSize(packet.data(), static_cast<int>(packet.size())), size) << why;
  }
  EXPECT_EQ(MediaCodecExtradataSize(nullptr, 100), -1);
}

// FFmpeg's own answer to a device of this type here, as the library logs it.
LogLine DeviceCreateFailed(AVHWDeviceType type) {
  AVBufferRef* device = nullptr;
  const int ret = av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0);
  av_buffer_unref(&device);
  EXPECT_LT(ret, 0) << "this build has the device; the tests expect a platform without";
  return {60, "[CODE]av_hwdevice_ctx_create failed:" + AvErrorText(ret)};
}

TEST(HwDevice, CreationFailsWithFfmpegsTextAndOtherTypesMakeNothing) {
  const std::pair<CodecType, AVHWDeviceType> cases[] = {
      {AV_CODEC_TYPE_HEVCDEC_DXVA2, AV_HWDEVICE_TYPE_DXVA2},
      {AV_CODEC_TYPE_HEVCDEC_D3D12VA, AV_HWDEVICE_TYPE_D3D12VA},
      {AV_CODEC_TYPE_HEVCDEC_D3D11VA, AV_HWDEVICE_TYPE_D3D11VA},
      {AV_CODEC_TYPE_H264DEC_DXVA2, AV_HWDEVICE_TYPE_DXVA2},
      {AV_CODEC_TYPE_H264DEC_D3D12VA, AV_HWDEVICE_TYPE_D3D12VA},
      {AV_CODEC_TYPE_H264DEC_D3D11VA, AV_HWDEVICE_TYPE_D3D11VA},
      {AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_HWDEVICE_TYPE_VIDEOTOOLBOX},
      {AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX, AV_HWDEVICE_TYPE_VIDEOTOOLBOX}};
  for (const auto& [type, family] : cases) {
    SCOPED_TRACE(type);
    const LogLine failed = DeviceCreateFailed(family);
    ScopedLogCapture capture;
    AVBufferRef* device = nullptr;
    int marker = 0;
    void* native = &marker;
    EXPECT_LT(CFFMpegVideoCodec::hw_decoder_init(&device, &native, family, 0, 1), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(native, &marker);  // only a created device fills it
    // The native place is optional; a count beyond INT_MAX is just a bad count.
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(type, 4294967295u, 0, nullptr), nullptr);
    const std::string create =
        "[CODE]codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx hw_decoder_create failed";
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{failed, failed, {60, create}}));
  }
  ScopedLogCapture capture;  // MediaCodec's device waits for the first packet
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 25, -1, 99}) {
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(CodecType(type), 1, 0, nullptr), nullptr);
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(HwDevice, ReleaseLogsTheCountThenDropsOneReference) {
  AVBufferRef* host = av_buffer_alloc(16);  // reference counting is all release looks at
  void* handle = av_buffer_ref(host);
  void* none = nullptr;
  ScopedLogCapture capture;
  ICodecInterface::ReleaseVideoHwDeviceCtx(nullptr);
  ICodecInterface::ReleaseVideoHwDeviceCtx(&none);
  ICodecInterface::ReleaseVideoHwDeviceCtx(&handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(av_buffer_get_ref_count(host), 1);  // the other holder's reference is intact
  void* last = host;
  ICodecInterface::ReleaseVideoHwDeviceCtx(&last);  // freed here, or LeakSanitizer complains
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{0, "[CODE]hw_device_ctx [2]"}, {0, "[CODE]hw_device_ctx [1]"}}));
}

TEST(HwDevice, MediaCodecSetUpFromTheFirstPacket) {
  const std::span<const uint8_t> stream = ProbeStream(false);  // SPS, PPS, one IDR slice
  const Bytes whole(stream.begin(), stream.end()), sliceCode = {0, 0, 0, 1, 0x65};
  const auto slice = std::search(whole.begin(), whole.end(), sliceCode.begin(), sliceCode.end());
  const LogLine sized{20, "[CODE]mediacodec get size[144*256]"};
  for (bool callersDevice : {false, true}) {
    SCOPED_TRACE(callersDevice);
    BufferRefPtr host(av_buffer_alloc(16));
    CFFMpegVideoCodec codec;
    VideoCodecTestPeer::HwPixFmt(codec) = AV_PIX_FMT_MEDIACODEC;  // as Init stores it
    if (callersDevice) VideoCodecTestPeer::HwDeviceRef(codec) = av_buffer_ref(host.get());
    CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
    ScopedLogCapture capture;
    EXPECT_EQ(VideoCodecTestPeer::InitMediaCodec(codec, whole.data(), int(whole.size()), ctx.get()),
              callersDevice ? 0 : -1);
    const std::vector<LogLine> failed = {sized,
                                         DeviceCreateFailed(AV_HWDEVICE_TYPE_MEDIACODEC),
                                         {60, "[CODE]hw_decoder_init failed"}};
    EXPECT_EQ(capture->OwnLines(), callersDevice ? std::vector{sized} : failed);
    EXPECT_EQ(std::vector<int>({ctx->width, ctx->height, ctx->thread_count, ctx->pix_fmt}),
              std::vector<int>({144, 256, base::GetCpuCount(), AV_PIX_FMT_MEDIACODEC}));
    EXPECT_EQ(
        Bytes(ctx->extradata, ctx->extradata + ctx->extradata_size + AV_INPUT_BUFFER_PADDING_SIZE),
        Join({Bytes(whole.begin(), slice), Bytes(AV_INPUT_BUFFER_PADDING_SIZE, 0)}));
    // The context holds a reference of its own to the caller's device, besides the codec's.
    EXPECT_EQ(av_buffer_get_ref_count(host.get()), callersDevice ? 3 : 1);
  }
}

}  // namespace
