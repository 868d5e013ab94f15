#include "support/media.h"

namespace {

using namespace codec_interface;

AVFrame* NewFrame() { return codec_test::MakePicture(16, 2, AV_PIX_FMT_GRAY8, 0).release(); }

AVPacket* NewPacket() {
  AVPacket* packet = av_packet_alloc();
  EXPECT_EQ(av_new_packet(packet, 32), 0);
  return packet;
}

// Cache mode (bit 0 clear, whatever the other bits): Clear and the destructor only drop the
// data of the producer's objects, which the producer still owns and frees. Copies, moved ones
// too, borrow the same objects and leave the source as it was.
TEST(OutParam, CacheMode_UnreferencesButNeverFreesTheProducersObjects) {
  FramePtr frame(NewFrame()), kept(NewFrame());
  PacketPtr packet(NewPacket());
  {
    CAudioEncodeOutParam out(2);
    out.m_pFrame[0] = frame.get(), out.m_pPacket[0] = packet.get(), out.m_nNum = 1;
    out.Clear();
    EXPECT_EQ(std::tuple(out.m_nNum, out.m_pFrame[0], out.m_pPacket[0]), std::tuple(0, nullptr, nullptr));
    CVideoDecodeOutParam borrowed;
    borrowed.m_pFrame[0] = kept.get(), borrowed.m_nNum = 1;
    CVideoDecodeOutParam copy(borrowed), moved(std::move(borrowed));
    EXPECT_EQ(std::tuple(copy.m_pFrame[0], moved.m_pFrame[0], borrowed.m_pFrame[0]),
              std::tuple(kept.get(), kept.get(), kept.get()));
    EXPECT_EQ(av_buffer_get_ref_count(kept->buf[0]), 1);
    copy.Clear(), moved.Clear();
  }  // `borrowed` goes with its entry
  EXPECT_EQ(std::tuple(frame->buf[0], packet->buf, packet->size, kept->buf[0]),
            std::tuple(nullptr, nullptr, 0, nullptr));
}

// Owning mode: the object frees what it holds (LeakSanitizer checks the destructor path), and a
// copy or a moved object holds references of its own to the same data.
TEST(OutParam, OwningMode_FreesItsEntriesAndCopiesTakeTheirOwnReferences) {
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  out.m_pFrame[0] = NewFrame(), out.m_pFrame[1] = NewFrame(), out.m_nNum = 2;
  out.m_bDecodeError = true, out.m_outData[0].nLinesize[0] = 16;
  static_cast<COutParam&>(out).Clear();  // virtual: the override also resets the error flag
  EXPECT_EQ(std::tuple(out.m_nNum, out.m_pFrame[1], out.m_bDecodeError, out.m_outData[0].nLinesize[0]),
            std::tuple(0, nullptr, false, 16));  // records stay; m_nNum marks them invalid
  out.m_pFrame[0] = NewFrame(), out.m_nNum = 1;
  out.m_outData[0].pData[0] = out.m_pFrame[0]->data[0];
  {
    CVideoDecodeOutParam copy(out);
    EXPECT_NE(copy.m_pFrame[0], out.m_pFrame[0]);
    EXPECT_EQ(copy.m_outData[0].pData[0], out.m_pFrame[0]->data[0]);
    EXPECT_EQ(av_buffer_get_ref_count(out.m_pFrame[0]->buf[0]), 2);
  }
  EXPECT_EQ(av_buffer_get_ref_count(out.m_pFrame[0]->buf[0]), 1);
  CAudioEncodeOutParam source(OUTPARAM_FLAG_NOT_USE_CACHE);
  source.m_pPacket[0] = NewPacket(), source.m_outData[0].nHeaderSize = 7, source.m_nNum = 1;
  CAudioEncodeOutParam moved(std::move(source));
  ASSERT_NE(moved.m_pPacket[0], nullptr);
  EXPECT_EQ(std::tuple(source.m_nNum, moved.m_pPacket[0]->data, moved.m_outData[0].nHeaderSize),
            std::tuple(1, source.m_pPacket[0]->data, 7));
  EXPECT_NE(moved.m_pPacket[0], source.m_pPacket[0]);
}

}  // namespace
