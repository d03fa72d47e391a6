// Fuzz target: updater-check on an arbitrary script, in every output mode (findings, --json,
// --plan, --dot) and with --what-if (text and --json), which runs the program's engine against
// the simulated system.
//
// Input: the script's bytes, written to updater.ini in a temporary folder of this process; the
// script's values may name any path, which the checker and the simulated system only read.
// Checked for every input: each mode exits as documented (0 or 1; --what-if 0, 1 or 3), prints
// something that starts as its format does, and --what-if ends with one of its three end lines
// and never starts, deletes or copies anything (the folder holds only the script afterwards).
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/check.h"
#include "tools/checker/command.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/kestario-checker-fuzz-XXXXXX";
    const char* made = mkdtemp(name);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return folder;
}

int Run(const std::vector<std::string>& arguments, std::string* out) {
  std::ostringstream output;
  std::ostringstream errors;
  int status = kestario::checker::RunCheckCommand(arguments, output, errors);
  *out = output.str();
  return status;
}

// The lines of `text`, each without its line feed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// A what-if report ends with its end line, the exit code line and, when the script asks for an
// event, the event line.
bool EndsWithEndLines(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  if (text.empty() || text.back() != '\n' || lines.size() < 2) return false;
  size_t exit = lines.size() - 1;
  if (lines[exit].rfind("event ", 0) == 0) --exit;
  if (exit == 0 || lines[exit].rfind("exit code ", 0) != 0) return false;
  const std::string& end = lines[exit - 1];
  return end == "would finish" || end.rfind("would stop at [", 0) == 0 ||
         end.rfind("would stop: the user answers ", 0) == 0;
}

size_t FolderEntries(const std::string& folder) {
  size_t count = 0;
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return 0;
  while (readdir(directory) != nullptr) ++count;
  closedir(directory);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string script = Folder() + "/updater.ini";
  std::FILE* file = std::fopen(script.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);

  std::string out;
  for (const char* mode : {"", "--json", "--plan", "--dot"}) {
    std::vector<std::string> arguments;
    if (*mode != '\0') arguments.push_back(mode);
    arguments.push_back(script);
    int status = Run(arguments, &out);
    FUZZ_CHECK(status == kestario::checker::kExitClean || status == kestario::checker::kExitErrors);
    if (std::string(mode) == "--json") FUZZ_CHECK(!out.empty() && out[0] == '[');
    if (std::string(mode) == "--dot") FUZZ_CHECK(out.rfind("digraph plan {\n", 0) == 0);
  }
  for (bool json : {false, true}) {
    std::vector<std::string> arguments = {"--what-if", "--answers-default",
                                          size % 2 ? "no" : "yes"};
    if (json) arguments.push_back("--json");
    arguments.push_back(script);
    int status = Run(arguments, &out);
    FUZZ_CHECK(status == kestario::checker::kExitClean ||
               status == kestario::checker::kExitErrors ||
               status == kestario::checker::kExitAnswered);
    if (json) {
      FUZZ_CHECK(out.rfind("{\"file\": ", 0) == 0);
      FUZZ_CHECK(out.find("\"end\": {\"result\": \"") != std::string::npos);
    } else {
      FUZZ_CHECK(EndsWithEndLines(out));
    }
  }
  // ".", ".." and the script: nothing was made beside it, and it is still there.
  FUZZ_CHECK(FolderEntries(Folder()) == 3);
  return 0;
}
