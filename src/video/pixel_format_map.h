// The public PixelFormat and FFmpeg's AVPixelFormat, both ways.
#pragma once

#include "codec_interface.h"
#include "interface/ffmpeg.h"

namespace codec_interface {

// The FFmpeg format of a public one: the seven memory layouts under their own names and the
// four hardware surfaces (DXVA2_VLD, D3D12, D3D11, VIDEOTOOLBOX); AV_PIX_FMT_NONE for
// PIX_FMT_NONE and any value outside the enumeration.
AVPixelFormat ToAvPixelFormat(PixelFormat eFormat);

// The way back over the same eleven pairs; PIX_FMT_NONE for every other FFmpeg format.
PixelFormat FromAvPixelFormat(AVPixelFormat eFormat);

}  // namespace codec_interface
