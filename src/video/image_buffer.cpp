#include "codec_interface.h"

namespace codec_interface {

// Placeholders until the image buffer functions land.
int ICodecInterface::ImageGetBufferSize(PixelFormat, PixelFormat&, int, int) { return -1; }
int ICodecInterface::ImageCopyToBuffer(unsigned char*, int, CVideoDecodeOutParam&, int) {
  return -1;
}
int ICodecInterface::ImageHwCopyToMemory(CVideoDecodeOutParam&, CVideoDecodeOutParam&, int) {
  return -1;
}

}  // namespace codec_interface
