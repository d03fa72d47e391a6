#include "settings/symbols.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/registry.h"
#include "platform/system.h"
#include "settings/messages.h"
#include "settings/profile.h"
#include "text/hash.h"
#include "text/text_builder.h"

namespace kestario {

// ---------------------------------------------------------------------------------------------
// SymbolTable

struct SymbolTable::Definition {
  TextString name;
  TextString value;
  bool hasValue;
  bool refused = false;  // its expansion would have passed the block limit
};

namespace {

constexpr int32_t kNoEntry = -1;

// Names that compare equal hash alike.
uint32_t HashName(const char* name) {
  return static_cast<uint32_t>(HashText(kHashStart, name, HashCase::kFoldAscii));
}

}  // namespace

SymbolTable::~SymbolTable() { Clear(); }

void SymbolTable::Clear() {
  for (int32_t i = 0; i < count(); ++i) delete entries_[i];
  entries_.Free();
  std::free(slots_);
  slots_ = nullptr;
  slotCount_ = 0;
}

const TextString& SymbolTable::NameAt(int32_t index) const { return entries_[index]->name; }
const TextString& SymbolTable::ValueAt(int32_t index) const { return entries_[index]->value; }
bool SymbolTable::HasValueAt(int32_t index) const { return entries_[index]->hasValue; }

bool SymbolTable::WasRefusedAt(int32_t index) const { return entries_[index]->refused; }

void SymbolTable::MarkRefused(int32_t index) { entries_[index]->refused = true; }

bool SymbolTable::Reserve(int32_t wanted) {
  // At most 2^29 entries, so that the slot count stays within 32 bits.
  if (wanted > (1 << 29) || !entries_.Reserve(static_cast<size_t>(wanted))) return false;
  // The index stays at most half full (rooms are powers of two, and so are slot counts).
  uint32_t slots = static_cast<uint32_t>(entries_.room()) * 2;
  return slotCount_ >= slots || Rehash(slots);
}

bool SymbolTable::Rehash(uint32_t slots) {
  void* fresh = std::malloc(sizeof(int32_t) * slots);
  if (fresh == nullptr) return false;
  std::free(slots_);
  slots_ = static_cast<int32_t*>(fresh);
  slotCount_ = slots;
  for (uint32_t i = 0; i < slots; ++i) slots_[i] = kNoEntry;
  for (int32_t i = 0; i < count(); ++i) IndexEntry(i);
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
  if (count() == INT32_MAX || !Reserve(count() + 1)) return false;
  Definition* definition = new (std::nothrow) Definition;
  if (definition == nullptr) return false;
  definition->hasValue = true;
  if (!definition->name.SetText(name) || !definition->value.SetText(value)) {
    delete definition;
    return false;
  }
  entries_.Append(definition);  // room reserved above
  IndexEntry(count() - 1);
  return true;
}

bool SymbolTable::AddLine(const char* line) {
  const char* equals = std::strchr(line, '=');
  if (equals == nullptr) {
    if (!Add(line, "")) return false;
    entries_.Last()->hasValue = false;
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

// Adds the built-in `name` with the value that `ask` gives, unless the table already defines it
// or the system cannot tell. False only when memory runs out.
bool AddUnlessDefined(const char* name, bool (System::*ask)(TextString*)) {
  if (g_symbols->IndexOf(name) >= 0) return true;
  TextString value;
  if (!(CurrentSystem().*ask)(&value)) return true;
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
  bool built = count == 0 || (count > 0 && AddDefineLines(g_symbols, &lines));

  TextString windows;
  built = built && ReadWindowsDirectory(&windows) && SetSymbolChecked("<Win>", windows);
  TextString source =
      g_modulePath ? g_modulePath->GetTokens(0, -2, kPathSeparatorText) : TextString();
  built = built && SetSymbolChecked("<Src>", source);
  // The machine's and the user's names give way to the script's own definitions of them.
  built = built && AddUnlessDefined("<Computer>", &System::GetComputerNameA) &&
          AddUnlessDefined("<User>", &System::GetUserNameA);
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

bool WasSymbolRefused(const char* name) {
  if (g_symbols == nullptr) return false;
  int32_t index = g_symbols->IndexOf(name);
  return index >= 0 && g_symbols->WasRefusedAt(index);
}

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
    bool refused = false;
    bool replaced = ExpandBraceBlocks(&value) || ExpandAngleBlocks(&value, &refused);
    if (refused) g_symbols->MarkRefused(i);
    if (replaced) {
      g_symbols->SetValueAt(i, value.GetConstText());
      changed = true;
    }
  }
  return changed;
}

namespace {

// The offset of the last `c` in the text, or -1.
int64_t LastOffsetOf(const TextString& text, char c) {
  const char* base = text.GetConstText();
  for (int64_t at = text.GetLength() - 1; at >= 0; --at) {
    if (base[at] == c) return at;
  }
  return -1;
}

// The first top-level block that the block scan of TextString meets when it runs from `from` at
// depth 0, for one-byte delimiters: an opening counts only while a closing follows it somewhere
// (`lastClosing`, the offset of the last one, or -1), and a block that never closes runs to the
// end. True with the offsets of its opening and of its closing (or of the last byte).
bool NextBlockFrom(const TextString& text, int64_t from, char opening, char closing,
                   int64_t lastClosing, int64_t* start, int64_t* end) {
  const char* base = text.GetConstText();
  const int64_t length = text.GetLength();
  int64_t depth = 0;
  bool started = false;
  for (int64_t at = from; at < length; ++at) {
    if (base[at] == opening) {
      if (at > lastClosing) break;  // no closing after it: the scan ends here
      if (depth == 0 && !started) {
        started = true;
        *start = at;
      }
      ++depth;
    } else if (base[at] == closing) {
      --depth;
      if (started && depth == 0) {
        *end = at;
        return true;
      }
    }
  }
  if (!started) return false;
  *end = length - 1;
  return true;
}

}  // namespace

bool LookUpBraceBlock(TextString* block) {
  block->TrimEnds("{", "}");
  TextString keyword = block->GetToken(0, "\\");
  TextString application = block->GetToken(1, "\\");
  if (keyword.IsEqualNoCase("?App")) return LookupAppPath(application.GetConstText(), block, 1);
  if (!keyword.IsEqualNoCase("?AppPath")) return false;
  if (!LookupAppPath(application.GetConstText(), block, 0)) return false;
  block->TrimEnds("", "\\");
  block->TrimEnds("", ";");
  return true;
}

// Attempt after attempt looks at block `index`: a replaced block keeps the index, one left as
// written moves it on. The text before the block looked at never changes afterwards, and the scan
// stands at depth 0 at its opening; so the next attempt's block is the first one met from the
// start of a block just replaced, or from just past a block left as written, and each attempt
// costs the length of its own block instead of a scan from the start of the value. Once no block
// is left, the remaining attempts would look at an empty piece, which names nothing.
bool ExpandBraceBlocks(TextString* text) {
  int32_t blocks = text->CountBlocks("{", "}");
  bool replaced = false;
  int64_t from = 0;
  int64_t lastClosing = LastOffsetOf(*text, '}');
  for (int32_t attempt = 0; attempt < blocks; ++attempt) {
    int64_t start = 0;
    int64_t end = 0;
    if (!NextBlockFrom(*text, from, '{', '}', lastClosing, &start, &end)) break;
    const char* base = text->GetConstText();
    TextString piece = text->Extract(base + start, base + end);
    if (LookUpBraceBlock(&piece)) {
      text->ReplaceRange(base + start, base + end, piece.GetConstText());
      lastClosing = LastOffsetOf(*text, '}');
      from = start;
      replaced = true;
    } else {
      from = end + 1;
    }
  }
  ReplaceLineFeedEscapes(text);
  return replaced;
}

namespace {

// The angle pass, block by block: each lookup finds its block by scanning the text from the
// start, and each replacement copies the whole text. Kept for when the one-pass expansion below
// finds no memory for its own buffers.
bool ExpandAngleBlocksBlockByBlock(TextString* text, int32_t blocks) {
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
  return found;
}

// The part of the text still to scan: a stack of runs of bytes, the top one first. Each run is the
// end of a NUL-terminated text (the value read, or a symbol's value that replaced a block), and
// none is empty.
class PendingText {
 public:
  PendingText() = default;
  PendingText(const PendingText&) = delete;
  PendingText& operator=(const PendingText&) = delete;

  // A place in the pending text: run `run` (counted from the bottom; -1 past the end) at `at`.
  struct Place {
    int32_t run;
    const char* at;
  };

  // Puts the NUL-terminated `text` in front of what is pending.
  bool Push(const char* text) {
    if (*text == '\0') return true;
    if (count() == INT32_MAX || !runs_.Reserve(runs_.count() + 1)) return false;
    Run run{text, text + std::strlen(text), nullptr, false};
    for (const char* p = run.end; p > run.at;) {
      if (*--p == '>') {
        run.lastClose = p;
        break;
      }
    }
    run.closeBelow = count() > 0 && HasCloseFrom(count() - 1, runs_.Last().at);
    runs_.Append(run);
    return true;
  }

  bool Empty() const { return runs_.empty(); }
  Place Front() const { return Empty() ? Place{-1, nullptr} : Place{count() - 1, runs_.Last().at}; }
  // The bytes from `place` to the end of its run.
  size_t RunLength(Place place) const {
    return static_cast<size_t>(runs_[place.run].end - place.at);
  }
  // Whether a ">" follows the byte at `place` anywhere in the pending text.
  bool HasCloseAfter(Place place) const { return HasCloseFrom(place.run, place.at + 1); }
  // `place` moved on by `count` bytes, which must lie in its run.
  Place Skip(Place place, size_t count) const {
    place.at += count;
    if (place.at == runs_[place.run].end) {
      --place.run;
      place.at = place.run >= 0 ? runs_[place.run].at : nullptr;
    }
    return place;
  }
  // Drops everything before `place` (a place of the pending text as it is now).
  void DropUntil(Place place) {
    runs_.SetCount(static_cast<size_t>(place.run + 1));
    if (place.run >= 0) runs_[place.run].at = place.at;
  }

 private:
  struct Run {
    const char* at;
    const char* end;
    const char* lastClose;  // the last ">" of the run as it was pushed, or null
    bool closeBelow;        // whether the runs below held a ">" when this one was pushed
  };

  // Whether a ">" lies at or after `at` in run `run` or in the runs below it. The runs below a run
  // do not change while it is pending.
  bool HasCloseFrom(int32_t run, const char* at) const {
    const Run& r = runs_[run];
    return (r.lastClose != nullptr && r.lastClose >= at) || r.closeBelow;
  }

  int32_t count() const { return static_cast<int32_t>(runs_.count()); }

  GrowableArray<Run> runs_{8};
};

// The angle pass in one walk over the text. It gives what ExpandAngleBlocksBlockByBlock gives:
//
// That pass looks up block `index` (the index-th "<" met at depth 0, with its text up to the ">"
// that brings the depth back to 0, or to the end), `blocks` times. The scan for a block ends at a
// "<" that no ">" follows. A symbol found replaces the block and the same index is looked up
// again, now in the symbol's value; a name not found moves on to the next index. The text before
// a block never changes afterwards, and neither does the depth at its "<", which is 0; so the walk
// keeps the text before the block in `out`, and the rest, with the values put in, in `pending`,
// and finds each block by going on from the last. When no block is left, every remaining lookup
// is of the empty name and changes nothing.
//
// False, with `text` untouched, when memory for the walk runs out, or (`*tooLong` set) when the
// text before the next block already passes kMaxBlockSize.
bool ExpandAngleBlocksInOnePass(TextString* text, int32_t blocks, bool* found, bool* tooLong) {
  *found = false;
  if (blocks <= 0 || g_symbols == nullptr) return true;
  TextBuilder out;
  TextBuilder piece;
  PendingText pending;
  auto failed = [&]() {
    *tooLong = out.TooLong();
    return false;
  };
  if (!pending.Push(text->GetConstText())) return false;
  bool replaced = false;
  int64_t depth = 0;
  for (int32_t attempt = 0; attempt < blocks; ++attempt) {
    // Copy the text up to the next "<" met at depth 0.
    bool atBlock = false;
    while (!pending.Empty()) {
      PendingText::Place front = pending.Front();
      size_t plain = strcspn(front.at, "<>");
      size_t runLength = pending.RunLength(front);
      if (plain > runLength) plain = runLength;
      if (!out.Append(front.at, plain)) return failed();
      if (plain == runLength) {
        pending.DropUntil(pending.Skip(front, plain));
        continue;
      }
      char delimiter = front.at[plain];
      if (delimiter == '<' && !pending.HasCloseAfter(pending.Skip(front, plain))) {
        pending.DropUntil(pending.Skip(front, plain));
        break;  // the scan ends here: no block is left
      }
      if (delimiter == '<' && depth == 0) {
        pending.DropUntil(pending.Skip(front, plain));
        atBlock = true;
        break;
      }
      depth += delimiter == '<' ? 1 : -1;
      if (!out.Append(front.at + plain, 1)) return failed();
      pending.DropUntil(pending.Skip(front, plain + 1));
    }
    if (!atBlock) {
      if (g_symbols->IndexOf("") >= 0) *found = true;
      break;
    }

    // The block: from its "<" to the ">" that closes it, or to the end of the text.
    piece.Clear();
    PendingText::Place place = pending.Front();
    int64_t level = 0;
    bool closed = false;
    while (place.run >= 0 && !closed) {
      size_t runLength = pending.RunLength(place);
      size_t plain = strcspn(place.at, "<>");
      if (plain >= runLength) {
        if (!piece.Append(place.at, runLength)) return false;
        place = pending.Skip(place, runLength);
        continue;
      }
      char delimiter = place.at[plain];
      if (!piece.Append(place.at, plain + 1)) return false;
      level += delimiter == '<' ? 1 : -1;
      closed = level == 0;
      place = pending.Skip(place, plain + 1);
    }

    int32_t symbol = g_symbols->IndexOf(piece.text());
    if (symbol >= 0) {
      *found = true;
      replaced = true;
      pending.DropUntil(place);
      if (!pending.Push(g_symbols->ValueAt(symbol).GetConstText())) return false;
      // The walk goes on at the start of the value, at depth 0.
    } else {
      // Past the "<": the next block is looked for inside this one and after it.
      PendingText::Place front = pending.Front();
      if (!out.Append(front.at, 1)) return failed();
      pending.DropUntil(pending.Skip(front, 1));
      depth = 1;
    }
  }
  if (!replaced) return true;
  for (PendingText::Place place = pending.Front(); place.run >= 0;) {
    size_t runLength = pending.RunLength(place);
    if (!out.Append(place.at, runLength)) return failed();
    place = pending.Skip(place, runLength);
  }
  text->SetText(out.text());
  return true;
}

}  // namespace

bool ExpandAngleBlocksBlockByBlock(TextString* text) {
  bool found = ExpandAngleBlocksBlockByBlock(text, text->CountBlocks("<", ">"));
  ReplaceLineFeedEscapes(text);
  return found;
}

bool ExpandAngleBlocks(TextString* text, bool* refused) {
  int32_t blocks = text->CountBlocks("<", ">");
  bool found = false;
  bool tooLong = false;
  if (refused != nullptr) *refused = false;
  if (!ExpandAngleBlocksInOnePass(text, blocks, &found, &tooLong)) {
    if (tooLong) {
      // The text before a block never changes, so the whole result would pass the limit too;
      // block by block, the replacement that passed it would empty the text, and it would stay
      // empty. That is the result, without building it.
      text->SetText("");
      if (refused != nullptr) *refused = true;
      return true;
    }
    found = ExpandAngleBlocksBlockByBlock(text, blocks);
  }
  ReplaceLineFeedEscapes(text);
  return found;
}

void BeginScriptReads() { CurrentSystem().FlushPrivateProfile(ScriptPath()); }

bool ReadSetting(const char* section, const char* key, TextString* destination) {
  if (!ReadProfileString(ScriptPath(), section, key, destination)) {
    ReportError(kMsgBadFormat, section, key);
    return false;
  }
  // A value without "{", "<" and "\\" holds no block and no line feed escape: both passes would
  // leave it as it is.
  if (std::strpbrk(destination->GetConstText(), "{<\\") == nullptr) return true;
  ExpandBraceBlocks(destination);
  ExpandAngleBlocks(destination);
  return true;
}

bool ReadOptionalSetting(const char* section, const char* key, TextString* destination) {
  if (!ReadProfileString(ScriptPath(), section, key, destination)) return false;
  ExpandBraceBlocks(destination);
  ExpandAngleBlocks(destination);
  return true;
}

bool ReadSettingInt(const char* section, const char* key, int32_t* destination) {
  if (!ReadOptionalSettingInt(section, key, destination)) {
    ReportError(kMsgBadFormat, section, key);
    return false;
  }
  return true;
}

bool ReadOptionalSettingInt(const char* section, const char* key, int32_t* destination) {
  return ReadProfileInt(ScriptPath(), section, key, destination);
}

}  // namespace kestario
