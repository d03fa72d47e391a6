#include "engine/kept_names.h"

#include <cstring>

namespace kestario {
namespace {

void AppendDecimal(TextString* text, uint32_t value) {
  char buffer[11];
  int at = 10;
  buffer[at] = '\0';
  do {
    buffer[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  text->Append(buffer + at);
}

}  // namespace

const char* const kJournalFolderName =
    kPathSeparator == '\\' ? "Kestario\\Rollback" : "kestario-rollback";

TextString KeptRunPrefix(const TextString& runId) {
  TextString prefix(".kestario-");
  prefix.Append(runId).Append("-");
  return prefix;
}

TextString KeptStemName(const TextString& runId, uint32_t number) {
  TextString name = KeptRunPrefix(runId);
  AppendDecimal(&name, number);
  return name;
}

TextString KeptStem(const char* path, const TextString& runId, uint32_t number) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == kPathSeparator || *p == '/') name = p + 1;
  }
  TextString stem;
  TextString folder;
  if (name > path && folder.Allocate(static_cast<uint32_t>(name - path) + 1)) {
    std::memcpy(folder.GetText(), path, static_cast<size_t>(name - path));
    stem.Append(folder);
  }
  stem.Append(KeptStemName(runId, number));
  return stem;
}

TextString WithSuffix(const TextString& stem, const char* suffix) {
  TextString name(stem);
  name.Append(suffix);
  return name;
}

KeptNameSet::KeptNameSet(const TextString& stem)
    : kept_(WithSuffix(stem, kKeptSuffix)),
      keptHidden_(WithSuffix(stem, kKeptHiddenSuffix)),
      mark_(WithSuffix(stem, kMarkSuffix)),
      staged_(WithSuffix(stem, kStagedSuffix)) {
  names_ = {kept_.GetConstText(), keptHidden_.GetConstText(), mark_.GetConstText(),
            staged_.GetConstText()};
  // A suffix that could not be added leaves its name empty.
  int32_t stemLength = stem.GetLength();
  complete_ = kept_.GetLength() > stemLength && keptHidden_.GetLength() > stemLength &&
              mark_.GetLength() > stemLength && staged_.GetLength() > stemLength;
}

const TextString& KeptNameSet::Name(KeptAs as) const {
  switch (as) {
    case KeptAs::kKept:
      return kept_;
    case KeptAs::kKeptHidden:
      return keptHidden_;
    case KeptAs::kMark:
      return mark_;
    case KeptAs::kStaged:
      return staged_;
    case KeptAs::kNone:
      break;
  }
  return none_;
}

}  // namespace kestario
