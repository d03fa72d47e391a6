#include "text/byte_buffer.h"

#include <cstring>

#include <gtest/gtest.h>

#include "support/allocation_budget.h"

namespace kestario {
namespace {

ByteBuffer Bytes(const char* bytes) {
  ByteBuffer buffer;
  buffer.SetBytes(bytes, static_cast<uint32_t>(std::strlen(bytes)));
  return buffer;
}

bool Holds(const ByteBuffer& buffer, const char* bytes) {
  const uint32_t size = static_cast<uint32_t>(std::strlen(bytes));
  return buffer.GetSize() == size &&
         (size == 0 || std::memcmp(buffer.GetConstData(), bytes, size) == 0);
}

class ByteBufferTest : public AllocationGateTest {};

TEST_F(ByteBufferTest, NewBufferHasNoStorage) {
  ByteBuffer buffer;
  EXPECT_EQ(buffer.GetConstData(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST_F(ByteBufferTest, AllocateReplacesContentsWithZeros) {
  ByteBuffer buffer = Bytes("abc");
  ASSERT_TRUE(buffer.Allocate(5));
  ASSERT_EQ(buffer.GetSize(), 5u);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(buffer.GetData()[i], 0);
  EXPECT_EQ(buffer.GetData(), buffer.GetConstData());
}

TEST_F(ByteBufferTest, AllocateZeroGivesStorageOfNoBytes) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.Allocate(0));
  EXPECT_NE(buffer.GetConstData(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST_F(ByteBufferTest, AppendsGrowExactly) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.AppendBytes("abcd", 4));
  ASSERT_TRUE(buffer.AppendBytes("efgh", 4));
  EXPECT_TRUE(Holds(buffer, "abcdefgh"));
  ASSERT_TRUE(buffer.AppendBytes("", 0));
  EXPECT_TRUE(Holds(buffer, "abcdefgh"));
}

TEST_F(ByteBufferTest, SelfAssignmentAndSelfAppendKeepBytes) {
  ByteBuffer buffer = Bytes("xyz");
  ByteBuffer& alias = buffer;
  buffer = alias;
  EXPECT_TRUE(Holds(buffer, "xyz"));
  buffer.AssignBuffer(buffer);
  EXPECT_TRUE(Holds(buffer, "xyz"));
  buffer.AppendBuffer(buffer);
  EXPECT_TRUE(Holds(buffer, "xyzxyz"));
  buffer.SetBytes(buffer.GetConstData() + 2, 3);  // A part of its own block.
  EXPECT_TRUE(Holds(buffer, "zxy"));
}

TEST_F(ByteBufferTest, CopiesOwnTheirBytes) {
  ByteBuffer original = Bytes("ab");
  ByteBuffer copy(original);
  EXPECT_NE(copy.GetConstData(), original.GetConstData());
  copy.GetData()[0] = 'z';
  EXPECT_TRUE(Holds(original, "ab"));
  ByteBuffer joined = original.ConcatBuffer(Bytes("cd"));
  EXPECT_TRUE(Holds(joined, "abcd"));
  EXPECT_TRUE(Holds(original, "ab"));
}

TEST_F(ByteBufferTest, ComparisonsUseTheOtherLength) {
  const ByteBuffer abc = Bytes("abc");
  const ByteBuffer ab = Bytes("ab");
  const ByteBuffer ac = Bytes("ac");
  EXPECT_TRUE(abc.IsEqual(ab));
  EXPECT_FALSE(abc.IsNotEqual(ab));
  EXPECT_TRUE(ab.IsLess(ac));
  EXPECT_TRUE(ab.IsLessOrEqual(ac));
  EXPECT_TRUE(ac.IsGreater(ab));
  EXPECT_TRUE(ac.IsGreaterOrEqual(ab));
  EXPECT_TRUE(ab.IsEqual(ByteBuffer()));  // No bytes to compare.
  const ByteBuffer high = Bytes("\xff");
  EXPECT_TRUE(high.IsGreater(Bytes("a")));  // Bytes compare unsigned.
}

TEST_F(ByteBufferTest, ShorterBufferIsLessAndIsNotReadPastItsEnd) {
  const ByteBuffer ab = Bytes("ab");
  const ByteBuffer abc = Bytes("abc");
  EXPECT_TRUE(ab.IsLess(abc));
  EXPECT_FALSE(ab.IsEqual(abc));
  EXPECT_TRUE(ByteBuffer().IsLess(ab));
}

TEST_F(ByteBufferTest, SubBufferCopiesAndClips) {
  const ByteBuffer abcd = Bytes("abcd");
  EXPECT_TRUE(Holds(abcd.SubBuffer(1, 2), "bc"));
  EXPECT_TRUE(Holds(abcd, "abcd"));
  EXPECT_TRUE(Holds(abcd.SubBuffer(2, 100), "cd"));
  EXPECT_TRUE(Holds(abcd.SubBuffer(3, UINT32_MAX), "d"));
  EXPECT_EQ(abcd.SubBuffer(4, 1).GetSize(), 0u);
  EXPECT_EQ(abcd.SubBuffer(UINT32_MAX, UINT32_MAX).GetSize(), 0u);
}

TEST_F(ByteBufferTest, RemoveCases) {
  ByteBuffer buffer = Bytes("012345678901");
  buffer.Remove(4, 4);
  EXPECT_TRUE(Holds(buffer, "01238901"));

  buffer = Bytes("012345678901");
  buffer.Remove(8, 4);
  EXPECT_TRUE(Holds(buffer, "01234567"));

  buffer = Bytes("012345678901");
  buffer.Remove(0, 4);
  EXPECT_TRUE(Holds(buffer, "45678901"));

  buffer.Remove(0, buffer.GetSize());
  EXPECT_EQ(buffer.GetConstData(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST_F(ByteBufferTest, RemoveOutsideTheBufferIsSafe) {
  ByteBuffer buffer = Bytes("abcd");
  buffer.Remove(1, 0);
  EXPECT_TRUE(Holds(buffer, "abcd"));
  buffer.Remove(4, 1);
  buffer.Remove(UINT32_MAX, UINT32_MAX);
  EXPECT_TRUE(Holds(buffer, "abcd"));
  buffer.Remove(2, UINT32_MAX);
  EXPECT_TRUE(Holds(buffer, "ab"));
  ByteBuffer empty;
  empty.Remove(0, 4);
  EXPECT_EQ(empty.GetSize(), 0u);
}

TEST_F(ByteBufferTest, PointerStackUsage) {
  ByteBuffer stack;
  int lists[3] = {};
  for (int& list : lists) {
    int* entry = &list;
    ASSERT_TRUE(stack.AppendBytes(&entry, sizeof(entry)));
  }
  stack.Remove(sizeof(int*), sizeof(int*));
  ASSERT_EQ(stack.GetSize(), 2 * sizeof(int*));
  int* entries[2];
  std::memcpy(entries, stack.GetData(), sizeof(entries));
  EXPECT_EQ(entries[0], &lists[0]);
  EXPECT_EQ(entries[1], &lists[2]);
}

TEST_F(ByteBufferTest, FailedAllocationsLeaveTheBufferEmpty) {
  ByteBuffer buffer = Bytes("abcd");
  g_allocations_left = 0;
  EXPECT_FALSE(buffer.Allocate(3));
  EXPECT_EQ(buffer.GetConstData(), nullptr);

  g_allocations_left = -1;
  buffer = Bytes("abcd");
  g_allocations_left = 0;
  EXPECT_FALSE(buffer.SetBytes("xy", 2));
  EXPECT_EQ(buffer.GetConstData(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);

  g_allocations_left = -1;
  buffer = Bytes("abcd");
  g_allocations_left = 0;
  EXPECT_FALSE(buffer.AppendBytes("xy", 2));  // The old contents are gone too.
  EXPECT_EQ(buffer.GetConstData(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);

  g_allocations_left = -1;
  const ByteBuffer source = Bytes("ab");
  g_allocations_left = 0;
  const ByteBuffer copy(source);
  EXPECT_EQ(copy.GetSize(), 0u);
  EXPECT_EQ(source.ConcatBuffer(source).GetSize(), 0u);
  EXPECT_EQ(AllocateBlock(1), nullptr);
}

}  // namespace
}  // namespace kestario
