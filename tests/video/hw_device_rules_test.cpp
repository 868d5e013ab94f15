// The device-independent rules of hardware decoding, called directly.
#include <gtest/gtest.h>

#include <vector>

#include "video/hw_device_rules.h"

namespace {

using namespace codec_interface;

TEST(HwDeviceRules, CommandQueueCountKeepsOneToFiftyElseFive) {
  const std::pair<int, int> cases[] = {{0, 5},  {51, 5},  {-3, 5},   {1, 1},
                                       {50, 50}, {17, 17}, {-1, 5}, {1 << 30, 5}};
  for (const auto& [requested, used] : cases) {
    EXPECT_EQ(CommandQueueCountFor(requested), used) << requested;
  }
}

TEST(HwDeviceRules, DeviceStringIsTheDecimalAdapterForWindowsFamiliesOnly) {
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_DXVA2, 2), "2");
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_D3D11VA, 0), "0");
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_D3D12VA, 13), "13");
  // Unsigned: the largest index is not written as -1.
  EXPECT_EQ(HwDeviceString(AV_HWDEVICE_TYPE_D3D11VA, 4294967295u), "4294967295");
  for (AVHWDeviceType type : {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, AV_HWDEVICE_TYPE_MEDIACODEC,
                              AV_HWDEVICE_TYPE_NONE, AV_HWDEVICE_TYPE_VAAPI}) {
    EXPECT_EQ(HwDeviceString(type, 2), "") << type;
  }
}

TEST(HwDeviceRules, SurfaceFormatIsTheFirstOfferedFormatOfTheDevice) {
  // FFmpeg offers the hardware formats it can use, then the software fallback.
  const std::vector<AVPixelFormat> offered = {
      AV_PIX_FMT_D3D12,         AV_PIX_FMT_MEDIACODEC, AV_PIX_FMT_D3D11,
      AV_PIX_FMT_VIDEOTOOLBOX,  AV_PIX_FMT_DXVA2_VLD,  AV_PIX_FMT_D3D11VA_VLD,
      AV_PIX_FMT_YUV420P,       AV_PIX_FMT_NONE};
  const std::pair<AVHWDeviceType, AVPixelFormat> cases[] = {
      {AV_HWDEVICE_TYPE_DXVA2, AV_PIX_FMT_DXVA2_VLD},
      {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, AV_PIX_FMT_VIDEOTOOLBOX},
      {AV_HWDEVICE_TYPE_D3D11VA, AV_PIX_FMT_D3D11},  // not the old D3D11VA_VLD
      {AV_HWDEVICE_TYPE_MEDIACODEC, AV_PIX_FMT_MEDIACODEC},
      {AV_HWDEVICE_TYPE_D3D12VA, AV_PIX_FMT_D3D12},
      {AV_HWDEVICE_TYPE_VAAPI, AV_PIX_FMT_NONE},
      {AV_HWDEVICE_TYPE_NONE, AV_PIX_FMT_NONE},
  };
  for (const auto& [device, chosen] : cases) {
    SCOPED_TRACE(device);
    EXPECT_EQ(PickHwSurfaceFormat(device, offered.data()), chosen);
    // Only software formats on offer: nothing fits.
    const AVPixelFormat software[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, AV_PIX_FMT_NONE};
    EXPECT_EQ(PickHwSurfaceFormat(device, software), AV_PIX_FMT_NONE);
  }
  const AVPixelFormat empty[] = {AV_PIX_FMT_NONE};
  EXPECT_EQ(PickHwSurfaceFormat(AV_HWDEVICE_TYPE_DXVA2, empty), AV_PIX_FMT_NONE);
  EXPECT_EQ(PickHwSurfaceFormat(AV_HWDEVICE_TYPE_DXVA2, nullptr), AV_PIX_FMT_NONE);
  // Nothing after the terminator is looked at.
  const AVPixelFormat cut[] = {AV_PIX_FMT_NV12, AV_PIX_FMT_NONE, AV_PIX_FMT_DXVA2_VLD};
  EXPECT_EQ(PickHwSurfaceFormat(AV_HWDEVICE_TYPE_DXVA2, cut), AV_PIX_FMT_NONE);
}

TEST(HwDeviceRules, D3D11PoolIsNv12WhateverTheStreamDepth) {
  AVHWFramesContext frames{};
  frames.sw_format = AV_PIX_FMT_P010;  // what a 10-bit stream would suggest
  FillD3D11SurfacePool(frames, 1920, 1088);
  EXPECT_EQ(frames.format, AV_PIX_FMT_D3D11);
  EXPECT_EQ(frames.sw_format, AV_PIX_FMT_NV12);
  EXPECT_EQ(frames.width, 1920);
  EXPECT_EQ(frames.height, 1088);
  EXPECT_EQ(frames.initial_pool_size, 20);
}

std::vector<uint8_t> Nal(std::initializer_list<uint8_t> code, uint8_t header, int payload) {
  std::vector<uint8_t> bytes(code);
  bytes.push_back(header);
  for (int i = 0; i < payload; ++i) bytes.push_back(static_cast<uint8_t>(0x80 | i));
  return bytes;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

int ExtradataSize(const std::vector<uint8_t>& packet) {
  return MediaCodecExtradataSize(packet.data(), static_cast<int>(packet.size()));
}

TEST(HwDeviceRules, MediaCodecExtradataEndsBeforeTheThirdStartCode) {
  const auto sps = Nal({0, 0, 0, 1}, 0x67, 10);
  const auto pps = Nal({0, 0, 0, 1}, 0x68, 4);
  const auto idr = Nal({0, 0, 0, 1}, 0x65, 30);
  EXPECT_EQ(ExtradataSize(Join({sps, pps, idr})), static_cast<int>(sps.size() + pps.size()));
  // Three-byte start codes throughout.
  const auto sps3 = Nal({0, 0, 1}, 0x67, 10);
  const auto pps3 = Nal({0, 0, 1}, 0x68, 4);
  EXPECT_EQ(ExtradataSize(Join({sps3, pps3, Nal({0, 0, 1}, 0x65, 30)})),
            static_cast<int>(sps3.size() + pps3.size()));
  // Only SPS and PPS: the whole packet.
  EXPECT_EQ(ExtradataSize(Join({sps, pps})), static_cast<int>(sps.size() + pps.size()));
  // The NAL reference bits do not matter, only the type.
  EXPECT_EQ(ExtradataSize(Join({Nal({0, 0, 0, 1}, 0x27, 10), pps, idr})),
            static_cast<int>(sps.size() + pps.size()));
  // A second start code right at the end of the packet still counts.
  const std::vector<uint8_t> tail = Join({sps, {0, 0, 0, 1}});
  EXPECT_EQ(ExtradataSize(tail), static_cast<int>(tail.size()));
}

TEST(HwDeviceRules, MediaCodecExtradataRefusals) {
  const auto pps = Nal({0, 0, 0, 1}, 0x68, 4);
  const auto idr = Nal({0, 0, 0, 1}, 0x65, 30);
  struct Case {
    const char* why;
    std::vector<uint8_t> packet;
  };
  const Case cases[] = {
      {"a lone picture slice", idr},
      {"PPS first", Join({pps, idr})},
      {"no start code", {0x67, 0x64, 0x00, 0x28, 0xac, 0xd9, 0x40}},
      {"shorter than six bytes", {0, 0, 0, 1, 0x67}},
      {"SPS without a second start code", Nal({0, 0, 0, 1}, 0x67, 20)},
      // A four-byte stream is not split at a three-byte code, nor the other way round.
      {"second code shorter", Join({Nal({0, 0, 0, 1}, 0x67, 10), Nal({0, 0, 1}, 0x68, 4)})},
      {"empty", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtradataSize(c.packet), -1) << c.why;
  }
  EXPECT_EQ(MediaCodecExtradataSize(nullptr, 100), -1);
  // Six bytes of start code, SPS header and one payload byte are enough to look at.
  const std::vector<uint8_t> tiny = {0, 0, 1, 0x67, 0, 0, 1, 0x68};
  EXPECT_EQ(ExtradataSize(tiny), 8);
}

}  // namespace
