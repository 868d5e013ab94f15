#include <gtest/gtest.h>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace {

using namespace codec_interface;

AVFrame* NewFrameWithBuffer() {
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_GRAY8;
  frame->width = 16;
  frame->height = 2;
  EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
  return frame;
}

AVPacket* NewPacketWithBuffer() {
  AVPacket* packet = av_packet_alloc();
  EXPECT_EQ(av_new_packet(packet, 32), 0);
  return packet;
}

TEST(OutParam, NewObject_IsZeroedKeepsFlagsAndClearDoesNothing) {
  CVideoDecodeOutParam out(6);
  EXPECT_EQ(out.m_nFlag, 6);
  EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_NONE);
  EXPECT_FALSE(out.m_bDecodeError);
  EXPECT_EQ(out.m_outData[19].pData[3], nullptr);
  out.Clear();
  out.Clear();
  EXPECT_EQ(out.m_nNum, 0);
  for (int k = 0; k < OUTPARAM_MAX_COUNT; ++k) {
    EXPECT_EQ(out.m_pFrame[k], nullptr);
    EXPECT_EQ(out.m_pPacket[k], nullptr);
  }
}

// In cache mode (flag bit 0 clear, whatever other bits say) Clear only drops the data of the
// producer's objects; the producer still owns and later frees them.
TEST(OutParam, CacheMode_ClearUnreferencesButDoesNotFree) {
  FramePtr frame(NewFrameWithBuffer());
  PacketPtr packet(NewPacketWithBuffer());
  {
    CAudioEncodeOutParam out(2);
    out.m_pFrame[0] = frame.get();
    out.m_pPacket[0] = packet.get();
    out.m_nNum = 1;
    out.Clear();
    EXPECT_EQ(out.m_nNum, 0);
    EXPECT_EQ(out.m_pFrame[0], nullptr);
    EXPECT_EQ(out.m_pPacket[0], nullptr);
  }
  EXPECT_EQ(frame->buf[0], nullptr);
  EXPECT_EQ(packet->buf, nullptr);
  EXPECT_EQ(packet->size, 0);
}

TEST(OutParam, CacheMode_DestructorUnreferencesTheBorrowedFrame) {
  FramePtr frame(NewFrameWithBuffer());
  {
    CVideoDecodeOutParam out;
    out.m_pFrame[0] = frame.get();
    out.m_nNum = 1;
  }
  EXPECT_EQ(frame->buf[0], nullptr);
}

// Owning mode: the object frees what it holds (LeakSanitizer checks the destructor path).
TEST(OutParam, OwningMode_ClearAndDestructorFreeTheEntries) {
  CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
  out.m_pFrame[0] = NewFrameWithBuffer();
  out.m_pFrame[1] = NewFrameWithBuffer();
  out.m_nNum = 2;
  out.m_bDecodeError = true;
  out.m_outData[0].nLinesize[0] = 16;
  static_cast<COutParam&>(out).Clear();  // virtual: the override also resets the error flag
  EXPECT_EQ(out.m_nNum, 0);
  EXPECT_EQ(out.m_pFrame[1], nullptr);
  EXPECT_FALSE(out.m_bDecodeError);
  EXPECT_EQ(out.m_outData[0].nLinesize[0], 16) << "records stay; m_nNum marks them invalid";

  CAudioEncodeOutParam packets(OUTPARAM_FLAG_NOT_USE_CACHE);
  packets.m_pPacket[0] = NewPacketWithBuffer();
  packets.m_nNum = 1;
}

TEST(OutParam, OwningCopy_TakesItsOwnReferences) {
  CVideoDecodeOutParam source(OUTPARAM_FLAG_NOT_USE_CACHE);
  source.m_pFrame[0] = NewFrameWithBuffer();
  source.m_nNum = 1;
  source.m_nWidth = 16;
  source.m_outData[0].pData[0] = source.m_pFrame[0]->data[0];
  {
    CVideoDecodeOutParam copy(source);
    ASSERT_EQ(copy.m_nNum, 1);
    ASSERT_NE(copy.m_pFrame[0], nullptr);
    EXPECT_NE(copy.m_pFrame[0], source.m_pFrame[0]);
    EXPECT_EQ(copy.m_pFrame[0]->data[0], source.m_pFrame[0]->data[0]);
    EXPECT_EQ(copy.m_outData[0].pData[0], source.m_pFrame[0]->data[0]);
    EXPECT_EQ(copy.m_nWidth, 16);
    EXPECT_EQ(av_buffer_get_ref_count(source.m_pFrame[0]->buf[0]), 2);
  }
  // The copy freed only its own reference.
  EXPECT_EQ(av_buffer_get_ref_count(source.m_pFrame[0]->buf[0]), 1);
}

TEST(OutParam, OwningMove_LeavesTheSourceUnchangedAndFreesNothingTwice) {
  CAudioEncodeOutParam source(OUTPARAM_FLAG_NOT_USE_CACHE);
  source.m_pPacket[0] = NewPacketWithBuffer();
  source.m_outData[0].nHeaderSize = 7;
  source.m_nNum = 1;
  AVPacket* original = source.m_pPacket[0];
  CAudioEncodeOutParam moved(std::move(source));
  EXPECT_EQ(source.m_nNum, 1);
  EXPECT_EQ(source.m_pPacket[0], original);
  ASSERT_NE(moved.m_pPacket[0], nullptr);
  EXPECT_NE(moved.m_pPacket[0], original);
  EXPECT_EQ(moved.m_pPacket[0]->data, original->data);
  EXPECT_EQ(moved.m_outData[0].nHeaderSize, 7);
}

TEST(OutParam, CacheCopy_CopiesTheEntryPointers) {
  FramePtr frame(NewFrameWithBuffer());
  CAudioDecodeOutParam source;
  source.m_pFrame[0] = frame.get();
  source.m_nNum = 1;
  CAudioDecodeOutParam copy(source);
  CAudioDecodeOutParam moved(std::move(source));
  EXPECT_EQ(copy.m_pFrame[0], frame.get());
  EXPECT_EQ(moved.m_pFrame[0], frame.get());
  EXPECT_EQ(source.m_pFrame[0], frame.get());
  EXPECT_EQ(av_buffer_get_ref_count(frame->buf[0]), 1);
  copy.Clear();
  moved.Clear();
  source.Clear();
}

}  // namespace
