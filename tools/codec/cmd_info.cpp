// codec info: what this build of the library has to work with. The one place where this
// program asks FFmpeg itself: its versions and components.
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "codec_interface.h"
#include "commands.h"
#include "failure.h"
#include "json.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

struct Component {
  std::string kind;
  std::string name;
  bool present;
  bool required;
};

std::vector<Component> Components() {
  std::vector<Component> list;
  auto codec = [&](const char* kind, AVCodecID id, bool encoder) {
    const AVCodec* found = encoder ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
    list.push_back({kind, avcodec_get_name(id), found != nullptr, true});
  };
  for (AVCodecID id : {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MJPEG, AV_CODEC_ID_PCM_ALAW,
                       AV_CODEC_ID_PCM_MULAW, AV_CODEC_ID_OPUS, AV_CODEC_ID_SPEEX, AV_CODEC_ID_AAC}) {
    codec("decoder", id, false);
  }
  list.push_back({"decoder", "libopus", avcodec_find_decoder_by_name("libopus") != nullptr, false});
  for (AVCodecID id : {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_BMP, AV_CODEC_ID_PCM_ALAW,
                       AV_CODEC_ID_PCM_MULAW, AV_CODEC_ID_OPUS, AV_CODEC_ID_SPEEX, AV_CODEC_ID_AAC}) {
    codec("encoder", id, true);
  }
  list.push_back({"encoder", "libopus", avcodec_find_encoder_by_name("libopus") != nullptr, false});
  list.push_back({"bsf", "aac_adtstoasc", av_bsf_get_by_name("aac_adtstoasc") != nullptr, true});
  for (const char* filter : {"buffer", "buffersink"}) {
    list.push_back({"filter", filter, avfilter_get_by_name(filter) != nullptr, true});
  }
  // FFmpeg's raw AAC muxer, the one for .aac files, is named "adts".
  for (const char* muxer : {"ogg", "mp4", "adts", "mp3"}) {
    list.push_back({"muxer", muxer, av_guess_format(muxer, nullptr, nullptr) != nullptr, true});
  }
  return list;
}

struct HardwareAnswer {
  const char* family;
  const char* decoder;
  bool works;
};

std::vector<HardwareAnswer> ProbeHardware() {
  struct Family {
    HardwareDecoderType type;
    const char* name;
    CodecType h264;
    CodecType hevc;
  };
  static constexpr Family kFamilies[] = {
      {HARDWARE_DECODER_DXVA2, "dxva2", AV_CODEC_TYPE_H264DEC_DXVA2, AV_CODEC_TYPE_HEVCDEC_DXVA2},
      {HARDWARE_DECODER_D3D12VA, "d3d12va", AV_CODEC_TYPE_H264DEC_D3D12VA,
       AV_CODEC_TYPE_HEVCDEC_D3D12VA},
      {HARDWARE_DECODER_D3D11VA, "d3d11va", AV_CODEC_TYPE_H264DEC_D3D11VA,
       AV_CODEC_TYPE_HEVCDEC_D3D11VA},
      {HARDWARE_DECODER_VIDEOTOOLBOX, "videotoolbox", AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX,
       AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX}};
  std::vector<HardwareAnswer> answers;
  for (const Family& family : kFamilies) {
    ICodecInterface::Prepare(family.type, 0);
    answers.push_back({family.name, "h264", ICodecInterface::CheckHardwareDecode(family.h264, 0)});
    answers.push_back({family.name, "hevc", ICodecInterface::CheckHardwareDecode(family.hevc, 0)});
  }
  return answers;
}

std::string Version(unsigned version) {
  return std::to_string(AV_VERSION_MAJOR(version)) + "." +
         std::to_string(AV_VERSION_MINOR(version)) + "." + std::to_string(AV_VERSION_MICRO(version));
}

struct Library {
  const char* name;
  unsigned version;
};

void Report(bool json) {
  const Library libraries[] = {{"libavcodec", avcodec_version()},
                               {"libavformat", avformat_version()},
                               {"libavutil", avutil_version()},
                               {"libavfilter", avfilter_version()},
                               {"libswresample", swresample_version()},
                               {"libswscale", swscale_version()}};
  std::vector<Component> components = Components();
  std::vector<HardwareAnswer> hardware = ProbeHardware();
  int missing = 0;
  for (const Component& c : components) missing += c.required && !c.present;

  if (json) {
    JsonWriter out;
    out.Open().Field("codec", CODEC_VERSION_STRING).Field("ffmpeg", av_version_info());
    out.Field("license", avcodec_license()).Open("libraries");
    for (const Library& library : libraries) out.Field(library.name, Version(library.version));
    out.Close().Open("components");
    for (const Component& c : components) {
      out.Field((c.kind + " " + c.name).c_str(), c.present);
    }
    out.Close().Open("hardware");
    for (const HardwareAnswer& answer : hardware) {
      out.Field((std::string(answer.family) + " " + answer.decoder).c_str(), answer.works);
    }
    out.Close().Field("missing", missing).Close();
    std::printf("%s\n", out.Text().c_str());
  } else {
    std::printf("codec %s\nFFmpeg %s, licence %s\n", CODEC_VERSION_STRING, av_version_info(),
                avcodec_license());
    for (const Library& library : libraries) {
      std::printf("  %-14s %s\n", library.name, Version(library.version).c_str());
    }
    std::printf("Components:\n");
    for (const Component& c : components) {
      std::printf("  %-8s %-14s %s\n", c.kind.c_str(), c.name.c_str(),
                  c.present ? "yes" : (c.required ? "MISSING" : "no"));
    }
    std::printf("Hardware decoding (probed):\n");
    for (const HardwareAnswer& answer : hardware) {
      std::printf("  %-13s %-5s %s\n", answer.family, answer.decoder, answer.works ? "works" : "no");
    }
    std::printf(missing == 0 ? "all required components present\n"
                             : "%d required component(s) missing\n",
                missing);
  }
  if (missing > 0) throw Failure(std::to_string(missing) + " required component(s) missing");
}

}  // namespace

void AddInfoCommand(CLI::App& app, Global&) {
  static bool json = false;
  CLI::App* command = app.add_subcommand(
      "info", "Library and FFmpeg versions, licence, the components the library needs, and "
              "which hardware decoders work here.");
  command->footer("Example: codec info --json");
  command->add_flag("--json", json, "one JSON object for scripts");
  command->callback([] { Report(json); });
}

}  // namespace codec_tool
