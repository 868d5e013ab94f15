// Prints the library's version, the FFmpeg it runs on and whether every codec, filter and muxer
// the library depends on is there. Exits 1 when something required is missing.
#include <cstdio>

#include "codec_interface.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/hwcontext.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

int g_missing = 0;

void Report(const char* kind, const char* name, bool present, bool required = true) {
  std::printf("  %-10s %-16s %s\n", kind, name,
              present ? "yes" : (required ? "MISSING" : "no"));
  if (!present && required) ++g_missing;
}

void PrintVersion(const char* name, unsigned version) {
  std::printf("  %-14s %u.%u.%u\n", name, AV_VERSION_MAJOR(version), AV_VERSION_MINOR(version),
              AV_VERSION_MICRO(version));
}

bool HasDecoder(AVCodecID id) { return avcodec_find_decoder(id) != nullptr; }
bool HasEncoder(AVCodecID id) { return avcodec_find_encoder(id) != nullptr; }

}  // namespace

int main() {
  std::printf("codec %s\n", CODEC_VERSION_STRING);
  std::printf("FFmpeg %s\n", av_version_info());
  PrintVersion("libavcodec", avcodec_version());
  PrintVersion("libavformat", avformat_version());
  PrintVersion("libavutil", avutil_version());
  PrintVersion("libavfilter", avfilter_version());
  PrintVersion("libswresample", swresample_version());
  PrintVersion("libswscale", swscale_version());

  // Decoders and encoders by codec id; the libopus ones are preferred, not required.
  const AVCodecID kCodecs[] = {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MJPEG,
                               AV_CODEC_ID_BMP, AV_CODEC_ID_PCM_ALAW, AV_CODEC_ID_PCM_MULAW,
                               AV_CODEC_ID_OPUS, AV_CODEC_ID_SPEEX, AV_CODEC_ID_AAC};
  std::printf("Decoders:\n");
  for (AVCodecID id : kCodecs) {
    if (id != AV_CODEC_ID_BMP) Report("decoder", avcodec_get_name(id), HasDecoder(id));
  }
  Report("decoder", "libopus", avcodec_find_decoder_by_name("libopus") != nullptr, false);
  std::printf("Encoders:\n");
  for (AVCodecID id : kCodecs) {
    if (id != AV_CODEC_ID_MJPEG) Report("encoder", avcodec_get_name(id), HasEncoder(id));
  }
  Report("encoder", "libopus", avcodec_find_encoder_by_name("libopus") != nullptr, false);
  std::printf("Filters:\n");
  Report("bsf", "aac_adtstoasc", av_bsf_get_by_name("aac_adtstoasc") != nullptr);
  for (const char* filter : {"buffer", "buffersink"}) {
    Report("filter", filter, avfilter_get_by_name(filter) != nullptr);
  }
  std::printf("Muxers:\n");
  // FFmpeg's raw AAC muxer, the one for .aac files, is named "adts".
  for (const char* muxer : {"ogg", "mp4", "adts", "mp3"}) {
    Report("muxer", muxer, av_guess_format(muxer, nullptr, nullptr) != nullptr);
  }
  std::printf("Hardware device types:");
  int devices = 0;
  for (AVHWDeviceType t = av_hwdevice_iterate_types(AV_HWDEVICE_TYPE_NONE);
       t != AV_HWDEVICE_TYPE_NONE; t = av_hwdevice_iterate_types(t)) {
    std::printf(" %s", av_hwdevice_get_type_name(t));
    ++devices;
  }
  std::printf("%s\n", devices == 0 ? " none" : "");

  if (g_missing > 0) {
    std::printf("%d required component(s) missing\n", g_missing);
    return 1;
  }
  std::printf("all required components present\n");
  return 0;
}
