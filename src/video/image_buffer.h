// Steps of the picture functions of ICodecInterface that do not need a device.
#pragma once

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Device surfaces the picture functions download (D3D11 surfaces are not among them).
bool IsDownloadableSurface(AVPixelFormat eFormat);

// Copies the picture's planes into pDst one after another without padding, read as eLayout.
// Returns the bytes written or FFmpeg's negative code (pDst too small, bad geometry).
int CopyPictureToBuffer(const AVFrame& picture, AVPixelFormat eLayout, uint8_t* pDst, int nDstSize);

// Makes the downloaded picture entry 0 of dst and its only one, which dst owns from then on.
// What dst held before is not released: the host may still read it and clears dst itself;
// m_bDecodeError is left alone.
void PutOwnedPicture(CVideoDecodeOutParam& dst, FramePtr picture);

}  // namespace codec_interface
