#include "support/script_test.h"

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/context.h"
#include "engine/procedures.h"
#include "engine/run_state.h"
#include "settings/symbols.h"

namespace kestario {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  chmod(path, 0700);
  return ::remove(path);
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestario-test-XXXXXX";
  char* made = mkdtemp(&pattern[0]);
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (!path_.empty()) nftw(path_.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempDir::Exists(const std::string& name) const {
  struct stat info;
  return lstat(Path(name).c_str(), &info) == 0;
}

ScriptTest::ScriptTest() {
  system.modulePath = dir.Path("updater.run");
  CurrentRun().Reset();  // each test is a fresh run, as StartUp makes one
}

ScriptTest::~ScriptTest() {
  FreeAllLists();
  g_updaterState.name.Assign("");
  g_updaterState.proc.Assign("");
  g_symbolTable.Clear();
}

void ScriptTest::Prepare(const char* commandLine) {
  PrepareContext(commandLine);
  LoadDefinitions();
}

std::string ScriptTest::BoxSummary() const {
  std::string summary;
  for (const ShownBox& box : system.boxes) {
    if (!summary.empty()) summary += "\n--\n";
    summary += box.caption + "|" + box.text;
  }
  return summary;
}

}  // namespace kestario
