// Small text helpers of the checker: comma lists split as the program splits them, names folded
// as it compares them, and the pieces that findings are written with.
#ifndef KESTARIO_TOOLS_CHECKER_LIST_TEXT_H_
#define KESTARIO_TOOLS_CHECKER_LIST_TEXT_H_

#include <string>
#include <vector>

namespace kestario {
namespace checker {

// The number of items of a comma list, and item `index` trimmed of spaces, as the program counts
// and takes them.
int CountItems(const std::string& list);
std::string Item(const std::string& list, int index);
// Every item of a comma list, trimmed of spaces: the same items as CountItems and Item give, found
// in one pass (a list may name thousands of sections).
std::vector<std::string> Items(const std::string& list);

// A name as the program compares procedure names: ASCII letters folded, nothing trimmed.
std::string FoldAsciiCase(const std::string& name);
// "%d" of the text.
int ToInt(const std::string& text);
// Whether "%d" finds a number at the start: white space, an optional sign, a digit.
bool StartsWithNumber(const std::string& text);
bool HasBlank(const std::string& text);

std::string Join(const std::vector<std::string>& items, const char* separator);
std::string Quoted(const std::string& text);

// The simple blocks of a text: an opening byte, then bytes that are neither delimiter, then the
// closing byte. Nested or unbalanced delimiters around them do not matter.
std::vector<std::string> SimpleBlocks(const std::string& text, char opening, char closing);

// The edit distance of two names, ASCII case ignored.
int EditDistance(const std::string& left, const std::string& right);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_LIST_TEXT_H_
