#include "engine/comma_items.h"

#include <cstdint>
#include <cstring>

namespace kestario {

void CommaItems::Next(TextString* item) {
  if (next_ == nullptr) {
    item->Assign("");
    return;
  }
  const char* start = next_;
  const char* comma = std::strchr(start, ',');
  const char* end = comma != nullptr ? comma : start + std::strlen(start);
  next_ = comma != nullptr ? comma + 1 : nullptr;
  while (start < end && *start == ' ') ++start;
  while (end > start && end[-1] == ' ') --end;
  size_t length = static_cast<size_t>(end - start);
  if (length >= UINT32_MAX || !item->Allocate(static_cast<uint32_t>(length + 1))) {
    item->Free();
    return;
  }
  std::memcpy(item->GetText(), start, length);
}

}  // namespace kestario
