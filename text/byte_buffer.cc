#include "text/byte_buffer.h"

#include <cstdlib>
#include <cstring>

namespace kestario {

namespace {

AllocationGate g_allocation_gate = nullptr;

#if defined(__SANITIZE_ADDRESS__)
#define KESTARIO_SMALL_BLOCKS_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTARIO_SMALL_BLOCKS_FROM_HEAP 1
#endif
#endif

// Small blocks. Most of the program's blocks are short texts (section names, MODE words, paths)
// and the records of procedures; the heap gives each a header and rounds it up to 16 bytes, so
// that a 7-byte name takes 32. Blocks of up to kPoolLimit bytes come instead from slabs of
// kSlabSize bytes, one size class of 8-byte steps per slab, with no header: a released block goes
// on the free list of its class and is used again. Slabs are kept until the program ends. The
// program is single-threaded. Sanitizer builds take every block from the heap, so that the
// sanitizer sees each one.
constexpr size_t kGrain = 8;
constexpr size_t kPoolLimit = 128;
constexpr size_t kClasses = kPoolLimit / kGrain;
constexpr size_t kSlabSize = 64 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

struct Slab {
  char* base;
  size_t sizeClass;
};

struct SmallBlocks {
  FreeBlock* freeBlocks[kClasses];
  char* next[kClasses];   // the unused rest of the class's newest slab
  char* limit[kClasses];  // its end
  Slab* slabs;            // sorted by address
  size_t slabCount;
  size_t slabCapacity;
};
SmallBlocks g_small;  // zero-initialised before anything runs

// The slab that holds `block`, or null.
const Slab* SlabOf(const void* block) {
  const char* at = static_cast<const char*>(block);
  size_t low = 0;
  size_t high = g_small.slabCount;
  while (low < high) {  // the first slab whose base is above `at`
    size_t middle = low + (high - low) / 2;
    if (g_small.slabs[middle].base <= at) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return nullptr;
  const Slab* slab = &g_small.slabs[low - 1];
  return at < slab->base + kSlabSize ? slab : nullptr;
}

// A fresh slab for `sizeClass`, entered in the sorted list; false when memory runs out.
bool AddSlab(size_t sizeClass) {
  if (g_small.slabCount == g_small.slabCapacity) {
    size_t capacity = g_small.slabCapacity ? g_small.slabCapacity * 2 : 64;
    void* grown = std::realloc(g_small.slabs, capacity * sizeof(Slab));
    if (grown == nullptr) return false;
    g_small.slabs = static_cast<Slab*>(grown);
    g_small.slabCapacity = capacity;
  }
  char* base = static_cast<char*>(std::malloc(kSlabSize));
  if (base == nullptr) return false;
  size_t at = g_small.slabCount;
  while (at > 0 && g_small.slabs[at - 1].base > base) --at;
  std::memmove(&g_small.slabs[at + 1], &g_small.slabs[at], (g_small.slabCount - at) * sizeof(Slab));
  g_small.slabs[at] = Slab{base, sizeClass};
  ++g_small.slabCount;
  g_small.next[sizeClass] = base;
  g_small.limit[sizeClass] = base + kSlabSize;
  return true;
}

// A block of 1 to kPoolLimit bytes; null when memory runs out.
void* AllocateSmall(size_t size) {
  size_t sizeClass = (size - 1) / kGrain;
  if (FreeBlock* block = g_small.freeBlocks[sizeClass]) {
    g_small.freeBlocks[sizeClass] = block->next;
    return block;
  }
  size_t bytes = (sizeClass + 1) * kGrain;
  if (static_cast<size_t>(g_small.limit[sizeClass] - g_small.next[sizeClass]) < bytes &&
      !AddSlab(sizeClass)) {
    return nullptr;
  }
  void* block = g_small.next[sizeClass];
  g_small.next[sizeClass] += bytes;
  return block;
}

}  // namespace

void SetAllocationGate(AllocationGate gate) { g_allocation_gate = gate; }

// Asks for at least one byte, so that a block of size 0 is still a real block (the heap may answer
// malloc(0) with null). The byte past a 0-size block is zeroed by Allocate.
void* AllocateBlock(size_t size) {
  if (size > kMaxBlockSize) return nullptr;
  if (g_allocation_gate != nullptr && !g_allocation_gate(size)) return nullptr;
  if (size == 0) size = 1;
#ifndef KESTARIO_SMALL_BLOCKS_FROM_HEAP
  if (size <= kPoolLimit) return AllocateSmall(size);
#endif
  return std::malloc(size);
}

void ReleaseBlock(void* block) {
  if (block == nullptr) return;
  if (const Slab* slab = SlabOf(block)) {
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    freed->next = g_small.freeBlocks[slab->sizeClass];
    g_small.freeBlocks[slab->sizeClass] = freed;
    return;
  }
  std::free(block);
}

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
