// AAC packets: the "aac_adtstoasc" pass and the ADTS header before each packet.
#include <gtest/gtest.h>

#include "audio/audio_test_util.h"

namespace codec_test {
namespace {

using namespace codec_interface;

// The fields of an ADTS header, read back bit by bit (most significant first).
struct AdtsFields {
  unsigned syncword, id, layer, protectionAbsent, profile, frequencyIndex, privateBit,
      channelConfig, flags, frameLength, fullness, blocks;
};

AdtsFields ParseAdts(const uint8_t* h) {
  uint64_t bits = 0;
  for (int i = 0; i < 7; ++i) bits = (bits << 8) | h[i];
  int left = 56;
  auto take = [&](int n) {
    left -= n;
    return static_cast<unsigned>((bits >> left) & ((1u << n) - 1));
  };
  AdtsFields f{};
  f.syncword = take(12);
  f.id = take(1);
  f.layer = take(2);
  f.protectionAbsent = take(1);
  f.profile = take(2);
  f.frequencyIndex = take(4);
  f.privateBit = take(1);
  f.channelConfig = take(3);
  f.flags = take(4);
  f.frameLength = take(13);
  f.fullness = take(11);
  f.blocks = take(2);
  return f;
}

// The 8 bytes of a record's header field after WriteADTSHeader (0xAA each before), and the
// lines it logged.
struct HeaderResult {
  std::vector<uint8_t> bytes;
  std::vector<LogLine> lines;
};
HeaderResult WriteHeader(int rate, int channels, int packetSize, int outSize, int expectedLength) {
  CFFMpegAudioCodec codec;
  Peer::UseHeaderContext(codec, rate, channels);
  HeaderResult result{std::vector<uint8_t>(8, 0xAA), {}};
  AVPacket packet{};
  packet.size = packetSize;
  ScopedLogCapture capture;
  EXPECT_EQ(CFFMpegAudioCodec::WriteADTSHeader(&codec, result.bytes.data(), outSize, &packet),
            expectedLength);
  result.lines = capture->OwnLines();
  return result;
}

std::vector<uint8_t> Header(int rate, int channels, int packetSize) {
  const HeaderResult result = WriteHeader(rate, channels, packetSize, 8, 7);
  EXPECT_TRUE(result.lines.empty());
  return result.bytes;
}

TEST(AdtsFraming, WriteADTSHeader_KnownHeadersByteExact) {
  EXPECT_EQ(Header(44100, 2, 371),
            (std::vector<uint8_t>{0xFF, 0xF1, 0x50, 0x80, 0x2F, 0x5F, 0xFC, 0xAA}));
  EXPECT_EQ(Header(48000, 1, 100),
            (std::vector<uint8_t>{0xFF, 0xF1, 0x4C, 0x40, 0x0D, 0x7F, 0xFC, 0xAA}));
}

TEST(AdtsFraming, WriteADTSHeader_EveryRateChannelCountAndLength) {
  const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                       22050, 16000, 12000, 11025, 8000,  7350};
  struct Shape {
    int channels;
    unsigned config;
  };
  const Shape shapes[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 0}, {8, 0}};
  const int sizes[] = {0, 1, 371, 8184, 8185, 8192, 9000};
  for (unsigned index = 0; index < std::size(rates); ++index) {
    for (const Shape shape : shapes) {
      for (const int size : sizes) {
        SCOPED_TRACE(std::to_string(rates[index]) + "/" + std::to_string(shape.channels) + "/" +
                     std::to_string(size));
        const std::vector<uint8_t> h = Header(rates[index], shape.channels, size);
        const AdtsFields f = ParseAdts(h.data());
        EXPECT_EQ(f.syncword, 0xFFFu);
        EXPECT_EQ(f.id, 0u);
        EXPECT_EQ(f.layer, 0u);
        EXPECT_EQ(f.protectionAbsent, 1u);
        EXPECT_EQ(f.profile, 1u);
        EXPECT_EQ(f.frequencyIndex, index);
        EXPECT_EQ(f.privateBit, 0u);
        EXPECT_EQ(f.channelConfig, shape.config);
        EXPECT_EQ(f.flags, 0u);
        // 13 bits: 8185 bytes and more wrap around.
        EXPECT_EQ(f.frameLength, static_cast<unsigned>(size + 7) % 8192);
        EXPECT_EQ(f.fullness, 0x7FFu);
        EXPECT_EQ(f.blocks, 0u);
        EXPECT_EQ(h[7], 0xAA);
      }
    }
  }
}

TEST(AdtsFraming, WriteADTSHeader_TooSmallBufferIsLeftUntouched) {
  const HeaderResult result = WriteHeader(44100, 2, 371, 6, 0);
  EXPECT_EQ(result.bytes, std::vector<uint8_t>(8, 0xAA));
  EXPECT_EQ(result.lines, std::vector<LogLine>{Error("[CODE]ADTS Outbuf is full")});
}

TEST(AdtsFraming, WriteADTSHeader_RateWithoutIndexLeavesZeros) {
  const HeaderResult result = WriteHeader(44000, 2, 371, 8, 0);
  EXPECT_EQ(result.bytes, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0xAA}));
  EXPECT_EQ(result.lines, std::vector<LogLine>{Error("[CODE]WriteADTSHeader failed")});
}

TEST(AdtsFraming, AvpktBsf_Failures) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 48000, 2, 2, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 128000)),
            0);
  {
    SCOPED_TRACE("null packet");
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::AvpktBsf(codec, nullptr), -1);
    EXPECT_EQ(capture->OwnLines(), std::vector<LogLine>{Error("[CODE]AvpktBsf failed")});
  }
  PacketPtr packet(av_packet_alloc());
  {
    SCOPED_TRACE("an empty packet ends the filter's stream: nothing to receive");
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::AvpktBsf(codec, packet.get()), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{Error("[CODE]av_bsf_receive_packet failed"),
                                                         Error("[CODE]AvpktBsf failed")}));
  }
  {
    SCOPED_TRACE("after the end nothing is taken");
    ASSERT_EQ(av_new_packet(packet.get(), 16), 0);
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::AvpktBsf(codec, packet.get()), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{Error("[CODE]av_bsf_send_packet failed"),
                                                         Error("[CODE]AvpktBsf failed")}));
  }
  {
    SCOPED_TRACE("Encode stops at the filter's failure");
    Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 1024 * 3);
    CAudioEncodeOutParam out;
    int result = 0;
    for (int call = 0; call < 3 && result == 0; ++call) {
      result = codec.Encode(pcm.data() + call * 4096, 4096, &out);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out.m_nNum, 0);
  }
}

TEST(AdtsFraming, Encoder_EveryRecordCarriesItsHeader) {
  CFFMpegAudioCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC,
                       AudioParam(48000, 22050, 2, 1, SAMPLE_FMT_S16, SAMPLE_FMT_NONE, 64000)),
            0);
  const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 48000, 2, 48000);
  const EncodeRun run = EncodeInChunks(codec, pcm, 4000);
  for (const AudioEncOutData& d : run.records) {
    ASSERT_EQ(d.nHeaderSize, 7);
    const AdtsFields f = ParseAdts(d.byHeader);
    EXPECT_EQ(f.frequencyIndex, 7u);
    EXPECT_EQ(f.channelConfig, 1u);
    EXPECT_EQ(f.frameLength, static_cast<unsigned>(d.nSize + 7));
    EXPECT_EQ(d.byHeader[7], 0);
  }
  const int records = static_cast<int>(run.records.size());
  EXPECT_GT(records, 15);
}

// Header then payload per record, as a host writes them, is a stream FFmpeg's "aac" demuxer
// reads back packet for packet.
TEST(AdtsFraming, RecordsWrittenOut_OpenWithTheAacDemuxer) {
  for (const int chunk : {1024, 1000}) {
    SCOPED_TRACE(chunk);
    CFFMpegAudioCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_AACENC, AudioParam(44100, 44100, 2, 2, SAMPLE_FMT_S16,
                                                          SAMPLE_FMT_NONE, 128000)),
              0);
    const Bytes pcm = MakeSinePcm(AV_SAMPLE_FMT_S16, 44100, 2, 44100);
    const EncodeRun run = EncodeInChunks(codec, pcm, chunk * 4);
    Bytes stream;
    for (size_t i = 0; i < run.packets.size(); ++i) {
      ASSERT_EQ(run.headers[i].size(), 7u);
      stream.insert(stream.end(), run.headers[i].begin(), run.headers[i].end());
      stream.insert(stream.end(), run.packets[i].begin(), run.packets[i].end());
    }
    const DemuxedAudio demuxed = DemuxAndDecode(stream, "aac");
    ASSERT_TRUE(demuxed.opened);
    EXPECT_EQ(demuxed.packets, static_cast<int>(run.packets.size()));
    EXPECT_EQ(demuxed.frames, static_cast<int>(run.packets.size()));
    EXPECT_EQ(demuxed.samples, static_cast<int64_t>(run.packets.size()) * 1024);
    EXPECT_EQ(demuxed.rate, 44100);
    EXPECT_EQ(demuxed.channels, 2);
  }
}

}  // namespace
}  // namespace codec_test
