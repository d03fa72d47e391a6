// The command-line conventions that updater-check and updater-report share with the tools users
// know: an option's value may follow it as the next argument (--html page.html) or be joined to
// it with "=" (--html=page.html).
#ifndef KESTARIO_TOOLS_CONSOLE_ARGUMENTS_H_
#define KESTARIO_TOOLS_CONSOLE_ARGUMENTS_H_

#include <initializer_list>
#include <string>
#include <vector>

namespace kestario {
namespace console {

// The arguments with every "--NAME=VALUE" of an option in `valueOptions` (each written "--NAME")
// split into "--NAME" and "VALUE", so that the tool's parser sees one form. The argument after
// such an option without "=" is its value and stays as it is, as does everything after "--".
// Another "--NAME=VALUE" stays whole (the parser names it as unknown).
std::vector<std::string> SplitOptionValues(const std::vector<std::string>& arguments,
                                           std::initializer_list<const char*> valueOptions);

}  // namespace console
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CONSOLE_ARGUMENTS_H_
