// codec thumbs FILE: every Nth picture of the video stream as a BMP, through the library's
// decoder (in software, or on a hardware family when asked and available) and BMP encoder.
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "media_input.h"
#include "output_file.h"
#include "progress.h"
#include "video_codec.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

struct HardwareFamily {
  HardwareDecoderType type;
  CodecType h264;
  CodecType hevc;
};

const std::map<std::string, HardwareFamily>& HardwareFamilies() {
  static const std::map<std::string, HardwareFamily> families = {
      {"dxva2", {HARDWARE_DECODER_DXVA2, AV_CODEC_TYPE_H264DEC_DXVA2, AV_CODEC_TYPE_HEVCDEC_DXVA2}},
      {"d3d11va",
       {HARDWARE_DECODER_D3D11VA, AV_CODEC_TYPE_H264DEC_D3D11VA, AV_CODEC_TYPE_HEVCDEC_D3D11VA}},
      {"d3d12va",
       {HARDWARE_DECODER_D3D12VA, AV_CODEC_TYPE_H264DEC_D3D12VA, AV_CODEC_TYPE_HEVCDEC_D3D12VA}},
      {"videotoolbox",
       {HARDWARE_DECODER_VIDEOTOOLBOX, AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX,
        AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX}}};
  return families;
}

// The decoder to use: the family's when the probe says it works here, else software, as a
// host does after CheckHardwareDecode.
CodecType ChooseDecoder(VideoKind kind, const std::string& hw, const Global& global) {
  if (hw.empty()) return SoftwareDecoder(kind);
  const HardwareFamily& family = HardwareFamilies().at(hw);
  CodecType type = kind == VideoKind::kH264 ? family.h264 : family.hevc;
  ICodecInterface::Prepare(family.type, 0);
  if (ICodecInterface::CheckHardwareDecode(type, 0)) return type;
  if (!global.quiet) {
    std::fprintf(stderr, "codec: %s decoding is not available here; decoding in software\n",
                 hw.c_str());
  }
  return SoftwareDecoder(kind);
}

std::string ThumbnailPath(const std::string& folder, long number) {
  char name[32];
  std::snprintf(name, sizeof name, "thumb-%05ld.bmp", number);
  return (std::filesystem::path(folder) / name).string();
}

}  // namespace

ThumbsResult MakeThumbnails(const ThumbsOptions& options, const Global& global) {
  VideoInput input(options.input);
  DecodeSettings settings;
  settings.format = PIX_FMT_BGRA;  // the one layout both the decoder and the BMP encoder speak
  if (!options.size.empty()) ParseSize(options.size, settings.width, settings.height);
  settings.keepAspect = options.keepAspect;
  settings.type = ChooseDecoder(input.Kind(), options.hw, global);
  MakeFolder(options.folder);
  VideoDecoder decoder(settings);
  std::optional<VideoEncoder> bmp;
  ThumbsResult result;
  Progress progress("thumbnails", 0, "pictures", global.quiet);
  Bytes unit;
  Bytes file;
  Picture picture;
  while (input.Next(unit)) {
    if (!decoder.Decode(unit, picture)) continue;
    progress.Advance();
    if (result.pictures++ % options.every != 0) continue;
    if (!bmp) {
      bmp.emplace(EncodeSettings{AV_CODEC_TYPE_BMPENC, PIX_FMT_BGRA, picture.width,
                                 picture.height, 0, 25, 1});
      result.width = picture.width;
      result.height = picture.height;
    }
    if (!bmp->Encode(picture, file)) throw Failure("a thumbnail could not be encoded");
    OutputFile out(ThumbnailPath(options.folder, result.pictures));
    out.Write(file.data(), file.size());
    out.Commit();
    ++result.written;
  }
  if (result.pictures == 0) throw Failure(options.input + ": no picture could be decoded");
  result.seconds = progress.Seconds();
  return result;
}

void AddThumbsCommand(CLI::App& app, Global& global) {
  static ThumbsOptions options;
  CLI::App* command = app.add_subcommand(
      "thumbs", "Decode the video stream and write every Nth picture as a BMP file "
                "(thumb-00001.bmp, ... numbered by picture).");
  command->footer("Example: codec thumbs movie.mp4 -o thumbs --every 25 --size 320x180 "
                  "--keep-aspect");
  command->add_option("FILE", options.input, "the media file")->required();
  command->add_option("-o,--output", options.folder, "folder for the BMP files (made if missing)")
      ->capture_default_str();
  command->add_option("--every", options.every, "write every Nth picture")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  AddSizeOption(*command, options.size, "thumbnail size (default: the picture's)");
  command->add_flag("--keep-aspect", options.keepAspect,
                    "fit into --size keeping the picture's aspect ratio");
  std::vector<std::string> families;
  for (const auto& [name, family] : HardwareFamilies()) families.push_back(name);
  command->add_option("--hw", options.hw, "decode on this hardware family when it works here")
      ->check(CLI::IsMember(families));
  command->callback([&global] {
    ThumbsResult result = MakeThumbnails(options, global);
    if (!global.quiet) {
      std::printf("%ld thumbnail(s) of %dx%d from %ld picture(s) in %s\n", result.written,
                  result.width, result.height, result.pictures, options.folder.c_str());
    }
  });
}

}  // namespace codec_tool
