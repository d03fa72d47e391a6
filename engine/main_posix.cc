// The Linux entry point: the arguments become the command-line text that Windows would hand over.
#include <cstdlib>
#include <cstring>

#include "engine/driver.h"
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
  kestario::TextString commandLine;
  JoinArguments(argc, argv, &commandLine);
  return kestario::UpdaterProcessMain(commandLine.GetConstText());
}
