// Paths as the checker compares them: split at the last separator, tested for a folder, and
// reduced to one spelling per file.
#ifndef KESTARIO_TOOLS_CHECKER_PATHS_H_
#define KESTARIO_TOOLS_CHECKER_PATHS_H_

#include <string>

namespace kestario {
namespace checker {

// The folder part of a path (before its last separator; "/" counts too on Windows) and the name
// after it; the folder is "." when there is no separator.
void SplitPath(const std::string& path, std::string* folder, std::string* name);

// Whether `path` is an existing folder.
bool IsFolder(const std::string& path);

// A letter as file names compare it: ASCII case folded on Windows, kept on Linux.
char FoldCase(char c);

// The path by which two spellings of one file compare equal: its folder made full (links and "."
// resolved), then the name; on Windows, whose names ignore case and the dots and blanks that end
// them, letters folded and those dropped.
std::string PathKey(const std::string& path);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_PATHS_H_
