// Packets a media reader has handed out, which a media writer may keep by reference instead of
// copying their bytes. A demuxer never changes a packet's bytes once it has handed them out, so a
// remux from reader to writer allocates and copies nothing per packet, as FFmpeg's own remux loop.
#pragma once

#include <cstdint>

#include "interface/av_ptr.h"

namespace codec_interface {

// Makes the bytes of pPacket (reference-counted) borrowable until WithdrawPacket: the owner
// changes or releases the packet only after withdrawing it.
void LendPacket(const AVPacket* pPacket);
void WithdrawPacket(const AVPacket* pPacket);

// A new reference to the buffer of the lent packet whose bytes end with these, or null when the
// bytes are no lent packet's. Bytes that stop short of a packet's end are not borrowed: FFmpeg
// expects zeroed padding after a packet's last byte.
BufferRefPtr BorrowPacketBytes(const uint8_t* pData, int nSize);

}  // namespace codec_interface
