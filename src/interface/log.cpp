#include "interface/log.h"

#include "interface/ffmpeg.h"

namespace codec_interface {

std::string AvErrorText(int err) {
  char text[1024] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace codec_interface
