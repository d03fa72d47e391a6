#include "tools/console/arguments.h"

namespace kestario {
namespace console {

std::vector<std::string> SplitOptionValues(const std::vector<std::string>& arguments,
                                           std::initializer_list<const char*> valueOptions) {
  auto takesValue = [&](const std::string& name) {
    for (const char* option : valueOptions) {
      if (name == option) return true;
    }
    return false;
  };
  std::vector<std::string> split;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      split.insert(split.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i),
                   arguments.end());
      break;
    }
    size_t equals = argument.find('=');
    if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos &&
        takesValue(argument.substr(0, equals))) {
      split.push_back(argument.substr(0, equals));
      split.push_back(argument.substr(equals + 1));
      continue;
    }
    split.push_back(argument);
    if (takesValue(argument) && i + 1 < arguments.size()) split.push_back(arguments[++i]);
  }
  return split;
}

}  // namespace console
}  // namespace kestario
