// The public PixelFormat against FFmpeg's AVPixelFormat: one table for every caller.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"

namespace codec_interface {

// Maps PIX_FMT_NONE .. PIX_FMT_VIDEOTOOLBOX (0 to 11); false for any other value, which
// leaves *pOut as it was.
bool PixelFormatToAv(PixelFormat eFormat, AVPixelFormat* pOut);

// The way back over the same pairs; PIX_FMT_NONE for any other format.
PixelFormat AvToPixelFormat(AVPixelFormat eFormat);

// A picture layout in memory (PIX_FMT_BGRA .. PIX_FMT_YUYV422): scalers read and write it, and
// the picture functions copy it as it is. Neither the none format nor a device surface is one.
bool IsMemoryPixelFormat(PixelFormat eFormat);
bool IsMemoryPixelFormat(AVPixelFormat eFormat);

}  // namespace codec_interface
