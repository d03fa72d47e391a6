// The default caption, from the one source of the program's texts. The Windows build compiles
// this file with -fexec-charset=CP932, so the literal is stored in Shift-JIS there; the Linux
// build keeps the UTF-8 text as it stands.
#include "settings/messages.h"

namespace kestario {

const char* DefaultCaption() {
#define KESTARIO_MESSAGE(number, text)
#define KESTARIO_CAPTION(text) return text;
#include "resources/texts.def"
#undef KESTARIO_CAPTION
#undef KESTARIO_MESSAGE
}

}  // namespace kestario
