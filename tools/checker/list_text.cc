#include "tools/checker/list_text.h"

#include <algorithm>

#include "text/ascii.h"
#include "text/text_string.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

int CountItems(const std::string& list) { return TextString(list.c_str()).CountTokens(","); }

std::string Item(const std::string& list, int index) {
  TextString item = TextString(list.c_str()).GetToken(index, ",");
  item.Trim(" ");
  return item.GetConstText();
}

// Every item of a comma list, trimmed of spaces: the same items as CountItems and Item give, found
// in one pass (a list may name thousands of sections).
std::vector<std::string> Items(const std::string& list) {
  int count = CountItems(list);
  std::vector<std::string> items;
  items.reserve(static_cast<size_t>(count));
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    size_t comma = list.find(',', start);
    size_t end = comma == std::string::npos ? list.size() : comma;
    TextString item(list.substr(start, end - start).c_str());
    item.Trim(" ");
    items.push_back(item.GetConstText());
    start = end + 1;
  }
  return items;
}

// A name as the program compares procedure names: ASCII letters folded, nothing trimmed.
std::string FoldAsciiCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    c = AsciiLower(c);
  }
  return folded;
}

int ToInt(const std::string& text) { return TextString(text.c_str()).ToInt(); }

// Whether "%d" finds a number at the start: white space, an optional sign, a digit.
bool StartsWithNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

bool HasBlank(const std::string& text) {
  return text.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += separator;
    joined += items[i];
  }
  return joined;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The simple blocks of a text: an opening byte, then bytes that are neither delimiter, then the
// closing byte. Nested or unbalanced delimiters around them do not matter.
std::vector<std::string> SimpleBlocks(const std::string& text, char opening, char closing) {
  std::vector<std::string> blocks;
  size_t at = text.find(opening);
  while (at != std::string::npos) {
    size_t next = text.find_first_of(std::string(1, opening) + closing, at + 1);
    if (next == std::string::npos) break;
    if (text[next] == closing) {
      if (next > at + 1) {
        std::string block = text.substr(at, next - at + 1);
        if (std::find(blocks.begin(), blocks.end(), block) == blocks.end()) {
          blocks.push_back(block);
        }
      }
      at = text.find(opening, next + 1);
    } else {
      at = next;
    }
  }
  return blocks;
}

int EditDistance(const std::string& left, const std::string& right) {
  std::vector<int> row(right.size() + 1);
  for (size_t j = 0; j <= right.size(); ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= left.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= right.size(); ++j) {
      int above = row[j];
      bool same = EqualNoCase(left.substr(i - 1, 1), right.substr(j - 1, 1));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[right.size()];
}

}  // namespace checker
}  // namespace kestario
