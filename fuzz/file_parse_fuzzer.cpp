// The file parser on the input written to a file: both streams read to the end, every packet
// read whole.
#include "fuzz_input.h"

using namespace codec_interface;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  const codec_fuzz::InputFile file(data, size);
  const auto parser = IFileParseInterface::Create();
  if (parser->Open(file.path.c_str()) == 0) {
    unsigned char* packet = nullptr;
    int bytes = 0;
    int duration = 0;
    while (parser->ReadAudioPacket(&packet, &bytes, &duration) == 0) {
      codec_fuzz::ReadAll(packet, bytes);
    }
    while (parser->ReadVideoPacket(&packet, &bytes) == 0) codec_fuzz::ReadAll(packet, bytes);
  }
  return 0;
}
