#include <gtest/gtest.h>

#include <cstring>

#include "codec_interface.h"

namespace {

using namespace codec_interface;

template <class Record>
bool AllZero(const Record& r) {
  static const Record* zero = [] {
    auto* z = static_cast<Record*>(::operator new(sizeof(Record)));
    std::memset(static_cast<void*>(z), 0, sizeof(Record));
    return z;
  }();
  return std::memcmp(&r, zero, sizeof(Record)) == 0;
}

template <class Record>
class OutRecord : public testing::Test {};
using Records = testing::Types<VideoDecOutData, VideoEncOutData, AudioDecOutData, AudioEncOutData>;
TYPED_TEST_SUITE(OutRecord, Records);

TYPED_TEST(OutRecord, DefaultIsAllZeroAndCopiesKeepEveryField) {
  // Fill with garbage first so that the constructor really has to write zeros.
  alignas(TypeParam) unsigned char storage[sizeof(TypeParam)];
  std::memset(storage, 0xA5, sizeof storage);
  auto* record = new (storage) TypeParam();
  EXPECT_TRUE(AllZero(*record));

  TypeParam source;
  std::memset(static_cast<void*>(&source), 0x5C, sizeof source);
  TypeParam copied;
  copied = source;
  EXPECT_EQ(std::memcmp(&copied, &source, sizeof source), 0);
  TypeParam moved;
  moved = std::move(source);
  EXPECT_EQ(std::memcmp(&moved, &copied, sizeof source), 0);
  EXPECT_EQ(std::memcmp(&source, &copied, sizeof source), 0) << "move leaves the source as is";
  copied = *record;
  EXPECT_TRUE(AllZero(copied));
  record->~TypeParam();
}

}  // namespace
