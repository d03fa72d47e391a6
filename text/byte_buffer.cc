#include "text/byte_buffer.h"

#include <cstdlib>
#include <cstring>

namespace kestario {

namespace {

AllocationGate g_allocation_gate = nullptr;

}  // namespace

void SetAllocationGate(AllocationGate gate) { g_allocation_gate = gate; }

// Asks the heap for at least one byte, so that a block of size 0 is still a real block (the heap
// may answer malloc(0) with null). The byte past a 0-size block is zeroed by Allocate.
void* AllocateBlock(size_t size) {
  if (size > kMaxBlockSize) return nullptr;
  if (g_allocation_gate != nullptr && !g_allocation_gate(size)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void ReleaseBlock(void* block) { std::free(block); }

ByteBuffer::ByteBuffer() { Init(); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) {
  Init();
  AssignBuffer(other);
}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) { return AssignBuffer(other); }

ByteBuffer::~ByteBuffer() { Free(); }

void ByteBuffer::Init() {
  data_ = nullptr;
  length_ = 0;
}

void ByteBuffer::Free() {
  if (data_ != nullptr) ReleaseBlock(data_);
  data_ = nullptr;
  length_ = 0;
}

bool ByteBuffer::Allocate(uint32_t size) {
  Free();
  void* block = AllocateBlock(size);
  if (block == nullptr) return false;
  std::memset(block, 0, size == 0 ? 1 : size);
  data_ = static_cast<uint8_t*>(block);
  length_ = size;
  return true;
}

// The new block is filled before the old one is released, so the source may lie in this buffer.
// A null source with a nonzero size gives that many zero bytes.
bool ByteBuffer::SetBytes(const void* source, uint32_t size) {
  void* block = AllocateBlock(size);
  if (block == nullptr) {
    Free();
    return false;
  }
  std::memset(block, 0, size == 0 ? 1 : size);
  if (source != nullptr && size != 0) std::memcpy(block, source, size);
  Free();
  data_ = static_cast<uint8_t*>(block);
  length_ = size;
  return true;
}

// As SetBytes, the old block stays alive until the new one holds both parts. A total beyond the
// 32-bit length is an allocation failure.
bool ByteBuffer::AppendBytes(const void* source, uint32_t size) {
  const uint64_t total = static_cast<uint64_t>(length_) + size;
  void* block = total > UINT32_MAX ? nullptr : AllocateBlock(static_cast<size_t>(total));
  if (block == nullptr) {
    Free();
    return false;
  }
  uint8_t* bytes = static_cast<uint8_t*>(block);
  std::memset(bytes, 0, total == 0 ? 1 : static_cast<size_t>(total));
  if (length_ != 0) std::memcpy(bytes, data_, length_);
  if (source != nullptr && size != 0) std::memcpy(bytes + length_, source, size);
  Free();
  data_ = bytes;
  length_ = static_cast<uint32_t>(total);
  return true;
}

const uint8_t* ByteBuffer::GetConstData() const { return data_; }

uint8_t* ByteBuffer::GetData() { return data_; }

ByteBuffer& ByteBuffer::AssignBuffer(const ByteBuffer& other) {
  SetBytes(other.data_, other.length_);
  return *this;
}

ByteBuffer& ByteBuffer::AppendBuffer(const ByteBuffer& other) {
  AppendBytes(other.data_, other.length_);
  return *this;
}

ByteBuffer ByteBuffer::ConcatBuffer(const ByteBuffer& other) const {
  ByteBuffer copy(*this);
  copy.AppendBuffer(other);
  return copy;
}

int ByteBuffer::Compare(const ByteBuffer& other) const {
  for (uint32_t i = 0; i < other.length_; ++i) {
    if (i >= length_) return -1;
    if (data_[i] != other.data_[i]) return data_[i] < other.data_[i] ? -1 : 1;
  }
  return 0;
}

bool ByteBuffer::IsEqual(const ByteBuffer& other) const { return Compare(other) == 0; }
bool ByteBuffer::IsNotEqual(const ByteBuffer& other) const { return Compare(other) != 0; }
bool ByteBuffer::IsGreaterOrEqual(const ByteBuffer& other) const { return Compare(other) >= 0; }
bool ByteBuffer::IsGreater(const ByteBuffer& other) const { return Compare(other) > 0; }
bool ByteBuffer::IsLessOrEqual(const ByteBuffer& other) const { return Compare(other) <= 0; }
bool ByteBuffer::IsLess(const ByteBuffer& other) const { return Compare(other) < 0; }

// An offset at or past the end gives a buffer without storage; a count running past the end is
// cut at the end.
ByteBuffer ByteBuffer::SubBuffer(uint32_t offset, uint32_t count) const {
  ByteBuffer part;
  if (offset >= length_) return part;
  if (count > length_ - offset) count = length_ - offset;
  part.SetBytes(data_ + offset, count);
  return part;
}

// Count 0 or an offset at or past the end changes nothing; a count running past the end removes
// up to the end.
void ByteBuffer::Remove(uint32_t offset, uint32_t count) {
  if (count == 0 || offset >= length_) return;
  if (count > length_ - offset) count = length_ - offset;
  if (offset + count == length_) {
    if (offset == 0) {
      Free();
    } else {
      AssignBuffer(SubBuffer(0, offset));
    }
  } else if (offset == 0) {
    AssignBuffer(SubBuffer(count, length_ - count));
  } else {
    const uint32_t tail = offset + count;
    AssignBuffer(SubBuffer(0, offset).ConcatBuffer(SubBuffer(tail, length_ - tail)));
  }
}

}  // namespace kestario
