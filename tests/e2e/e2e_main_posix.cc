// The Linux program as the end-to-end tests build it: identical to updater.run but for its
// registry file, which it reads from beside itself (registry.ini), so that each scenario brings
// its own registry in its temporary folder, and for its rollback journals, which it keeps below
// its own folder too (never in the machine's).
#include <unistd.h>

#include <string>

#include "engine/driver.h"
#include "platform/standard_files_posix.h"
#include "platform/system.h"
#include "platform/system_posix.h"
#include "text/text_string.h"

int main(int argc, char** argv) {
  unsigned closed = kestario::OpenClosedStandardFiles();
  auto& system = static_cast<kestario::PosixSystem&>(kestario::RealSystem());
  if (closed & (1u << STDERR_FILENO)) system.SetTerminal(STDIN_FILENO, -1);
  kestario::TextString module;
  module.Allocate(4096);
  kestario::RealSystem().GetModuleFileNameA(module.GetText(), 4096);
  std::string folder = module.GetTokens(0, -2, "/").GetConstText();
  std::string registry = folder + "/registry.ini";
  system.SetRegistryFile(registry.c_str());
  system.SetPrivateDataBase(folder.c_str());

  kestario::TextString commandLine;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (i > 1) commandLine.Append(" ");
    bool quote = argument.empty() || argument.find(' ') != std::string::npos;
    commandLine.Append((quote ? "\"" + argument + "\"" : argument).c_str());
  }
  return kestario::UpdaterProcessMain(commandLine.GetConstText());
}
