// The largest block the program asks for: a larger request fails like an exhausted heap, so that
// a script whose definitions grow exponentially ends with empty texts instead of all memory.
#include <gtest/gtest.h>

#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {
namespace {

TEST(ByteBufferLimitTest, BlocksOverTheLimitAreRefused) {
  EXPECT_EQ(nullptr, AllocateBlock(kMaxBlockSize + 1));
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.SetBytes("abc", 3));
  EXPECT_FALSE(buffer.Allocate(static_cast<uint32_t>(kMaxBlockSize) + 1));
  EXPECT_EQ(0u, buffer.GetSize());
}

TEST(ByteBufferLimitTest, TextThatWouldPassTheLimitReadsAsEmpty) {
  TextString text("x");
  ASSERT_TRUE(text.Allocate(16));
  EXPECT_FALSE(text.Allocate(static_cast<uint32_t>(kMaxBlockSize) + 1));
  EXPECT_EQ(0, text.GetLength());
  EXPECT_STREQ("", text.GetConstText());
}

}  // namespace
}  // namespace kestario
