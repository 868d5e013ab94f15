
#include "media/pack_extradata.h"
#include "support/media.h"

namespace {

using namespace codec_test;

Bytes Hex(std::string text) {
  std::erase(text, ' ');
  Bytes bytes;
  for (size_t i = 0; i < text.size(); i += 2) bytes.push_back(std::stoi(text.substr(i, 2), 0, 16));
  return bytes;
}

TEST(PackAudio, CodecHeadersAreByteExact) {
  const std::tuple<std::vector<uint8_t> (*)(int, int), int, int, const char*> cases[] = {
      // "OpusHead", version 1, channels, pre-skip 3840 (1280 at 16000 Hz), input rate, gain 0,
      // mapping family 0; for 5.1 family 1 with 4 streams, 2 of them coupled, and the Vorbis
      // order mapping: the family-1 tails are those FFmpeg's libopus encoder writes for the same
      // channel counts. (Stereo at 48000 Hz, and the AudioSpecificConfig for 44100 Hz stereo,
      // are the round trip's.)
      {MakeOpusHead, 16000, 1, "4F70757348656164 01 01 0005 803E0000 0000 00"},
      {MakeOpusHead, 48000, 6, "4F70757348656164 01 06 000F 80BB0000 0000 01 04 02 000401020305"},
      // "dOps" with its length always 0x1D and the same family, streams and mapping.
      {MakeOpusDops, 48000, 2, "0000001D 644F7073 00 02 000F 80BB0000 0000 00"},
      {MakeOpusDops, 48000, 6, "0000001D 644F7073 00 06 000F 80BB0000 0000 01 04 02 000401020305"},
      {MakeOpusDops, 48000, 8, "0000001D 644F7073 00 08 000F 80BB0000 0000 01 05 03 0006010203040507"},
      // AudioSpecificConfig: AAC-LC, rate index, channel configuration (7 for eight channels);
      // a rate outside the table is 48000.
      {MakeAacSpecificConfig, 50000, 1, "118800"},
      {MakeAacSpecificConfig, 7350, 8, "163800"},
  };
  for (const auto& [make, rate, channels, bytes] : cases) EXPECT_EQ(make(rate, channels), Hex(bytes)) << bytes;
}

// Refusals before the file is opened use a path that cannot be opened, so a wrongly opened
// file would show as another line. Nothing is left open.
TEST(PackAudio, Init_FailuresLogTheirLinesAndLeaveNothingOpen) {
  const std::string noDirectory = "/nonexistent-codec-dir/out.ogg";
  const std::tuple<int, std::string, int, int, std::vector<LogLine>> cases[] = {
      // The file name's extension must not pick a muxer for an unknown kind, nor may a negative
      // one index anything.
      {-1, noDirectory, 48000, 2, {{60, "[CODE]avformat_alloc_output_context2 failed"}}},
      {AUDIO_FILE_PACK_OGG_OPUS, noDirectory, 48000, 2, {{60, "[CODE]open file[" + noDirectory + "] failed"}}},
      {AUDIO_FILE_PACK_MP4_AAC, noDirectory, 48000, 3,
       {{60, "[CODE]unsupport Channels: 3"}, {60, "[CODE]FillStreamParams failed"}}},
      {AUDIO_FILE_PACK_OGG_OPUS, "/dev/null", 0, 2, {{60, "[CODE]avformat_write_header failed[-22]: " + ErrorText(AVERROR(EINVAL))}}},
      // MP4 writes its header at once, so a full disk refuses it.
      {AUDIO_FILE_PACK_MP4_AAC, "/dev/full", 48000, 2,
       {{60, "[CODE]avformat_write_header failed[-28]: " + ErrorText(AVERROR(ENOSPC))}}},
  };
  for (const auto& [type, path, rate, channels, lines] : cases) {
    auto pack = IPackAudio::Create(AudioFilePackType(type));
    ScopedLogCapture capture;
    EXPECT_EQ(pack->Init(path.c_str(), rate, channels, 1024), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{0, "[CODE]初始化Ogg复用器: " + path}} + lines));
    uint8_t byte = 0;
    EXPECT_EQ(pack->WritePacket(&byte, 1), -1);
  }
}

// Files written by the packer, read back by plain libavformat: its format, codec, rate,
// channels, codec header, and every packet with its time.
TEST(PackAudio, RoundTrip_EveryKindReadsBack) {
  const Bytes opusHead = Hex("4F70757348656164 01 02 000F 80BB0000 0000 00");
  const char* mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
  const std::tuple<const char*, AudioFilePackType, const char*, int, const char*, Bytes, int64_t, int64_t> cases[] = {
      // The Ogg reader shifts times back by the declared pre-skip.
      {"stereo.ogg", AUDIO_FILE_PACK_OGG_OPUS, "libopus", 48000, "ogg", opusHead, -3840, 960},
      // The MP4 reader turns our "dOps" back into an identification header.
      {"opus.mp4", AUDIO_FILE_PACK_MP4_OPUS, "libopus", 48000, mp4, opusHead, 0, 960},
      {"aac.mp4", AUDIO_FILE_PACK_MP4_AAC, "aac", 44100, mp4, Hex("121000"), 0, 1024},
      // The host hands whole ADTS frames; the raw file is them back to back.
      {"raw.aac", AUDIO_FILE_PACK_AAC, "aac", 44100, "aac", {}, 0, 655360},
      // MP3 keeps its own clock: 1152 samples at 44100 Hz in 1/14112000 s.
      {"lame.mp3", AUDIO_FILE_PACK_MP3, "libmp3lame", 44100, "mp3", {}, 0, 368640},
  };
  for (const auto& [name, type, encoder, rate, format, extradata, firstPts, step] : cases) {
    SCOPED_TRACE(name);
    const EncodedStream tone = EncodeTone(encoder, rate, 2, rate / 4);
    const std::vector<Bytes> packets = type == AUDIO_FILE_PACK_AAC ? WithAdtsHeaders(tone.data, rate, 2) : tone.data;
    const ScratchFile file(name);
    auto pack = IPackAudio::Create(type);
    ASSERT_EQ(pack->Init(file.path.c_str(), rate, 2, tone.frameSize), 0);
    for (Bytes buffer : packets) {  // scribbled over after each write, as a host may
      ASSERT_EQ(pack->WritePacket(buffer.data(), static_cast<int>(buffer.size())), 0);
      std::fill(buffer.begin(), buffer.end(), 0xEE);
    }
    pack->Close();
    const ReadBack plain = ReadMediaFile(file.path);
    ASSERT_EQ(plain.streams.size(), 1u);
    const AVCodecParameters* par = plain.streams[0].get();
    EXPECT_EQ(std::tuple(plain.format, par->codec_id, par->sample_rate, par->ch_layout.nb_channels),
              std::tuple(format, avcodec_find_encoder_by_name(encoder)->id, rate, 2));
    EXPECT_EQ(Bytes(par->extradata, par->extradata + par->extradata_size), extradata);
    ASSERT_EQ(plain.packets.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(std::tuple(plain.packets[i].data, plain.packets[i].pts),
                std::tuple(packets[i], firstPts + step * int64_t(i))) << i;
    }
  }
}

// What the library's own encoders make for 1, 2, 6 and 8 channels, packed into every kind that
// takes it (ADTS as header and payload), opens in plain libavformat with the channel count and
// decodes packet for packet in FFmpeg's decoder.
TEST(PackAudio, EncodersOutputPackedForEveryChannelCount_DecodesInPlainFfmpeg) {
  for (const auto kind : {AUDIO_FILE_PACK_OGG_OPUS, AUDIO_FILE_PACK_MP4_OPUS, AUDIO_FILE_PACK_MP4_AAC, AUDIO_FILE_PACK_AAC}) {
    const bool opus = kind <= AUDIO_FILE_PACK_MP4_OPUS;
    const int rate = opus ? 48000 : 44100, frame = opus ? 960 : 1024;
    for (const int channels : {1, 2, 6, 8}) {
      SCOPED_TRACE(testing::Message() << kind << " " << channels);
      auto codec = OpenCodec(opus ? AV_CODEC_TYPE_OPUSENC : AV_CODEC_TYPE_AACENC,
                             AudioParam(rate, rate, channels, channels, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 256000));
      const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, rate, channels, frame * 20);
      const ScratchFile file("channels");
      auto pack = IPackAudio::Create(kind);
      ASSERT_EQ(pack->Init(file.path.c_str(), rate, channels, frame), 0);
      const EncodedRecords run = EncodeInChunks(*codec, pcm, size_t(frame) * channels * 2);
      const size_t written = run.packets.size();
      for (size_t i = 0; i < written; ++i) {
        Bytes packet = (kind == AUDIO_FILE_PACK_AAC ? run.headers[i] : Bytes()) + run.packets[i];
        ASSERT_EQ(pack->WritePacket(packet.data(), static_cast<int>(packet.size())), 0);
      }
      pack->Close();
      const ReadBack plain = ReadMediaFile(file.path);
      ASSERT_EQ(plain.streams.size(), 1u);
      EXPECT_EQ(std::tuple(plain.streams[0]->ch_layout.nb_channels, plain.packets.size()), std::tuple(channels, written));
      EXPECT_GT(plain.decoded, int64_t(written - 8) * frame);
    }
  }
}

}  // namespace
