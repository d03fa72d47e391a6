// The default caption of the Windows build, in the ANSI code page 932 (Shift-JIS).
//
// The text comes from texts.def (UTF-8); this file is compiled with -fexec-charset=CP932, so the
// compiler stores the literal's Shift-JIS bytes.
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
