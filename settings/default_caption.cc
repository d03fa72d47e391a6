// The default caption in both languages, from the one source of the program's texts, as UTF-16
// literals.
#include "platform/system.h"
#include "settings/messages.h"

namespace kestario {

const char16_t* DefaultCaption() {
#define KESTARIO_MESSAGE(number, text)
#define KESTARIO_MESSAGE_ENGLISH(number, text)
#define KESTARIO_CAPTION(text) static constexpr char16_t kJapanese[] = u"" text;
#define KESTARIO_CAPTION_ENGLISH(text) static constexpr char16_t kEnglish[] = u"" text;
#include "resources/texts.def"
#undef KESTARIO_CAPTION_ENGLISH
#undef KESTARIO_CAPTION
#undef KESTARIO_MESSAGE_ENGLISH
#undef KESTARIO_MESSAGE
  return TextLanguage() == kLangJapanese ? kJapanese : kEnglish;
}

}  // namespace kestario
