#include "settings/symbols.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/registry.h"
#include "platform/system.h"
#include "settings/messages.h"
#include "settings/profile.h"

namespace kestario {

// ---------------------------------------------------------------------------------------------
// SymbolTable

struct SymbolTable::Definition {
  TextString name;
  TextString value;
  bool hasValue;
};

namespace {

constexpr int32_t kNoEntry = -1;

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// FNV-1a over the name with ASCII letters folded, so names that compare equal hash alike.
uint32_t HashName(const char* name) {
  uint32_t hash = 2166136261u;
  for (; *name != '\0'; ++name) {
    hash ^= static_cast<uint8_t>(FoldAscii(*name));
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace

SymbolTable::SymbolTable()
    : count_(0), capacity_(0), entries_(nullptr), slots_(nullptr), slotCount_(0) {}

SymbolTable::~SymbolTable() { Clear(); }

void SymbolTable::Clear() {
  for (int32_t i = 0; i < count_; ++i) delete entries_[i];
  std::free(entries_);
  std::free(slots_);
  count_ = 0;
  capacity_ = 0;
  entries_ = nullptr;
  slots_ = nullptr;
  slotCount_ = 0;
}

const TextString& SymbolTable::NameAt(int32_t index) const { return entries_[index]->name; }
const TextString& SymbolTable::ValueAt(int32_t index) const { return entries_[index]->value; }
bool SymbolTable::HasValueAt(int32_t index) const { return entries_[index]->hasValue; }

bool SymbolTable::Reserve(int32_t wanted) {
  if (wanted > capacity_) {
    int32_t capacity = capacity_ == 0 ? 16 : capacity_;
    while (capacity < wanted) {
      if (capacity > INT32_MAX / 4) return false;
      capacity *= 2;
    }
    void* grown = std::realloc(entries_, sizeof(Definition*) * static_cast<size_t>(capacity));
    if (grown == nullptr) return false;
    entries_ = static_cast<Definition**>(grown);
    capacity_ = capacity;
  }
  // The index stays at most half full (capacities are powers of two, and so are slot counts).
  uint32_t slots = static_cast<uint32_t>(capacity_) * 2;
  return slotCount_ >= slots || Rehash(slots);
}

bool SymbolTable::Rehash(uint32_t slots) {
  void* fresh = std::malloc(sizeof(int32_t) * slots);
  if (fresh == nullptr) return false;
  std::free(slots_);
  slots_ = static_cast<int32_t*>(fresh);
  slotCount_ = slots;
  for (uint32_t i = 0; i < slots; ++i) slots_[i] = kNoEntry;
  for (int32_t i = 0; i < count_; ++i) IndexEntry(i);
  return true;
}

// Records entry `index` in the index unless an earlier definition already bears its name.
void SymbolTable::IndexEntry(int32_t index) {
  const char* name = entries_[index]->name.GetConstText();
  uint32_t slot = HashName(name) & (slotCount_ - 1);
  while (slots_[slot] != kNoEntry) {
    if (entries_[slots_[slot]]->name.IsEqualNoCase(name)) return;
    slot = (slot + 1) & (slotCount_ - 1);
  }
  slots_[slot] = index;
}

int32_t SymbolTable::IndexOf(const char* name) const {
  if (slotCount_ == 0) return kNoEntry;
  uint32_t slot = HashName(name) & (slotCount_ - 1);
  while (slots_[slot] != kNoEntry) {
    if (entries_[slots_[slot]]->name.IsEqualNoCase(name)) return slots_[slot];
    slot = (slot + 1) & (slotCount_ - 1);
  }
  return kNoEntry;
}

bool SymbolTable::Add(const char* name, const char* value) {
  if (count_ == INT32_MAX || !Reserve(count_ + 1)) return false;
  Definition* definition = new (std::nothrow) Definition;
  if (definition == nullptr) return false;
  definition->hasValue = true;
  if (!definition->name.SetText(name) || !definition->value.SetText(value)) {
    delete definition;
    return false;
  }
  entries_[count_] = definition;
  IndexEntry(count_);
  ++count_;
  return true;
}

bool SymbolTable::AddLine(const char* line) {
  const char* equals = std::strchr(line, '=');
  if (equals == nullptr) {
    if (!Add(line, "")) return false;
    entries_[count_ - 1]->hasValue = false;
    return true;
  }
  TextString name;
  if (!name.SetBytes(line, static_cast<uint32_t>(equals - line) + 1)) return false;
  name.GetText()[equals - line] = '\0';
  const char* value = equals + 1;
  const char* valueEnd = std::strchr(value, '=');
  if (valueEnd == nullptr) return Add(name.GetConstText(), value);
  TextString cut;
  if (!cut.SetBytes(value, static_cast<uint32_t>(valueEnd - value) + 1)) return false;
  cut.GetText()[valueEnd - value] = '\0';
  return Add(name.GetConstText(), cut.GetConstText());
}

bool SymbolTable::SetValueAt(int32_t index, const char* value) {
  Definition* definition = entries_[index];
  if (!definition->hasValue) return true;
  // A value written back into a NAME=VALUE line is read back up to its first "=".
  const char* equals = std::strchr(value, '=');
  if (equals == nullptr) return definition->value.SetText(value);
  TextString cut;
  if (!cut.SetBytes(value, static_cast<uint32_t>(equals - value) + 1)) return false;
  cut.GetText()[equals - value] = '\0';
  return definition->value.SetText(cut.GetConstText());
}

// ---------------------------------------------------------------------------------------------
// The bound records

namespace {

const TextString* g_scriptPath = nullptr;
const TextString* g_modulePath = nullptr;
SymbolTable* g_symbols = nullptr;

const char* ScriptPath() { return g_scriptPath ? g_scriptPath->GetConstText() : ""; }

// Windows' own limit for the Windows directory; a longer one is asked for again.
constexpr uint32_t kDirectoryBufferSize = 260;

bool ReadWindowsDirectory(TextString* directory) {
  uint32_t size = kDirectoryBufferSize;
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (!directory->Allocate(size)) return false;
    uint32_t written = CurrentSystem().GetWindowsDirectoryA(directory->GetText(), size);
    if (written < size) {
      directory->Compact();
      return true;
    }
    size = written + 1;
  }
  return directory->SetText("");
}

// Adds the entries of the DEFINE section (read as line-feed separated text) to the table.
bool AddDefineLines(SymbolTable* table, TextString* lines) {
  char* line = lines->GetText();
  while (true) {
    char* feed = std::strchr(line, '\n');
    if (feed != nullptr) *feed = '\0';
    if (!table->AddLine(line)) return false;
    if (feed == nullptr) return true;
    line = feed + 1;
  }
}

// Every backslash followed by a lowercase n becomes a line feed. Most values hold none, and the
// search alone costs far less than ReplaceAll, which first copies both of its texts.
void ReplaceLineFeedEscapes(TextString* text) {
  if (text->Find("\\n") != nullptr) text->ReplaceAll("\\n", "\n");
}

bool SetSymbolChecked(const char* name, const TextString& value) {
  int32_t index = g_symbols->IndexOf(name);
  if (index >= 0) return g_symbols->SetValueAt(index, value.GetConstText());
  return g_symbols->Add(name, value.GetConstText());
}

}  // namespace

void BindScript(const TextString* scriptPath, const TextString* modulePath, SymbolTable* symbols) {
  g_scriptPath = scriptPath;
  g_modulePath = modulePath;
  g_symbols = symbols;
}

bool LoadDefinitions() {
  g_symbols->Clear();
  TextString lines;
  int32_t count = ReadProfileSection(ScriptPath(), "DEFINE", &lines);
  bool built = count == 0 || AddDefineLines(g_symbols, &lines);

  TextString windows;
  built = built && ReadWindowsDirectory(&windows) && SetSymbolChecked("<Win>", windows);
  TextString source =
      g_modulePath ? g_modulePath->GetTokens(0, -2, kPathSeparatorText) : TextString();
  built = built && SetSymbolChecked("<Src>", source);
  if (!built) {
    ReportError(kMsgOutOfMemory, "DEFINE");
    return false;
  }
  // Whether any definition needed expanding does not matter: a script whose definitions are
  // plain texts (or that has none) runs all the same.
  ExpandDefinitions();
  return true;
}

void SetSymbol(const char* name, const TextString& value) { SetSymbolChecked(name, value); }

bool FindSymbol(const char* name, TextString* destination) {
  if (g_symbols == nullptr) return false;
  int32_t index = g_symbols->IndexOf(name);
  if (index < 0) return false;
  destination->Assign(g_symbols->ValueAt(index));
  return true;
}

bool ExpandDefinitions() {
  if (g_symbols == nullptr || g_symbols->count() == 0) return false;
  bool changed = false;
  for (int32_t i = 0; i < g_symbols->count(); ++i) {
    TextString value(g_symbols->ValueAt(i));
    // A definition in which a brace block was replaced keeps its angle blocks for now.
    bool replaced = ExpandBraceBlocks(&value) || ExpandAngleBlocks(&value);
    if (replaced) {
      g_symbols->SetValueAt(i, value.GetConstText());
      changed = true;
    }
  }
  return changed;
}

bool ExpandBraceBlocks(TextString* text) {
  int32_t blocks = text->CountBlocks("{", "}");
  bool replaced = false;
  int32_t index = 0;
  for (int32_t attempt = 0; attempt < blocks; ++attempt) {
    TextString piece = text->GetBlock(index, "{", "}");
    piece.TrimEnds("{", "}");
    TextString keyword = piece.GetToken(0, "\\");
    TextString application = piece.GetToken(1, "\\");
    bool found = false;
    if (keyword.IsEqualNoCase("?App")) {
      found = LookupAppPath(application.GetConstText(), &piece, 1);
    } else if (keyword.IsEqualNoCase("?AppPath")) {
      found = LookupAppPath(application.GetConstText(), &piece, 0);
      if (found) {
        piece.TrimEnds("", "\\");
        piece.TrimEnds("", ";");
      }
    }
    if (found) {
      text->ReplaceBlock(index, "{", "}", piece.GetConstText());
      replaced = true;
    } else {
      ++index;
    }
  }
  ReplaceLineFeedEscapes(text);
  return replaced;
}

bool ExpandAngleBlocks(TextString* text) {
  int32_t blocks = text->CountBlocks("<", ">");
  bool found = false;
  int32_t index = 0;
  TextString value;
  for (int32_t attempt = 0; attempt < blocks; ++attempt) {
    TextString piece = text->GetBlock(index, "<", ">");
    if (FindSymbol(piece.GetConstText(), &value)) {
      text->ReplaceBlock(index, "<", ">", value.GetConstText());
      found = true;
    } else {
      ++index;
    }
  }
  ReplaceLineFeedEscapes(text);
  return found;
}

bool ReadSetting(const char* section, const char* key, TextString* destination) {
  if (!ReadProfileString(ScriptPath(), section, key, destination)) {
    ReportError(kMsgBadFormat, section, key);
    return false;
  }
  ExpandBraceBlocks(destination);
  ExpandAngleBlocks(destination);
  return true;
}

bool ReadSettingInt(const char* section, const char* key, int32_t* destination) {
  if (!ReadProfileInt(ScriptPath(), section, key, destination)) {
    ReportError(kMsgBadFormat, section, key);
    return false;
  }
  return true;
}

}  // namespace kestario
