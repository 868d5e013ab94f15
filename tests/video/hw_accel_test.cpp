// Device creation and release, the decoder's hardware configuration, the D3D11VA get_format
// callback and the MediaCodec set-up, on a machine (and FFmpeg build) without any of the five
// device families: every device creation fails the way such a platform fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/system.h"
#include "codec_interface.h"
#include "interface/log.h"
#include "support/log_capture.h"
#include "video/codec_table.h"
#include "video/hw_probe.h"
#include "video_codec_peer.h"

namespace {

using namespace codec_interface;
using codec_test::LogLine;
using codec_test::ScopedLogCapture;

constexpr AVHWDeviceType kFamilies[] = {AV_HWDEVICE_TYPE_DXVA2, AV_HWDEVICE_TYPE_D3D11VA,
                                        AV_HWDEVICE_TYPE_D3D12VA, AV_HWDEVICE_TYPE_VIDEOTOOLBOX,
                                        AV_HWDEVICE_TYPE_MEDIACODEC};

constexpr CodecType kHwCodecTypes[] = {
    AV_CODEC_TYPE_HEVCDEC_DXVA2,        AV_CODEC_TYPE_HEVCDEC_D3D12VA,
    AV_CODEC_TYPE_HEVCDEC_D3D11VA,      AV_CODEC_TYPE_H264DEC_DXVA2,
    AV_CODEC_TYPE_H264DEC_D3D12VA,      AV_CODEC_TYPE_H264DEC_D3D11VA,
    AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX};

// What FFmpeg itself answers when asked for a device of this type here.
int FfmpegDeviceResult(AVHWDeviceType type) {
  AVBufferRef* device = nullptr;
  const int ret = av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0);
  av_buffer_unref(&device);
  return ret;
}

LogLine DeviceCreateFailed(AVHWDeviceType type) {
  return {60, "[CODE]av_hwdevice_ctx_create failed:" + AvErrorText(FfmpegDeviceResult(type))};
}

// A stand-in device handle: reference counting is all the release path looks at.
AVBufferRef* FakeDevice() { return av_buffer_alloc(16); }

TEST(HwDecoderInit, EveryFamilyFailsWithFfmpegsTextOnThisPlatform) {
  for (AVHWDeviceType type : kFamilies) {
    SCOPED_TRACE(av_hwdevice_get_type_name(type));
    const int expected = FfmpegDeviceResult(type);
    ASSERT_LT(expected, 0) << "this build has the device; the test expects a platform without";
    ScopedLogCapture capture;
    AVBufferRef* device = nullptr;
    int marker = 0;
    void* native = &marker;
    EXPECT_EQ(CFFMpegVideoCodec::hw_decoder_init(&device, &native, type, 0, 1), expected);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(native, &marker);  // only a created device fills it
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{DeviceCreateFailed(type)}));
  }
}

TEST(CreateVideoHwDeviceCtx, HardwareTypesFailWithBothLines) {
  for (CodecType type : kHwCodecTypes) {
    SCOPED_TRACE(type);
    ScopedLogCapture capture;
    int marker = 0;
    void* native = &marker;
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(type, 3, 0, &native), nullptr);
    EXPECT_EQ(native, &marker);
    const std::vector<LogLine> expected = {
        DeviceCreateFailed(VideoHwDeviceType(type)),
        {60,
         "[CODE]codec_interface::CFFMpegVideoCodec::CreateVideoHwDeviceCtx hw_decoder_create "
         "failed"}};
    EXPECT_EQ(capture->OwnLines(), expected);
  }
  // The native place is optional.
  ScopedLogCapture capture;
  EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(AV_CODEC_TYPE_H264DEC_D3D12VA, 4294967295u,
                                                    7, nullptr),
            nullptr);
  EXPECT_EQ(capture->OwnLines().size(), 2u);
}

TEST(CreateVideoHwDeviceCtx, OtherTypesReturnNullSilently) {
  ScopedLogCapture capture;
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 25, -1, 99}) {
    int marker = 0;
    void* native = &marker;
    EXPECT_EQ(ICodecInterface::CreateVideoHwDeviceCtx(static_cast<CodecType>(type), 1, 0,
                                                      &native),
              nullptr)
        << type;
    EXPECT_EQ(native, &marker) << type;
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(ReleaseVideoHwDeviceCtx, LogsTheCountBeforeReleasingAndNullsTheHandle) {
  AVBufferRef* host = FakeDevice();
  void* handle = av_buffer_ref(host);  // a second holder, as a codec object would be
  {
    ScopedLogCapture capture;
    ICodecInterface::ReleaseVideoHwDeviceCtx(&handle);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{0, "[CODE]hw_device_ctx [2]"}}));
  }
  EXPECT_EQ(av_buffer_get_ref_count(host), 1);  // the other holder's reference is intact
  void* last = host;
  ScopedLogCapture capture;
  ICodecInterface::ReleaseVideoHwDeviceCtx(&last);  // ASan: the buffer is freed here
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{0, "[CODE]hw_device_ctx [1]"}}));
}

TEST(ReleaseVideoHwDeviceCtx, NullIsIgnored) {
  ScopedLogCapture capture;
  ICodecInterface::ReleaseVideoHwDeviceCtx(nullptr);
  void* none = nullptr;
  ICodecInterface::ReleaseVideoHwDeviceCtx(&none);
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(GetHwPixelFormat, NoConfigurationForAnyFamilyInThisBuild) {
  for (AVCodecID id : {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC}) {
    const AVCodec* decoder = avcodec_find_decoder(id);
    ASSERT_NE(decoder, nullptr);
    for (AVHWDeviceType type : kFamilies) {
      SCOPED_TRACE(av_hwdevice_get_type_name(type));
      // Each configuration the decoder offers is logged by device number until one fits.
      std::vector<LogLine> expected;
      bool fits = false;
      for (int i = 0; const AVCodecHWConfig* config = avcodec_get_hw_config(decoder, i); ++i) {
        expected.push_back({0, "[CODE]hw[" + std::to_string(config->device_type) + "]"});
        if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) &&
            config->device_type == type) {
          fits = true;
          break;
        }
      }
      ASSERT_FALSE(fits) << "this build has the hardware decoder";
      expected.push_back({60, "[CODE]avcodec_get_hw_config failed"});
      ScopedLogCapture capture;
      CFFMpegVideoCodec codec;
      AVPixelFormat format = AV_PIX_FMT_YUV420P;
      EXPECT_FALSE(VideoCodecTestPeer::GetHwPixelFormat(codec, decoder, type, &format));
      EXPECT_EQ(format, AV_PIX_FMT_YUV420P);
      EXPECT_EQ(capture->OwnLines(), expected);
    }
  }
}

TEST(GetHwFormat, ContextWithoutDeviceGetsNone) {
  CodecCtxPtr ctx(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
  const AVPixelFormat offered[] = {AV_PIX_FMT_D3D11, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  EXPECT_EQ(CFFMpegVideoCodec::GetHwFormat(ctx.get(), offered), AV_PIX_FMT_NONE);
  EXPECT_EQ(ctx->hw_frames_ctx, nullptr);
}

// The H.264 probe stream: SPS, PPS and one IDR slice, four-byte start codes, 144x256.
std::vector<uint8_t> H264Packet() {
  const std::span<const uint8_t> stream = ProbeStream(false);
  return {stream.begin(), stream.end()};
}

// Offset of the third start code: where the extradata ends.
size_t ThirdStartCode(const std::vector<uint8_t>& packet) {
  int seen = 0;
  for (size_t i = 0; i + 4 <= packet.size(); ++i) {
    if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 0 && packet[i + 3] == 1 &&
        ++seen == 3) {
      return i;
    }
  }
  return packet.size();
}

struct MediaCodecFixture : testing::Test {
  MediaCodecFixture() : ctx(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264))) {
    // What Init stores for a MediaCodec decoder.
    VideoCodecTestPeer::HwPixFmt(codec) = AV_PIX_FMT_MEDIACODEC;
    VideoCodecTestPeer::DeviceIndex(codec) = 3;
  }
  CFFMpegVideoCodec codec;
  CodecCtxPtr ctx;
};

TEST_F(MediaCodecFixture, PacketWithoutLeadingSpsIsRefusedSilently) {
  std::vector<uint8_t> packet = H264Packet();
  const size_t slice = ThirdStartCode(packet);
  ScopedLogCapture capture;
  const std::vector<uint8_t> lone(packet.begin() + static_cast<std::ptrdiff_t>(slice),
                                  packet.end());
  EXPECT_EQ(VideoCodecTestPeer::InitMediaCodec(codec, lone.data(), static_cast<int>(lone.size()),
                                               ctx.get()),
            -1);
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_EQ(ctx->extradata, nullptr);
  EXPECT_EQ(ctx->width, 0);
  EXPECT_EQ(ctx->hw_device_ctx, nullptr);
}

TEST_F(MediaCodecFixture, SetsUpFromTheSpsThenFailsOnTheMissingDevice) {
  const std::vector<uint8_t> packet = H264Packet();
  ScopedLogCapture capture;
  EXPECT_EQ(VideoCodecTestPeer::InitMediaCodec(codec, packet.data(),
                                               static_cast<int>(packet.size()), ctx.get()),
            -1);
  const std::vector<LogLine> expected = {
      {20, "[CODE]mediacodec get size[144*256]"},
      DeviceCreateFailed(AV_HWDEVICE_TYPE_MEDIACODEC),
      {60, "[CODE]hw_decoder_init failed"}};
  EXPECT_EQ(capture->OwnLines(), expected);
  EXPECT_EQ(ctx->width, 144);
  EXPECT_EQ(ctx->height, 256);
  EXPECT_EQ(ctx->thread_count, base::GetCpuCount());
  EXPECT_EQ(ctx->pix_fmt, AV_PIX_FMT_MEDIACODEC);
  const size_t length = ThirdStartCode(packet);
  ASSERT_EQ(ctx->extradata_size, static_cast<int>(length));
  EXPECT_EQ(std::vector<uint8_t>(ctx->extradata, ctx->extradata + length),
            std::vector<uint8_t>(packet.begin(), packet.begin() + static_cast<long>(length)));
  for (int i = 0; i < AV_INPUT_BUFFER_PADDING_SIZE; ++i) {
    ASSERT_EQ(ctx->extradata[length + static_cast<size_t>(i)], 0) << i;
  }
  EXPECT_EQ(ctx->hw_device_ctx, nullptr);
}

TEST_F(MediaCodecFixture, CallersDeviceIsReferencedNotCreated) {
  AVBufferRef* host = FakeDevice();
  VideoCodecTestPeer::HwDeviceRef(codec) = av_buffer_ref(host);
  const std::vector<uint8_t> packet = H264Packet();
  ScopedLogCapture capture;
  EXPECT_EQ(VideoCodecTestPeer::InitMediaCodec(codec, packet.data(),
                                               static_cast<int>(packet.size()), ctx.get()),
            0);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{20, "[CODE]mediacodec get size[144*256]"}}));
  ASSERT_NE(ctx->hw_device_ctx, nullptr);
  EXPECT_EQ(ctx->hw_device_ctx->data, host->data);
  EXPECT_EQ(av_buffer_get_ref_count(host), 3);  // host, the codec object, the context
  ctx.reset();
  EXPECT_EQ(av_buffer_get_ref_count(host), 2);
  av_buffer_unref(&VideoCodecTestPeer::HwDeviceRef(codec));
  EXPECT_EQ(av_buffer_get_ref_count(host), 1);
  av_buffer_unref(&host);
}

}  // namespace
