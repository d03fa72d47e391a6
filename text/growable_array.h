// The program's one growable array: items of a trivially copyable type in one heap block that
// doubles its room as it grows, so that appending n items costs time in proportion to n. Running
// out of memory is an ordinary failure: Append and Reserve return false and leave the array as it
// was. No exceptions, no constructors or destructors of the items (they are moved as bytes).
//
// The block comes from the C heap (HeapMemory, the default), or from the text blocks' allocator
// (BlockMemory, text/byte_buffer.h), whose test gate lets the tests make it fail.
#ifndef KESTARIO_TEXT_GROWABLE_ARRAY_H_
#define KESTARIO_TEXT_GROWABLE_ARRAY_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "text/byte_buffer.h"

namespace kestario {

// malloc/realloc/free: a block that Release hands over is freed with std::free.
struct HeapMemory {
  static void* Grow(void* block, size_t /*used*/, size_t size) { return std::realloc(block, size); }
  static void Free(void* block) { std::free(block); }
};

// AllocateBlock/ReleaseBlock, through the tests' allocation gate.
struct BlockMemory {
  static void* Grow(void* block, size_t used, size_t size) {
    void* grown = AllocateBlock(size);
    if (grown == nullptr) return nullptr;
    if (used != 0) std::memcpy(grown, block, used);
    ReleaseBlock(block);
    return grown;
  }
  static void Free(void* block) { ReleaseBlock(block); }
};

template <typename T, typename Memory = HeapMemory>
class GrowableArray {
  static_assert(std::is_trivially_copyable<T>::value, "items are moved as bytes");

 public:
  // `firstRoom`: how many items the first block holds (then twice, four times, ...).
  explicit constexpr GrowableArray(size_t firstRoom = 8)
      : firstRoom_(firstRoom == 0 ? 1 : firstRoom) {}
  ~GrowableArray() { Memory::Free(items_); }
  GrowableArray(const GrowableArray&) = delete;
  GrowableArray& operator=(const GrowableArray&) = delete;

  // Room for at least `wanted` items in all; false when memory runs out.
  bool Reserve(size_t wanted) {
    if (wanted <= room_) return true;
    size_t room = room_ == 0 ? firstRoom_ : room_;
    while (room < wanted) {
      if (room > SIZE_MAX / 2 / sizeof(T)) return false;
      room *= 2;
    }
    void* grown = Memory::Grow(items_, count_ * sizeof(T), room * sizeof(T));
    if (grown == nullptr) return false;
    items_ = static_cast<T*>(grown);
    room_ = room;
    return true;
  }
  bool Append(const T& item) {
    if (!Reserve(count_ + 1)) return false;
    items_[count_++] = item;
    return true;
  }
  // Appends the `count` items at `items`, all or none.
  bool Append(const T* items, size_t count) {
    if (!Reserve(count_ + count)) return false;
    if (count != 0) std::memcpy(items_ + count_, items, count * sizeof(T));
    count_ += count;
    return true;
  }
  // Removes item `index`; the last item takes its place (the order is not kept).
  void RemoveAt(size_t index) { items_[index] = items_[--count_]; }
  // Keeps the first `count` items, or, with a larger `count` (at most room()), counts as items
  // those the caller has written into the room after them. The room stays.
  void SetCount(size_t count) { count_ = count; }
  void Clear() { count_ = 0; }
  // Empties the array and gives back its block.
  void Free() {
    Memory::Free(items_);
    items_ = nullptr;
    count_ = 0;
    room_ = 0;
  }
  // Hands the block over to the caller (to be freed with Memory::Free) and empties the array.
  T* Release() {
    T* items = items_;
    items_ = nullptr;
    count_ = 0;
    room_ = 0;
    return items;
  }

  size_t count() const { return count_; }
  size_t room() const { return room_; }
  bool empty() const { return count_ == 0; }
  T* items() { return items_; }
  const T* items() const { return items_; }
  T& operator[](size_t index) { return items_[index]; }
  const T& operator[](size_t index) const { return items_[index]; }
  T& Last() { return items_[count_ - 1]; }
  const T& Last() const { return items_[count_ - 1]; }

 private:
  T* items_ = nullptr;
  size_t count_ = 0;
  size_t room_ = 0;
  size_t firstRoom_;
};

}  // namespace kestario

#endif  // KESTARIO_TEXT_GROWABLE_ARRAY_H_
