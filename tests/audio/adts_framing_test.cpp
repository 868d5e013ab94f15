// AAC packets: the ADTS header before each packet, and the stream a host writes from them.
#include <gtest/gtest.h>

#include <cstdio>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

// Byte-exact for the two known headers; otherwise equal to the test's own bit-by-bit header,
// with channel configuration 0 above six channels and the length cut to 13 bits. The eighth
// byte is never written.
TEST(AdtsFraming, WriteADTSHeader_ByteExact) {
  struct Case {
    int rate, channels, size;
    Bytes exact;  // empty: the reference header
  };
  const Case cases[] = {
      {44100, 2, 371, {0xFF, 0xF1, 0x50, 0x80, 0x2F, 0x5F, 0xFC}},
      {48000, 1, 100, {0xFF, 0xF1, 0x4C, 0x40, 0x0D, 0x7F, 0xFC}},
      {96000, 6, 0, {}}, {7350, 7, 8184, {}}, {22050, 8, 8185, {}}, {16000, 3, 9000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << "/" << c.channels << "/" << c.size);
    CFFMpegAudioCodec codec;
    Peer::UseHeaderContext(codec, c.rate, c.channels);
    Bytes h(8, 0xAA);
    AVPacket packet{};
    packet.size = c.size;
    ScopedLogCapture capture;
    ASSERT_EQ(CFFMpegAudioCodec::WriteADTSHeader(&codec, h.data(), 8, &packet), 7);
    EXPECT_TRUE(capture->OwnLines().empty());
    EXPECT_EQ(h[7], 0xAA);
    const Bytes reference = WithAdtsHeaders({Bytes(static_cast<size_t>(c.size))}, c.rate,
                                            c.channels > 6 ? 0 : c.channels)[0];
    h.resize(7);
    EXPECT_EQ(h, c.exact.empty() ? Bytes(reference.begin(), reference.begin() + 7) : c.exact);
  }
}

// Header then payload per record, as a host writes them, is a stream FFmpeg's "aac" demuxer
// reads back packet for packet. 1000-sample chunks take the FIFO path.
TEST(AdtsFraming, RecordsWrittenOut_OpenWithTheAacDemuxer) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 44100, 2, 2, AV_SAMPLE_FMT_S16, -1, 128000)),
            0);
  const EncodeRun run =
      EncodeInChunks(codec, MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000), 1000 * 4);
  ASSERT_GT(run.packets.size(), 30u);
  const std::string path = testing::TempDir() + "records_" + std::to_string(getpid()) + ".aac";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::vector<Bytes> written;
  for (size_t i = 0; i < run.packets.size(); ++i) {
    written.push_back(run.headers[i]);
    written.back().insert(written.back().end(), run.packets[i].begin(), run.packets[i].end());
    std::fwrite(written.back().data(), 1, written.back().size(), file);
  }
  std::fclose(file);
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, path.c_str(), av_find_input_format("aac"), nullptr), 0);
  InputFormatCtxPtr input(raw);
  std::vector<Bytes> demuxed;
  PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    demuxed.emplace_back(packet->data, packet->data + packet->size);
    av_packet_unref(packet.get());
  }
  std::remove(path.c_str());
  EXPECT_EQ(demuxed, written);
  EXPECT_EQ(DecodeTestAudio("aac", demuxed, 44100, 2).size(), demuxed.size() * 1024 * 2);
}

}  // namespace
}  // namespace codec_test
