// The fixture shared by the video decoder tests: a captured log and zeroed records.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/log_capture.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

class VideoCodecTest : public ::testing::Test {
 protected:
  static CodecParam Param(PixelFormat format = PIX_FMT_NONE, int width = 0, int height = 0,
                          bool keepAspect = false) {
    CodecParam param;
    std::memset(&param, 0, sizeof param);
    param.stVideo.ePixelFormat = format;
    param.stVideo.nDstWidth = width;
    param.stVideo.nDstHeight = height;
    param.stVideo.bKeepAspectRatio = keepAspect;
    return param;
  }
  static VideoEasyParam EasyParam(int width, int height) {
    VideoEasyParam param;
    std::memset(&param, 0, sizeof param);
    param.nDstWidth = width;
    param.nDstHeight = height;
    return param;
  }

  codec_test::ScopedLogCapture capture_;
};

}  // namespace codec_interface
