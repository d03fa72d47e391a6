// A heap block of bytes and its exact length: the one raw container of the program.
//
// The block never has spare room: every change allocates a new block of the exact new size and
// copies. Allocation failure is an ordinary result (a null block), never an exception.
#ifndef KESTARIO_TEXT_BYTE_BUFFER_H_
#define KESTARIO_TEXT_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>

namespace kestario {

class ByteBuffer {
 public:
  ByteBuffer();
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);

  // The virtual operations, in the order of the class's table.
  virtual ~ByteBuffer();
  virtual void Init();
  virtual void Free();
  virtual bool Allocate(uint32_t size);
  virtual bool SetBytes(const void* source, uint32_t size);
  virtual bool AppendBytes(const void* source, uint32_t size);
  virtual const uint8_t* GetConstData() const;
  virtual uint8_t* GetData();
  virtual ByteBuffer& AssignBuffer(const ByteBuffer& other);
  virtual ByteBuffer& AppendBuffer(const ByteBuffer& other);
  virtual ByteBuffer ConcatBuffer(const ByteBuffer& other) const;
  virtual bool IsEqual(const ByteBuffer& other) const;
  virtual bool IsNotEqual(const ByteBuffer& other) const;
  virtual bool IsGreaterOrEqual(const ByteBuffer& other) const;
  virtual bool IsGreater(const ByteBuffer& other) const;
  virtual bool IsLessOrEqual(const ByteBuffer& other) const;
  virtual bool IsLess(const ByteBuffer& other) const;
  // Out-of-range parts of the range are clipped to the buffer: the copy holds the bytes of
  // [offset, offset + count) that lie inside it, and is empty when none do.
  virtual ByteBuffer SubBuffer(uint32_t offset, uint32_t count) const;
  // Removes the bytes of [offset, offset + count) that lie inside the buffer; nothing for count 0.
  virtual void Remove(uint32_t offset, uint32_t count);

  // The size of the block in bytes (for a TextString: the text, its terminator and any room).
  uint32_t GetSize() const { return length_; }
  // Exchanges the blocks of two buffers without copying or allocating.
  void Swap(ByteBuffer& other) {
    uint8_t* data = data_;
    data_ = other.data_;
    other.data_ = data;
    uint32_t length = length_;
    length_ = other.length_;
    other.length_ = length;
  }

 protected:
  // Compares the first `other.length` bytes; a shorter buffer compares its missing bytes as
  // below every byte value, so nothing past the end of either block is ever read.
  int Compare(const ByteBuffer& other) const;

 private:
  uint8_t* data_;
  uint32_t length_;
};

// Test hook: when set, the allocation path asks it first and fails when it returns false.
// Lets tests exercise the out-of-memory paths; null in the program.
using AllocationGate = bool (*)(size_t size);
void SetAllocationGate(AllocationGate gate);

// The largest block the program asks the heap for: a larger request fails like an exhausted heap.
// Far beyond any script's needs (an eighth of what the 32-bit Windows program can address at
// all); on Linux it keeps a script whose definitions grow exponentially from taking all of the
// machine's memory.
constexpr size_t kMaxBlockSize = size_t{1} << 28;

// Allocates `size` bytes from the heap through the gate; null on failure (also for size 0 when the
// heap refuses, and for more than kMaxBlockSize). Released with ReleaseBlock.
void* AllocateBlock(size_t size);
void ReleaseBlock(void* block);

}  // namespace kestario

#endif  // KESTARIO_TEXT_BYTE_BUFFER_H_
