// Symbols and the expansion of script values, and the settings readers built on them.
//
// A value read from the script passes two passes: brace blocks ("{?App\tool.exe}",
// "{?AppPath\tool.exe}") are replaced by what the registry records for the application, then
// angle blocks ("<Dir>") by the value of the symbol of that name. After each pass every backslash
// followed by a lowercase n becomes a line feed. The symbols come from the script's DEFINE section
// and from the built-ins "<Win>" (the Windows directory) and "<Src>" (the program's folder), which
// win over the script's definitions of those names, and "<Computer>" (the computer name) and
// "<User>" (the user's name), which give way to them.
#ifndef KESTARIO_SETTINGS_SYMBOLS_H_
#define KESTARIO_SETTINGS_SYMBOLS_H_

#include <cstdint>

#include "text/growable_array.h"
#include "text/text_string.h"

namespace kestario {

// The definitions, in table order, each kept as its own entry (name and value), so that a value
// holding a line feed never disturbs the others. Names are compared ignoring ASCII case; the first
// of two definitions with the same name wins. Lookups go through a hash index, not a scan.
class SymbolTable {
 public:
  SymbolTable() = default;
  ~SymbolTable();
  SymbolTable(const SymbolTable&) = delete;
  SymbolTable& operator=(const SymbolTable&) = delete;

  int32_t count() const { return static_cast<int32_t>(entries_.count()); }
  const TextString& NameAt(int32_t index) const;
  const TextString& ValueAt(int32_t index) const;
  // Whether definition `index` was written with an "=" (a line without one is all name and its
  // value stays empty whatever is set).
  bool HasValueAt(int32_t index) const;
  // Whether the expansion of definition `index` was refused (ExpandAngleBlocks), and marking it.
  bool WasRefusedAt(int32_t index) const;
  void MarkRefused(int32_t index);

  // Adds one DEFINE line: the name is the text before its first "=", the value the text between
  // the first and the second "=". False when memory runs out (the table is then unchanged).
  bool AddLine(const char* line);
  // Adds a definition `name`=`value` at the end. False when memory runs out.
  bool Add(const char* name, const char* value);
  // The index of the first definition named `name` (ASCII case ignored), or -1.
  int32_t IndexOf(const char* name) const;
  // Replaces the value of definition `index`; the value ends at its first "=", as a value read
  // back from a DEFINE line would. Ignored for a definition written without "=".
  bool SetValueAt(int32_t index, const char* value);
  void Clear();

 private:
  struct Definition;
  bool Reserve(int32_t wanted);
  bool Rehash(uint32_t slots);
  void IndexEntry(int32_t index);

  GrowableArray<Definition*> entries_{16};
  int32_t* slots_ = nullptr;  // open addressing: index of the first definition of a name, or -1
  uint32_t slotCount_ = 0;
};

// The script file, the program's path and the table that the settings readers work on. The
// engine's start-up context owns them and binds them once, before the first read.
void BindScript(const TextString* scriptPath, const TextString* modulePath, SymbolTable* symbols);

// Fills the table from the script's DEFINE section, sets "<Win>" and "<Src>" (which always win
// over the script's own definitions of those names) and expands the definitions once, in table
// order. "<Computer>" and "<User>" follow, each only when the script does not define it. False only
// when the table could not be built (memory).
bool LoadDefinitions();

// Gives definition `name` the value (replacing the first definition of that name, or adding one).
void SetSymbol(const char* name, const TextString& value);
// True and `destination` holds the value of the first definition named `name`; false otherwise.
bool FindSymbol(const char* name, TextString* destination);

// Expands every definition once, in table order, with the table as it stands at that moment.
// True when at least one block was replaced in at least one definition.
bool ExpandDefinitions();
// The brace pass; true when at least one brace block was replaced.
bool ExpandBraceBlocks(TextString* text);
// The value of one brace block, "{?App\NAME}" or "{?AppPath\NAME}" with its braces, in its place:
// true when its keyword is one of the two and the application's path is found; otherwise false,
// and `block` is left without its braces.
bool LookUpBraceBlock(TextString* block);
// The angle pass; true when the symbol of at least one angle block was found. A result that would
// pass the largest block a text may hold (kMaxBlockSize, 256 MB) is refused: the expansion stops
// there, the text becomes empty and `*refused` (when given) is set.
bool ExpandAngleBlocks(TextString* text, bool* refused = nullptr);
// The angle pass as it is defined, plainly, with no limit: as many attempts as the text has blocks
// when the pass starts; each looks up block `index` (counted afresh from the start of the text),
// and a symbol found replaces the block, which is looked at again, while a name not found moves
// on to the next index; then "\n" escapes become line feeds. ExpandAngleBlocks gives the same,
// in one walk; this is what it falls back on when memory runs short, and what it is tested against.
bool ExpandAngleBlocksBlockByBlock(TextString* text);
// Whether the expansion of the first definition named `name` was refused that way when the
// definitions were expanded, so that it reads as empty.
bool WasSymbolRefused(const char* name);

// Opens a round of reads of the script: the values read from now on, until the next call, see the
// script as it is now or later, and the Linux system serves them all from one reading of it
// instead of looking at the file again for every value. The engine opens one round for start-up's
// reads and one for each procedure list it builds: all values of one list are read at one moment,
// before any of its procedures runs, so one reading of the script gives exactly what reading it
// afresh for every value would, and a list built later (a SWITCH branch, after a LAUNCH that may
// have changed the script) reads the script afresh.
void BeginScriptReads();

// Reads `key` of `section` from the script and expands it. On an absent key (or "NO_DATA") shows
// message 2 with the section and key and returns false, `destination` unchanged.
bool ReadSetting(const char* section, const char* key, TextString* destination);
// Reads an optional key the same way, but an absent key is no failure: false and nothing shown.
bool ReadOptionalSetting(const char* section, const char* key, TextString* destination);
// Reads an integer ("%d" rules, no expansion); absent: message 2 and false.
bool ReadSettingInt(const char* section, const char* key, int32_t* destination);
// Reads an optional integer the same way, but an absent key is no failure: false and nothing
// shown, `destination` unchanged.
bool ReadOptionalSettingInt(const char* section, const char* key, int32_t* destination);

}  // namespace kestario

#endif  // KESTARIO_SETTINGS_SYMBOLS_H_
