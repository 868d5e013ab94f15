// Hardware devices of the video decoders: creating one, and the D3D11VA decoders' choice of
// surfaces on it.
#pragma once

#include "interface/ffmpeg.h"

namespace codec_interface {

// Creates a device context of this type into *ppDeviceRef; ppNative, when given, receives the
// device's API-specific context. FFmpeg's result, negative after the
// "[CODE]av_hwdevice_ctx_create failed:..." line.
int CreateHwDevice(AVBufferRef** ppDeviceRef, void** ppNative, AVHWDeviceType eType,
                   int nCommandQueueCount, unsigned int nAdapterIndex);

// get_format callback of D3D11VA decoders: picks the surface format of the context's device
// and builds the surface pool for it.
AVPixelFormat PickD3D11Surfaces(AVCodecContext* pCtx, const AVPixelFormat* pFormats);

}  // namespace codec_interface
