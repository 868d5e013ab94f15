#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

// Placeholders until the filter graph lands: no graph is built, pictures pass unfiltered.
int CFFMpegVideoCodec::InitFilter(AVCodecContext*, int, int, AVPixelFormat, const char*) {
  return -1;
}
AVFrame* CFFMpegVideoCodec::FilterDecodeFrame(AVFrame*) { return nullptr; }
AVFrame* CFFMpegVideoCodec::FilterEncodeFrame(AVFrame*) { return nullptr; }
void CFFMpegVideoCodec::FreeFilterGraph() {}

}  // namespace codec_interface
