#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

// Placeholders until pixel conversion lands.
int CFFMpegVideoCodec::SwsCtxInit(int, int, AVPixelFormat, int, int, AVPixelFormat) {
  return -1;
}
PixelFormat CFFMpegVideoCodec::FillOutPixelFormat(AVPixelFormat) { return PIX_FMT_NONE; }

}  // namespace codec_interface
