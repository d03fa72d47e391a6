// The default caption on Linux: the UTF-8 text of the catalog source, as it stands.
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
