// Walking the items of a comma list in one pass.
//
// Item i of a list is what list.GetToken(i, ",") gives, with the spaces at its ends trimmed (tabs
// stay). Asking GetToken for each index in turn rescans the list from its start every time, which
// costs the square of the list's length: a PROC or FILE list of many thousands of names would
// spend its time there. CommaItems gives the same items in order, each found where the last ended.
#ifndef KESTARIO_ENGINE_COMMA_ITEMS_H_
#define KESTARIO_ENGINE_COMMA_ITEMS_H_

#include "text/text_string.h"

namespace kestario {

class CommaItems {
 public:
  // The list must stay unchanged (and alive) while it is walked.
  explicit CommaItems(const TextString& list) : next_(list.GetConstText()) {}

  // Puts the next item, without the spaces at its ends, into `item`. Past the last item (and for
  // the empty list) the item is the empty text, as GetToken gives for an index out of range.
  // Allocation failure leaves `item` reading as the empty text.
  void Next(TextString* item);

 private:
  const char* next_;  // the start of the next item; null after the last one
};

}  // namespace kestario

#endif  // KESTARIO_ENGINE_COMMA_ITEMS_H_
