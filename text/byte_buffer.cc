#include "text/byte_buffer.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <malloc.h>
#endif

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
// kSlabSize bytes, aligned to their size, one size class of 8-byte steps per slab, with no header:
// a released block goes on the free list of its class and is used again. A block's slab is its
// address with the low bits cleared, found in a hash table of the slabs. Slabs are kept until the
// program ends. The program is single-threaded. Sanitizer builds take every block from the heap,
// so that the sanitizer sees each one.
constexpr size_t kGrain = 8;
constexpr size_t kPoolLimit = 128;
constexpr size_t kClasses = kPoolLimit / kGrain;
constexpr size_t kSlabSize = 64 * 1024;
constexpr uintptr_t kSlabMask = ~static_cast<uintptr_t>(kSlabSize - 1);

struct FreeBlock {
  FreeBlock* next;
};

struct SmallBlocks {
  FreeBlock* freeBlocks[kClasses];
  char* next[kClasses];   // the unused rest of the class's newest slab
  char* limit[kClasses];  // its end
  // Open addressing: a slab's address plus its class (the low bits are free), 0 for an empty slot.
  uintptr_t* table;
  size_t tableSize;  // a power of two, at least twice the number of slabs
  size_t slabCount;
};
SmallBlocks g_small;  // zero-initialised before anything runs

size_t SlotOf(uintptr_t base, size_t tableSize) {
  return static_cast<size_t>(((base >> 16) * 0x9E3779B97F4A7C15ull) >> 20) & (tableSize - 1);
}

// The table entry of the slab that holds `block`, or 0.
uintptr_t SlabOf(const void* block) {
  if (g_small.tableSize == 0) return 0;
  uintptr_t base = reinterpret_cast<uintptr_t>(block) & kSlabMask;
  for (size_t slot = SlotOf(base, g_small.tableSize);;
       slot = (slot + 1) & (g_small.tableSize - 1)) {
    uintptr_t entry = g_small.table[slot];
    if (entry == 0) return 0;
    if ((entry & kSlabMask) == base) return entry;
  }
}

void Enter(uintptr_t* table, size_t tableSize, uintptr_t entry) {
  size_t slot = SlotOf(entry & kSlabMask, tableSize);
  while (table[slot] != 0) slot = (slot + 1) & (tableSize - 1);
  table[slot] = entry;
}

// Slabs are cut from regions of kRegionSlabs slabs, so that the heap's bookkeeping around an
// aligned block (a page before it) comes once per region; pages of a region that no block has
// used yet are never touched, and take no memory.
constexpr size_t kRegionSlabs = 32;
char* g_region = nullptr;
size_t g_regionSlabsUsed = kRegionSlabs;

void* AllocateSlab() {
  if (g_regionSlabsUsed == kRegionSlabs) {
#ifdef _WIN32
    void* region = _aligned_malloc(kSlabSize * kRegionSlabs, kSlabSize);
#else
    void* region = std::aligned_alloc(kSlabSize, kSlabSize * kRegionSlabs);
#endif
    if (region == nullptr) return nullptr;
    g_region = static_cast<char*>(region);
    g_regionSlabsUsed = 0;
  }
  return g_region + kSlabSize * g_regionSlabsUsed++;
}

// A fresh slab for `sizeClass`, entered in the table; false when memory runs out.
bool AddSlab(size_t sizeClass) {
  if ((g_small.slabCount + 1) * 2 > g_small.tableSize) {
    size_t tableSize = g_small.tableSize ? g_small.tableSize * 2 : 256;
    uintptr_t* table = static_cast<uintptr_t*>(std::calloc(tableSize, sizeof(uintptr_t)));
    if (table == nullptr) return false;
    for (size_t i = 0; i < g_small.tableSize; ++i) {
      if (g_small.table[i] != 0) Enter(table, tableSize, g_small.table[i]);
    }
    std::free(g_small.table);
    g_small.table = table;
    g_small.tableSize = tableSize;
  }
  char* base = static_cast<char*>(AllocateSlab());
  if (base == nullptr) return false;
  Enter(g_small.table, g_small.tableSize, reinterpret_cast<uintptr_t>(base) | sizeClass);
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
#ifdef KESTARIO_SMALL_BLOCKS_FROM_HEAP
  constexpr bool kFromSlabs = false;
#else
  constexpr bool kFromSlabs = true;
#endif
  if (kFromSlabs && size <= kPoolLimit) return AllocateSmall(size);
  return std::malloc(size);
}

void ReleaseBlock(void* block) {
  if (block == nullptr) return;
  if (uintptr_t slab = SlabOf(block)) {
    size_t sizeClass = static_cast<size_t>(slab & ~kSlabMask);
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    freed->next = g_small.freeBlocks[sizeClass];
    g_small.freeBlocks[sizeClass] = freed;
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
