// Hardware decoding on a machine whose FFmpeg has none of the five device families: the
// device-independent rules called directly, device creation and release, the MediaCodec set-up,
// and the decode probe (answered false once per (type, adapter), cached) with its embedded
// streams. The probe cache lives as long as the program, so each test uses adapters of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/sps_parse.h"
#include "base/system.h"
#include "interface/log.h"
#include "support/log_capture.h"
#include "video/codec_table.h"
#include "video/hw_device_rules.h"
#include "video/hw_probe.h"
#include "video_codec_peer.h"

namespace {

using namespace codec_interface;
using Bytes = std::vector<uint8_t>;
using codec_test::LogLine;
using codec_test::ScopedLogCapture;
using Peer = VideoCodecTestPeer;
constexpr int kPad = AV_INPUT_BUFFER_PADDING_SIZE;  // FFmpeg's zeroed input padding

// Every hardware decoder but MediaCodec, whose device waits for the first packet.
constexpr CodecType kHwTypes[] = {
    AV_CODEC_TYPE_HEVCDEC_DXVA2,        AV_CODEC_TYPE_HEVCDEC_D3D12VA,
    AV_CODEC_TYPE_HEVCDEC_D3D11VA,      AV_CODEC_TYPE_H264DEC_DXVA2,
    AV_CODEC_TYPE_H264DEC_D3D12VA,      AV_CODEC_TYPE_H264DEC_D3D11VA,
    AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX};

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
  const std::tuple<AVHWDeviceType, const AVPixelFormat*, AVPixelFormat> cases[] = {
      {AV_HWDEVICE_TYPE_DXVA2, all, AV_PIX_FMT_DXVA2_VLD},
      {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, all, AV_PIX_FMT_VIDEOTOOLBOX},
      {AV_HWDEVICE_TYPE_D3D11VA, all, AV_PIX_FMT_D3D11},  // not the old D3D11VA_VLD
      {AV_HWDEVICE_TYPE_MEDIACODEC, all, AV_PIX_FMT_MEDIACODEC},
      {AV_HWDEVICE_TYPE_D3D12VA, all, AV_PIX_FMT_D3D12},
      {AV_HWDEVICE_TYPE_VAAPI, all, AV_PIX_FMT_NONE},
      {AV_HWDEVICE_TYPE_D3D11VA, all + 6, AV_PIX_FMT_NONE},
      {AV_HWDEVICE_TYPE_DXVA2, nullptr, AV_PIX_FMT_NONE}};
  for (const auto& [device, offered, chosen] : cases) {
    SCOPED_TRACE(testing::Message() << device << " " << (offered - all));
    EXPECT_EQ(PickHwSurfaceFormat(device, offered), chosen);
  }
  // Without a device the callback chooses nothing.
  CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
  EXPECT_EQ(CFFMpegVideoCodec::GetHwFormat(ctx.get(), all), AV_PIX_FMT_NONE);
  // The D3D11VA pool: NV12 surfaces whatever the stream's depth, 20 of them.
  AVHWFramesContext pool{};
  FillD3D11SurfacePool(pool, 1920, 1088);
  EXPECT_EQ(
      std::tuple(pool.format, pool.sw_format, pool.width, pool.height, pool.initial_pool_size),
      std::tuple(AV_PIX_FMT_D3D11, AV_PIX_FMT_NV12, 1920, 1088, 20));
}

// A start code of three or four bytes, the NAL header and a payload without zeros.
Bytes Nal(int code, uint8_t header, int payload) {
  Bytes bytes(static_cast<size_t>(code - 1), 0);
  bytes.insert(bytes.end(), {1, header});
  bytes.resize(bytes.size() + static_cast<size_t>(payload), 0x80);
  return bytes;
}

template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HwDeviceRules, MediaCodecExtradataEndsBeforeTheThirdStartCode) {
  const Bytes sps = Nal(4, 0x67, 10), pps = Nal(4, 0x68, 4), idr = Nal(4, 0x65, 30);  // 15, 9
  const std::tuple<const char*, Bytes, int> cases[] = {
      {"SPS PPS IDR", sps + pps + idr, 24},
      {"three-byte codes", Nal(3, 0x67, 10) + Nal(3, 0x68, 4) + Nal(3, 0x65, 30), 22},
      {"no third code", sps + pps, 24},
      {"only the type bits count", Nal(4, 0x27, 10) + pps + idr, 24},
      {"second code at the very end", sps + Bytes{0, 0, 0, 1}, 19},
      {"six bytes are enough", {0, 0, 1, 0x67, 0, 0, 1, 0x68}, 8},
      {"a lone slice", idr, -1},
      {"no start code", {0x67, 0x64, 0x00, 0x28, 0xac, 0xd9, 0x40}, -1},
      {"shorter than six bytes", {0, 0, 0, 1, 0x67}, -1},
      {"no second start code", Nal(4, 0x67, 20), -1},
      {"second code shorter", sps + Nal(3, 0x68, 4), -1}};
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
  return {60, "[CODE]av_hwdevice_ctx_create failed:" + AvErrorText(ret)};
}

// One probe of a hardware decoder here, keyed as logged (with %d): Init finds no configuration,
// and the codec is released (its destructor's line) before the verdict.
std::vector<LogLine> ProbeLines(int type, int adapter) {
  const std::string key =
      "[CODE]CheckHardwareDecode[" + std::to_string(type) + "][" + std::to_string(adapter) + "]";
  return {{0, key},
          {60, "[CODE]avcodec_get_hw_config failed"},
          {0, "[CODE]video codec uninit"},
          {60, key + " Codec Init failed"}};
}

TEST(HwDecode, SoftwareAndUnknownTypesAndFamiliesDoNothing) {
  ScopedLogCapture capture;
  for (int family : {4, -1, 100}) ICodecInterface::Prepare(HardwareDecoderType(family), 90);
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 21, -1, 99}) {
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(CodecType(type), 1, 0, nullptr), nullptr);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(type), 90)) << type;
    EXPECT_FALSE(CachedHardwareDecodeAnswer(CodecType(type), 90)) << type;
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(HwDecode, EveryHardwareTypeFailsDeviceAndInitAndIsProbedOnce) {
  for (CodecType type : kHwTypes) {
    SCOPED_TRACE(type);
    ScopedLogCapture capture;
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(type, 4294967295u, 0, nullptr), nullptr);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(type, 100));
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(type, 100));  // from the cache, silently
    EXPECT_EQ(CachedHardwareDecodeAnswer(type, 100), false);
    const std::vector<LogLine> created = {
        DeviceCreateFailed(VideoHwDeviceType(type)),
        {60,
         "[CODE]codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx hw_decoder_create "
         "failed"}};
    EXPECT_EQ(capture->OwnLines(), created + ProbeLines(type, 100));
  }
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

TEST(HwDevice, MediaCodecSetUpFromTheFirstPacket) {
  const std::span<const uint8_t> stream = ProbeStream(false);  // SPS, PPS, one IDR slice
  const Bytes whole(stream.begin(), stream.end()), sliceCode = {0, 0, 0, 1, 0x65};
  const auto slice = std::search(whole.begin(), whole.end(), sliceCode.begin(), sliceCode.end());
  const LogLine sized{20, "[CODE]mediacodec get size[144*256]"};
  for (bool callersDevice : {false, true}) {
    SCOPED_TRACE(callersDevice);
    BufferRefPtr host(av_buffer_alloc(16));
    CFFMpegVideoCodec codec;
    Peer::HwPixFmt(codec) = AV_PIX_FMT_MEDIACODEC;  // as Init stores it
    if (callersDevice) Peer::HwDeviceRef(codec).reset(av_buffer_ref(host.get()));
    CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::InitMediaCodec(codec, whole.data(), int(whole.size()), ctx.get()),
              callersDevice ? 0 : -1);
    const std::vector<LogLine> failed = {sized, DeviceCreateFailed(AV_HWDEVICE_TYPE_MEDIACODEC),
                                         {60, "[CODE]hw_decoder_init failed"}};
    EXPECT_EQ(capture->OwnLines(), callersDevice ? std::vector{sized} : failed);
    EXPECT_EQ(std::tuple(ctx->width, ctx->height, ctx->thread_count, ctx->pix_fmt),
              std::tuple(144, 256, base::GetCpuCount(), AV_PIX_FMT_MEDIACODEC));
    EXPECT_EQ(Bytes(ctx->extradata, ctx->extradata + ctx->extradata_size + kPad),
              Bytes(whole.begin(), slice) + Bytes(kPad, 0));
    // The context holds a reference of its own to the caller's device, besides the codec's.
    EXPECT_EQ(av_buffer_get_ref_count(host.get()), callersDevice ? 3 : 1);
  }
}

TEST(Prepare, ProbesTheFamilysH264ThenHevcDecoderOncePerAdapter) {
  const std::tuple<HardwareDecoderType, int, int> cases[] = {
      {HARDWARE_DECODER_DXVA2, 7, 4}, {HARDWARE_DECODER_D3D12VA, 8, 5},
      {HARDWARE_DECODER_D3D11VA, 9, 6}, {HARDWARE_DECODER_VIDEOTOOLBOX, 12, 13}};
  for (const auto& [family, h264, hevc] : cases) {
    SCOPED_TRACE(family);
    ScopedLogCapture capture;
    for (unsigned int a : {120u, 121u, 120u, 4294967295u}) ICodecInterface::Prepare(family, a);
    std::vector<LogLine> expected;
    for (int adapter : {120, 121, -1}) {
      expected = expected + ProbeLines(h264, adapter) + ProbeLines(hevc, adapter);
    }
    EXPECT_EQ(capture->OwnLines(), expected);
    EXPECT_EQ(CachedHardwareDecodeAnswer(CodecType(hevc), 121), false);
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
        EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(kHwTypes[k % 8], 150 + k / 8));
        if (i == kKeys) ICodecInterface::Prepare(HardwareDecoderType(t % 4), 150);
      }
    });
  }
  threads.clear();  // joins
  const std::vector<LogLine> lines = capture->OwnLines();
  for (int k = 0; k < kKeys; ++k) {
    const LogLine first = ProbeLines(kHwTypes[k % 8], 150 + k / 8)[0];
    SCOPED_TRACE(first.text);
    EXPECT_EQ(CachedHardwareDecodeAnswer(kHwTypes[k % 8], 150 + k / 8), false);
    // Probed, and never again once the answer was stored: at most once per thread.
    const auto count = std::count(lines.begin(), lines.end(), first);
    EXPECT_TRUE(count >= 1 && count <= kThreads) << count;
  }
}

TEST(ProbeStreams, PropertiesAndOnePictureFromOneDecode) {
  for (bool hevc : {false, true}) {
    SCOPED_TRACE(hevc);
    const std::span<const uint8_t> stream = ProbeStream(hevc);
    EXPECT_EQ(stream.data(), ProbeStream(hevc).data());  // copied once for the process
    EXPECT_EQ(Bytes(stream.end(), stream.end() + kPad), Bytes(kPad, 0));
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(hevc ? AV_CODEC_TYPE_HEVCDEC : AV_CODEC_TYPE_H264DEC, CodecParam{}), 0);
    CVideoDecodeOutParam out(0);
    EXPECT_EQ(codec.Decode(const_cast<uint8_t*>(stream.data()), int(stream.size()), &out), 1);
    EXPECT_EQ(std::tuple(out.m_nWidth, out.m_nHeight, out.m_ePixelFormat, out.m_bDecodeError),
              std::tuple(144, 256, PIX_FMT_YUV420P, false));
    // FFmpeg's reading of the parameter sets; a frame rate only comes from timing information.
    const AVCodecContext* ctx = Peer::CodecCtx(codec);
    EXPECT_EQ(std::tuple(ctx->profile, ctx->level, ctx->has_b_frames),
              hevc ? std::tuple(AV_PROFILE_HEVC_MAIN, 120, 0)  // 30 per major level
                   : std::tuple(AV_PROFILE_H264_HIGH, 40, 0));
    EXPECT_GT(av_q2d(ctx->framerate), 0);
    if (hevc) {  // SPS: start code, header, VPS id and sub-layers; then space, tier, profile
      const Bytes head = {0, 0, 0, 1, 0x42, 0x01};
      EXPECT_EQ(std::search(stream.begin(), stream.end(), head.begin(), head.end())[7], 0x01);
      continue;
    }
    base::h264_sps_data sps{};
    ASSERT_TRUE(base::CSpsParse::H264DecodeSeqParameterSet(stream.data(), stream.size(), sps));
    EXPECT_EQ(std::vector<int>({sps.width, sps.height, sps.chroma_format_idc, sps.bit_depth_luma,
                                sps.bit_depth_chroma, sps.max_num_ref_frames,
                                sps.frame_mbs_only_flag, sps.pic_order_cnt_type}),
              std::vector<int>({144, 256, 1, 8, 8, 1, 1, 0}));
  }
}

}  // namespace
