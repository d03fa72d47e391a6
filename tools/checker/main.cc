// updater-check: validates an update script before it is deployed. See tools/checker/command.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/checker/command.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int status = kestario::checker::RunCheckCommand(arguments, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
