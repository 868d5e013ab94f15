// The input written to a file, opened by both readers of files. The file parser: both streams
// read to the end, every packet read whole. The media reader: every stream's facts, every packet
// in decoder form, a few seeks to times taken from the input's first bytes, then every packet as
// stored. One target for both: the demuxers they reach are the same.
#include "fuzz_input.h"

using namespace codec_interface;

namespace {

void ReadToEnd(IMediaReader& reader, MediaPacketForm form) {
  reader.SetPacketForm(form);
  MediaPacket packet{};
  // A failed read (a cut file, a packet no filter takes) may be followed by more packets.
  for (int failures = 0, got = 0; failures < 8 && (got = reader.ReadPacket(&packet)) != 0;) {
    if (got < 0)
      ++failures;
    else
      codec_fuzz::ReadAll(packet.pData, packet.nSize);
  }
}

void Parse(const char* path) {
  const auto parser = IFileParseInterface::Create();
  if (parser->Open(path) != 0) return;
  unsigned char* packet = nullptr;
  int bytes = 0, duration = 0;
  while (parser->ReadAudioPacket(&packet, &bytes, &duration) == 0)
    codec_fuzz::ReadAll(packet, bytes);
  while (parser->ReadVideoPacket(&packet, &bytes) == 0) codec_fuzz::ReadAll(packet, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  const codec_fuzz::InputFile file(data, size);
  Parse(file.path.c_str());
  const auto reader = IMediaReader::Create();
  if (reader->Open(file.path.c_str()) == 0) {
    MediaFileInfo info{};
    reader->GetFileInfo(&info);
    for (int i = 0; i < info.nStreamCount; ++i) {
      MediaStreamInfo stream{};
      reader->GetStreamInfo(i, &stream);
      codec_fuzz::ReadAll(stream.pExtradata, stream.nExtradataSize);
    }
    for (const MediaStreamKind kind : {MEDIA_STREAM_VIDEO, MEDIA_STREAM_AUDIO})
      reader->FindBestStream(kind);
    ReadToEnd(*reader, MEDIA_PACKET_FORM_DECODER);
    codec_fuzz::FuzzInput input(data, size);
    for (int k = 0; k < 3; ++k) {
      reader->Seek(static_cast<int64_t>(input.Int()) * 16);
      ReadToEnd(*reader, k == 2 ? MEDIA_PACKET_FORM_STORED : MEDIA_PACKET_FORM_DECODER);
    }
  }
  return 0;
}
