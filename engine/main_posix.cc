// The Linux entry point: the arguments become the command-line text that Windows would hand over.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine/driver.h"
#include "platform/standard_files_posix.h"
#include "platform/system_posix.h"
#include "text/text_string.h"

namespace {

// Joins the arguments by single spaces; an argument that is empty or holds a space is put in
// double quotes, as a Windows command line would carry it.
void JoinArguments(int argc, char** argv, kestario::TextString* commandLine) {
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine->Append(" ");
    bool quote = argv[i][0] == '\0' || std::strchr(argv[i], ' ') != nullptr;
    if (quote) commandLine->Append("\"");
    commandLine->Append(argv[i]);
    if (quote) commandLine->Append("\"");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: no file of the run may become a standard descriptor. A standard
  // error that was closed stays a terminal that cannot be written, so a box is not shown there.
  if (kestario::OpenClosedStandardFiles() & (1u << STDERR_FILENO)) {
    static_cast<kestario::PosixSystem&>(kestario::RealSystem()).SetTerminal(STDIN_FILENO, -1);
  }
  kestario::TextString commandLine;
  JoinArguments(argc, argv, &commandLine);
  return kestario::UpdaterProcessMain(commandLine.GetConstText());
}
