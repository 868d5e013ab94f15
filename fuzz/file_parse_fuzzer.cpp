// The file parser on the input written to a file: both streams read to the end, every packet
// read whole.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include <cstdio>

using namespace codec_interface;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("codec-fuzz-" + std::to_string(getpid()) + ".media"))
                                      .string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  const auto parser = IFileParseInterface::Create();
  if (parser->Open(path.c_str()) == 0) {
    unsigned char* packet = nullptr;
    int bytes = 0;
    int duration = 0;
    while (parser->ReadAudioPacket(&packet, &bytes, &duration) == 0) {
      codec_fuzz::ReadAll(packet, bytes);
    }
    while (parser->ReadVideoPacket(&packet, &bytes) == 0) codec_fuzz::ReadAll(packet, bytes);
  }
  std::filesystem::remove(path);
  return 0;
}
