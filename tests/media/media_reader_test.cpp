#include <fstream>
#include <map>

#include "support/media.h"

extern "C" {
#include <libavutil/display.h>
}

namespace {

using namespace codec_test;

struct Read { MediaPacket packet; Bytes data; };  // a packet and a copy of its bytes

// Every packet the reader hands out in the form, from where it stands.
std::vector<Read> ReadAll(IMediaReader& reader, MediaPacketForm form) {
  EXPECT_EQ(reader.SetPacketForm(form), 0);
  std::vector<Read> out;
  for (MediaPacket p{}; reader.ReadPacket(&p) == 1;) out.push_back({p, Bytes(p.pData, p.pData + p.nSize)});
  return out;
}

// Each file against plain libavformat: the file's and every stream's facts, every packet as
// stored (bytes, timestamps, flags), and in decoder form the same packets in the library's form.
TEST(MediaReader, FactsAndPacketsMatchLibavformatInEveryContainer) {
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 25, {{"flags", "+global_header"}});
  const EncodedStream annexB = EncodeVideo("libx264", 64, 48, 12);
  const EncodedStream reordered = EncodeVideo("libx264", 64, 48, 25, {{"flags", "+global_header"}, {"bf", "2"}});
  EncodedStream hevc = EncodeVideo("libx265", 64, 48, 12, {{"flags", "+global_header"}, {"pixel_format", "yuv420p10le"},
                                   {"colorspace", "bt709"}, {"color_primaries", "bt709"}, {"color_trc", "bt709"},
                                   {"color_range", "pc"}});
  hevc.timeBase = {1001, 60000}, hevc.metadata = {{"language", "eng"}};
  for (PacketPtr& p : hevc.packets) p->duration = 1;
  AVPacketSideData* side = av_packet_side_data_new(&hevc.params->coded_side_data, &hevc.params->nb_coded_side_data,
                                                   AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t), 0);
  av_display_rotation_set(reinterpret_cast<int32_t*>(side->data), 90);  // shown turned clockwise
  EncodedStream resized = EncodeVideo("libx264", 64, 48, 12);  // parameters change: 96x64 from picture 12
  for (PacketPtr& p : EncodeVideo("libx264", 96, 64, 12).packets) p->pts += 12, p->dts += 12, resized.packets.push_back(std::move(p));
  const EncodedStream aac = EncodeTone("aac", 44100, 2, 20 * 1024);
  const EncodedStream opus = EncodeTone("libopus", 48000, 2, 9600);
  const EncodedStream mulaw = EncodeTone("pcm_mulaw", 8000, 1, 4000);
  const std::tuple<const char*, const char*, std::vector<const EncodedStream*>> cases[] = {
      {"clip ñandú.mp4", "mp4", {&h264, &aac}}, {"av.mkv", "matroska", {&h264, &opus}},
      {"hevc10.mp4", "mp4", {&hevc}},           {"av.ts", "mpegts", {&annexB, &aac}},
      {"a.ogg", "ogg", {&opus}},                {"u.wav", "wav", {&mulaw}},
      {"v.h264", "h264", {&annexB}},            {"resized.ts", "mpegts", {&resized, &aac}},
      {"reordered.mkv", "matroska", {&reordered, &aac}}, {"reordered.avi", "avi", {&reordered}}};
  const std::map<AVCodecID, CodecType> kDecoders = {
      {AV_CODEC_ID_H264, AV_CODEC_TYPE_H264DEC}, {AV_CODEC_ID_HEVC, AV_CODEC_TYPE_HEVCDEC}, {AV_CODEC_ID_AAC, AV_CODEC_TYPE_AACDEC},
      {AV_CODEC_ID_OPUS, AV_CODEC_TYPE_OPUSDEC}, {AV_CODEC_ID_PCM_MULAW, AV_CODEC_TYPE_G711UDEC}};
  for (const auto& [name, muxer, streams] : cases) {
    SCOPED_TRACE(name);
    const ScratchFile file(name);
    WriteMediaFile(file.path, muxer, streams);
    const InputFormatCtxPtr plain = OpenInput(file.path);
    ASSERT_NE(plain, nullptr);
    auto reader = IMediaReader::Create();
    ScopedLogCapture capture;
    ASSERT_EQ(reader->Open(file.path.c_str()), 0);
    MediaFileInfo file_info{};
    ASSERT_EQ(reader->GetFileInfo(&file_info), 0);
    EXPECT_EQ(std::tuple(std::string(file_info.szFormatName), file_info.nDurationUs, file_info.nStreamCount),
              std::tuple(std::string(plain->iformat->name), plain->duration, int(plain->nb_streams)));
    for (unsigned i = 0; i < plain->nb_streams; ++i) {
      const AVStream* st = plain->streams[i];
      const AVCodecParameters* par = st->codecpar;
      MediaStreamInfo s{};
      ASSERT_EQ(reader->GetStreamInfo(int(i), &s), 0);
      EXPECT_EQ(std::tuple(s.nIndex, std::string(s.szCodecName), s.eDecoderType, s.nTimeBaseNum, s.nTimeBaseDen, s.nWidth,
                           s.nHeight, s.nSampleRate, s.nChannels, Bytes(s.pExtradata, s.pExtradata + s.nExtradataSize)),
                std::tuple(int(i), std::string(avcodec_get_name(par->codec_id)), kDecoders.at(par->codec_id),
                           st->time_base.num, st->time_base.den, par->width, par->height, par->sample_rate,
                           par->ch_layout.nb_channels, Bytes(par->extradata, par->extradata + par->extradata_size)));
      // Every H.264 stream is 25 pictures a second: AVI's times leave room for the reordered
      // ones, at twice the rate.
      if (par->codec_id == AV_CODEC_ID_H264) { EXPECT_EQ(std::pair(s.nFrameRateNum, s.nFrameRateDen), std::pair(25, 1)); }
      if (par->codec_id == AV_CODEC_ID_HEVC) {  // the facts the file was tagged with
        EXPECT_EQ(std::tuple(s.nFrameRateNum, s.nFrameRateDen, s.nRotation, s.nBitDepth, std::string(s.szPixelFormat),
                             std::string(s.szLanguage), s.nColorMatrix, s.nColorRange, s.nColorPrimaries, s.nColorTransfer),
                  std::tuple(60000, 1001, 90, 10, std::string("yuv420p10le"), std::string("eng"), 1, 2, 1, 1));
      }
    }
    const bool video = plain->streams[0]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    EXPECT_EQ(reader->FindBestStream(MEDIA_STREAM_VIDEO), video ? 0 : -1);
    std::vector<PacketPtr> packets;
    for (PacketPtr p(av_packet_alloc()); av_read_frame(plain.get(), p.get()) >= 0; p.reset(av_packet_alloc())) {
      packets.push_back(std::move(p));
    }
    const std::vector<Read> stored = ReadAll(*reader, MEDIA_PACKET_FORM_STORED);
    ASSERT_EQ(stored.size(), packets.size());
    reader->Close();  // and again from the start
    ASSERT_EQ(reader->Open(file.path.c_str()), 0);
    const std::vector<Read> decoder = ReadAll(*reader, MEDIA_PACKET_FORM_DECODER);
    std::map<int, int64_t> lastDts;
    for (size_t k = 0; k < packets.size(); ++k) {
      const AVPacket& p = *packets[k];
      const MediaPacket& m = stored[k].packet;
      const AVRational tb = plain->streams[p.stream_index]->time_base;
      EXPECT_EQ(std::tuple(m.nStreamIndex, m.nPts, m.nDuration, m.nPtsUs, m.nFlags, stored[k].data),
                std::tuple(p.stream_index, p.pts, p.duration, p.pts == AV_NOPTS_VALUE ? MEDIA_NO_TIMESTAMP : av_rescale_q(p.pts, tb, {1, 1000000}),
                           p.flags & AV_PKT_FLAG_KEY, Bytes(p.data, p.data + p.size))) << k;
      // FFmpeg's decoding time where it has one; Matroska's first reordered pictures have none,
      // and get one before the next and not after their presentation.
      if (p.dts != AV_NOPTS_VALUE || p.pts == AV_NOPTS_VALUE) { EXPECT_EQ(m.nDts, p.dts) << k; }
      else { EXPECT_TRUE(m.nDts <= m.nPts && (!lastDts.contains(m.nStreamIndex) || m.nDts > lastDts[m.nStreamIndex])) << k; }
      lastDts[m.nStreamIndex] = m.nDts;
    }
    // In decoder form the same packets, but none empty.
    std::vector<Read> nonEmpty;
    std::copy_if(stored.begin(), stored.end(), std::back_inserter(nonEmpty), [](const Read& r) { return r.packet.nSize > 0; });
    ASSERT_EQ(decoder.size(), nonEmpty.size());
    for (size_t k = 0; k < decoder.size(); ++k) {
      const MediaPacket& d = decoder[k].packet;
      const MediaPacket& m = nonEmpty[k].packet;
      EXPECT_EQ(std::tuple(d.nStreamIndex, d.nPts, d.nDts, d.nFlags), std::tuple(m.nStreamIndex, m.nPts, m.nDts, m.nFlags));
      const AVCodecID id = plain->streams[d.nStreamIndex]->codecpar->codec_id;
      const Bytes& b = decoder[k].data;
      const bool inBand = id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC;
      const bool form = inBand ? b.size() > 4 && Bytes(b.begin(), b.begin() + 4) == Bytes{0, 0, 0, 1}
                        : id == AV_CODEC_ID_AAC ? (b[0] << 4 | b[1] >> 4) == 0xFFF  // ADTS
                                                : b == nonEmpty[k].data;
      EXPECT_TRUE(form) << k;
    }
    // The library's decoders get no extradata: the pictures' decoder form alone decodes whole.
    std::vector<Bytes> pictures;
    for (const Read& r : decoder) { if (video && r.packet.nStreamIndex == 0) pictures.push_back(r.data); }
    if (video) { EXPECT_EQ(DecodeWith(avcodec_get_name(plain->streams[0]->codecpar->codec_id), pictures).size(), pictures.size()); }
    EXPECT_EQ(capture->OwnLines().size(), video ? 0u : 1u);  // "has no video stream"
  }
}

// 5.1 (channel configuration 6) and 7 channels (configuration 0 with a program config element):
// the library's AAC decoder learns the layout from the packets alone and decodes them all.
TEST(MediaReader, MultichannelAacDecodesInTheLibrary) {
  for (const int channels : {6, 7}) {
    SCOPED_TRACE(channels);
    const EncodedStream aac = EncodeTone("aac", 48000, channels, 10 * 1024);
    const ScratchFile file("multi.mp4"), adts("multi.aac");
    WriteMediaFile(file.path, "mp4", {&aac});
    WriteMediaFile(adts.path, "adts", {&aac});  // FFmpeg's own framing: the element in the first frame
    auto reader = IMediaReader::Create();
    ASSERT_EQ(reader->Open(file.path.c_str()), 0);
    const CodecParam param = AudioParam(48000, 48000, channels, channels, 3, 3);
    std::vector<Bytes> packets;
    for (const Read& r : ReadAll(*reader, MEDIA_PACKET_FORM_DECODER)) packets.push_back(r.data);
    EXPECT_EQ(packets.at(0), ReadMediaFile(adts.path).packets.at(0).data);  // byte for byte
    const auto samples = int64_t(DecodeOurs(*OpenCodec(AV_CODEC_TYPE_AACDEC, param), packets, param.stAudio).size()) / channels;
    EXPECT_EQ(samples, ReadMediaFile(file.path).decoded + aac.initialPadding);  // FFmpeg drops the delay
  }
}

// After a seek reading starts at the key picture at or before the time, which the library's
// H.264 decoder decodes at once; every stream follows from there, but a disabled one.
TEST(MediaReader, SeekStartsAtAKeyFrameThatDecodes) {
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 50, {{"flags", "+global_header"}});
  const EncodedStream aac = EncodeTone("aac", 44100, 1, 90 * 1024);
  const ScratchFile file("seek.mp4");
  WriteMediaFile(file.path, "mp4", {&h264, &aac});
  auto reader = IMediaReader::Create();
  ASSERT_EQ(reader->Open(file.path.c_str()), 0);
  const auto decoder = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_YUV420P));
  for (const int64_t time : {1'100'000, 400'000, 0}) {
    SCOPED_TRACE(time);
    ASSERT_EQ(reader->Seek(time), 0);
    MediaPacket p{};
    do ASSERT_EQ(reader->ReadPacket(&p), 1); while (p.nStreamIndex != 0);  // the first picture
    EXPECT_EQ(std::tuple(p.nPtsUs, p.nFlags), std::tuple(time / 400'000 * 400'000, MEDIA_PACKET_KEY));
    CVideoDecodeOutParam out;
    EXPECT_EQ(decoder->Decode(const_cast<uint8_t*>(p.pData), p.nSize, &out), 1);
  }
  ASSERT_EQ(reader->SetStreamEnabled(0, false), 0);  // only the sound from here on
  for (const Read& r : ReadAll(*reader, MEDIA_PACKET_FORM_STORED)) EXPECT_EQ(r.packet.nStreamIndex, 1);
}

// Inputs that cannot be read: one line naming the cause, at its level, from the call that fails.
TEST(MediaReader, BadInputsGiveOneLineNamingTheCause) {
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 10, {{"flags", "+global_header"}});
  const EncodedStream aac = EncodeTone("aac", 44100, 1, 20 * 1024);
  EncodedStream cover = EncodeVideo("mjpeg", 48, 32, 1, {{"q:v", "20"}});
  cover.disposition = AV_DISPOSITION_ATTACHED_PIC;
  const EncodedStream mpeg4 = EncodeVideo("mpeg4", 64, 48, 4);
  const EncodedStream mp2 = EncodeTone("mp2", 44100, 1, 4 * 1152);
  const ScratchFile whole("whole.mp4"), half("half.mp4"), cut("cut.mp4"), empty("empty.mp4"), art("art.mp4"),
      other("other.mkv"), folder("folder");
  WriteMediaFile(whole.path, "mp4", {&h264, &aac});
  WriteMediaFile(art.path, "mp4", {&aac, &cover});
  WriteMediaFile(other.path, "matroska", {&mpeg4, &mp2});
  WriteMediaFile(cut.path, "mp4", {&h264, &aac}, {{"movflags", "+faststart"}});  // the index in front
  std::filesystem::resize_file(cut.path, std::filesystem::file_size(cut.path) - 300);
  WriteMediaFile(half.path, "mp4", {&h264, &aac});  // the index is written last
  std::filesystem::resize_file(half.path, std::filesystem::file_size(half.path) / 2);
  std::ofstream(empty.path).flush();
  std::filesystem::create_directory(folder.path);
  // The path, the call that fails after Open (none: Open fails), the line's level and text after "[CODE]MediaReader".
  const std::tuple<std::string, std::function<int(IMediaReader&)>, int, std::string> cases[] = {
      {whole.path + ".missing", {}, 60, " Open[%s] failed: " + ErrorText(AVERROR(ENOENT))},
      {folder.path, {}, 60, " Open[%s] failed: it is a folder"},
      {empty.path, {}, 60, " Open[%s] failed: the file is empty"},
      {half.path, {}, 60, " Open[%s] failed: " + ErrorText(AVERROR_INVALIDDATA)},
#if !defined(_WIN32)  // a file that opens but cannot be read, which only Linux has at hand
      {"/proc/self/mem", {}, 60, " Open[%s] failed: " + ErrorText(AVERROR(EIO))},
#endif
      {cut.path, [](IMediaReader& r) { MediaPacket p{}; int got = 1; while ((got = r.ReadPacket(&p)) == 1) {} return got; }, 60,
       " ReadPacket[%s] failed: the file ends inside a packet of stream 1"},
      {whole.path, [](IMediaReader& r) { return r.Seek(1'000'000); }, 60, " Seek[%s] to 1000000 us: past the end (463991 us)"},
      {art.path, [](IMediaReader& r) { return r.FindBestStream(MEDIA_STREAM_VIDEO); }, 40,
       "[%s] has no video stream the library decodes (stream 1 is cover art)"},
      {other.path, [](IMediaReader& r) { return r.FindBestStream(MEDIA_STREAM_AUDIO); }, 40,
       "[%s] has no audio stream the library decodes (stream 1 is mp2)"},
  };
  for (const auto& [path, call, level, line] : cases) {
    SCOPED_TRACE(line);
    auto reader = IMediaReader::Create();
    ScopedLogCapture capture;
    ASSERT_EQ(reader->Open(path.c_str()), call ? 0 : -1);
    EXPECT_EQ(call ? call(*reader) : -1, -1);
    char text[1024];
    std::snprintf(text, sizeof text, ("[CODE]MediaReader" + line).c_str(), path.c_str());
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{level, text}}));
  }
}

}  // namespace
