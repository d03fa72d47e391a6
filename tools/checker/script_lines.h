// Where things stand in a script file: the line of each section header and of each key.
//
// The program itself never needs line numbers, so its profile reader does not keep them. This
// locator parses the same bytes by the same rules (platform/profile_reader.h): a UTF-8 byte-order
// mark is skipped; lines end at LF or CR; blanks (0x09-0x0D, 0x1A, 0x20) are dropped from both
// ends of a line and empty lines skipped; "[" ... last "]" starts a section whose name is the text
// between them without blanks; the lines before the first header form an unnamed section; other
// lines are entries, named by the text before the first "=" (an entry without "=" has no value);
// of several entries with an empty name in a row only the first is kept; a NUL byte ends a name
// or value. Names compare ignoring the case of ASCII A-Z only, and the first section (and, in it,
// the first entry) of a name is the one that counts.
//
// Line numbers are those an editor shows: CR LF, LF and a lone CR each end one line. Columns count
// characters from 1 as an editor does for UTF-8 text (a byte of another encoding counts as one);
// the byte-order mark is not counted.
//
// A comment line "; updater-check: disable-next-line KU201 KU215" (IDs separated by blanks or
// commas, in any letter case) silences the findings of those rules on the line right below it.
#ifndef KESTARIO_TOOLS_CHECKER_SCRIPT_LINES_H_
#define KESTARIO_TOOLS_CHECKER_SCRIPT_LINES_H_

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestario {
namespace checker {

class ScriptLines {
 public:
  struct Entry {
    std::string name;
    std::string text;   // the text after "=" without the blanks at its ends, quotes kept
    std::string value;  // that text without one pair of matching quotes around it
    bool hasValue = false;
    int line = 0;
    int column = 0;       // of the name's first character
    int valueColumn = 0;  // of the value's first character (after "=" and blanks)
  };
  struct Section {
    std::string name;
    int line = 0;    // 0 for the unnamed section before the first header
    int column = 0;  // of its "["
    std::vector<Entry> entries;
    std::unordered_map<std::string, size_t> firstEntry;  // folded name -> index in entries
  };

  // Parses a whole file's bytes, replacing earlier contents.
  void Parse(const std::string& bytes);

  // Every section in file order; the first is always the unnamed one.
  const std::vector<Section>& sections() const { return sections_; }

  // The first section of this name (blanks around `name` dropped, ASCII case ignored), or null.
  const Section* FindSection(const std::string& name) const;
  // The first entry of this name in `section` (blanks dropped, ASCII case ignored), or null.
  static const Entry* FindEntry(const Section& section, const std::string& key);

  // The line of the first section of this name; 0 when there is none (1 for the unnamed one).
  int SectionLine(const std::string& name) const;
  // The line of the first entry `key` of that section, or else the section's line, or else 1.
  int KeyLine(const std::string& section, const std::string& key) const;

  // Whether a comment on the line above `line` silences rule `id` there.
  bool IsDisabled(int line, const std::string& id) const;

 private:
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> firstSection_;        // folded name -> index in sections_
  std::unordered_map<int, std::vector<std::string>> disabled_;  // line -> rule IDs, upper case
};

// True when the two names are equal ignoring the case of ASCII A-Z.
bool EqualNoCase(const std::string& left, const std::string& right);
// The text without the profile blanks at its ends.
std::string TrimBlanks(const std::string& text);
// The name as lookups compare it: blanks dropped, ASCII letters in lower case.
std::string FoldName(const std::string& name);

// Reads the whole file at `path`. False, with the reason in `problem`, when it is missing, a
// folder, not a regular file (a named pipe would block), or unreadable.
bool ReadScriptFile(const std::string& path, std::string* bytes, std::string* problem);

// The full path of a file, which the profile functions need on Windows and from which the
// script's folder (standing for the program's folder, "<Src>") is taken; the path itself when it
// cannot be made full.
std::string FullPath(const std::string& path);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_SCRIPT_LINES_H_
