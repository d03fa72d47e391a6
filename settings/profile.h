// The low-level readers of the script file, over the platform's profile (INI) functions.
//
// One rule for absent keys: the text "NO_DATA" is the default of every read, so a key that is
// absent (or a section, or the file) and a value equal to "NO_DATA" in any letter case read alike.
// Values and sections are read whole, however long. Nothing is shown to the user here.
#ifndef KESTARIO_SETTINGS_PROFILE_H_
#define KESTARIO_SETTINGS_PROFILE_H_

#include <cstdint>

#include "text/text_string.h"

namespace kestario {

// The default of every read; a value equal to it (any letter case) counts as absent.
constexpr const char* kNoData = "NO_DATA";

// True and `destination` holds the value; false when the key is absent (destination unchanged).
bool ReadProfileString(const char* file, const char* section, const char* key,
                       TextString* destination);

// True when the key is present; the value is then scanned with "%d" into `destination`, which
// stays as it was when the value does not begin with a number. False when absent.
bool ReadProfileInt(const char* file, const char* section, const char* key, int32_t* destination);

// Appends the entries of `section` that do not begin with ";" to `destination`, joined by line
// feeds (a line feed goes before an entry only when the destination is not empty), and returns
// how many were appended. 0, destination untouched, when the section is absent or empty; -1,
// destination untouched, when memory runs out.
int32_t ReadProfileSection(const char* file, const char* section, TextString* destination);

}  // namespace kestario

#endif  // KESTARIO_SETTINGS_PROFILE_H_
