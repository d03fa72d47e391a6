// The one door through which TextString::LoadMessage reaches the numbered message catalog.
//
// The text layer knows nothing of where the catalog lives (a string table resource on Windows,
// a compiled-in table on Linux); the settings layer installs the loader at start-up.
#ifndef KESTARIO_TEXT_MESSAGE_CATALOG_H_
#define KESTARIO_TEXT_MESSAGE_CATALOG_H_

namespace kestario {

// Copies message `number` into `buffer` (at most size - 1 bytes and a terminator, a longer text
// cut) and returns the number of bytes copied; 0, with an empty buffer, when there is no such
// message. Shaped like LoadStringA.
using MessageLoader = int (*)(unsigned number, char* buffer, int size);

// Installs the loader; null removes it, and every message then loads as the empty text.
void SetMessageLoader(MessageLoader loader);
MessageLoader GetMessageLoader();

}  // namespace kestario

#endif  // KESTARIO_TEXT_MESSAGE_CATALOG_H_
