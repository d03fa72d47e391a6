// Fuzz target: a whole run of an arbitrary script (UpdaterMain) against the in-memory System, so
// that no real file is touched and no process started.
//
// Input (parts separated by lines "%%"):
//   0 the script (/fuzz/updater.ini beside the program /fuzz/updater.run)
//   1 other files, one a line: "PATH=CONTENT" a file, "!PATH=CONTENT" a read-only file, "PATH/"
//     a folder; a relative PATH lies in /fuzz
//   2 the registry text (sections named by App Paths keys, "@" for the default value)
//   3 the command-line text after the program's name
//   4 control bytes, missing ones 0:
//       0-7   the answers of the first eight boxes (MemorySystem::AnswerFor)
//       8-11  CreateProcessA fail bits (little-endian), 12 WaitForProcess fail bits
//       13    bit 0: there is no script file
//       14-15 allocation failure (little-endian): 0 none; otherwise allocation number N & 0x7FFF
//             fails, and with bit 0x8000 every allocation from there on
// Checked after the run: the exit code is 0, or one that EXITCODE asks for (1602 only without an
// error box, 1603 only after one); the list stack is empty (and its block released
// when no allocation was made to fail); every process and registry key is closed; at most one
// error box was shown, of at most 1,023 bytes, and nothing at all happened after it but, in a
// rollback run (ROLLBACK), the undoing of its own changes: then every file is as it was before
// the run (the journals and the run log aside), and one that finished left nothing it kept.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/driver.h"
#include "engine/run.h"
#include "engine/run_state.h"
#include "support/check.h"
#include "support/fuzz_input.h"
#include "support/memory_system.h"
#include "text/byte_buffer.h"

namespace kestario {
namespace {

uint32_t g_failAt = 0;
bool g_failOnwards = false;
uint32_t g_allocations = 0;

bool Gate(size_t /*size*/) {
  const uint32_t number = ++g_allocations;
  return g_failOnwards ? number < g_failAt : number != g_failAt;
}

uint8_t ControlByte(const std::string& control, size_t index) {
  return index < control.size() ? static_cast<uint8_t>(control[index]) : 0;
}

void AddFiles(const std::string& text, fuzz::MemorySystem* system) {
  for (const std::string& line : fuzz::SplitLines(text)) {
    if (line.empty()) continue;
    if (line.back() == '/' && line.find('=') == std::string::npos) {
      std::string folder = fuzz::FuzzPath(line);
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      system->folders.insert(folder);
      continue;
    }
    const bool readOnly = line[0] == '!';
    const std::string entry = readOnly ? line.substr(1) : line;
    const size_t equals = entry.find('=');
    const std::string path =
        fuzz::FuzzPath(std::string(entry.substr(0, equals).c_str()));  // a C path ends at NUL
    system->files[path] = equals == std::string::npos ? "" : entry.substr(equals + 1);
    if (readOnly) system->readOnly.insert(path);
  }
}

// The files of the script's world, without the rollback journals and the run log.
std::map<std::string, std::string> Tree(const std::map<std::string, std::string>& files) {
  std::map<std::string, std::string> tree;
  const std::string log = g_updaterState.log.GetConstText();
  const std::string journals = std::string(fuzz::kJournalFolder) + "/";
  for (const auto& file : files) {
    if (file.first == log || file.first.compare(0, journals.size(), journals) == 0) continue;
    tree.insert(file);
  }
  return tree;
}

// A rollback run that stopped left every file as it was; one that finished kept nothing.
void CheckRolledBack(const std::map<std::string, std::string>& before,
                     const fuzz::MemorySystem& system) {
  const bool stopped = system.errorBoxes != 0 || StoppedByAnswer() != nullptr;
  if (stopped && system.undoFailureBoxes == 0) FUZZ_CHECK(Tree(system.files) == Tree(before));
  if (!stopped) {
    for (const auto& file : system.files) {
      const size_t slash = file.first.rfind('/');
      const bool kept =
          file.first.compare(slash + 1, 10, ".kestario-") == 0 && before.count(file.first) == 0;
      FUZZ_CHECK(!kept);
    }
  }
}

}  // namespace
}  // namespace kestario

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fz = kestario::fuzz;
  const std::vector<std::string> parts = fz::SplitParts(data, size, 5);
  const std::string& control = parts[4];
  fz::MemorySystem system;
  system.folders.insert("/fuzz");
  kestario::AddFiles(parts[1], &system);
  if ((kestario::ControlByte(control, 13) & 1u) == 0) {
    system.files["/fuzz/updater.ini"] = parts[0];
  } else {
    system.files.erase("/fuzz/updater.ini");
  }
  system.registryText = parts[2];
  for (size_t i = 0; i < 8; ++i) system.answers.push_back(kestario::ControlByte(control, i));
  for (size_t i = 0; i < 4; ++i) {
    system.processFailBits |= static_cast<uint32_t>(kestario::ControlByte(control, 8 + i)) << 8 * i;
  }
  system.waitFailBits = kestario::ControlByte(control, 12);
  const uint32_t gate = kestario::ControlByte(control, 14) |
                        static_cast<uint32_t>(kestario::ControlByte(control, 15)) << 8;
  kestario::g_failAt = gate & 0x7FFFu;
  kestario::g_failOnwards = (gate & 0x8000u) != 0;
  kestario::g_allocations = 0;
  const bool failAllocations = kestario::g_failAt != 0;
  const std::string commandLine = parts[3].c_str();

  const std::map<std::string, std::string> before = system.files;
  if (failAllocations) kestario::SetAllocationGate(&kestario::Gate);
  const int code = kestario::UpdaterMain(commandLine.c_str());
  kestario::SetAllocationGate(nullptr);
  if (kestario::g_updaterState.rollback != 0 && !failAllocations) {
    kestario::CheckRolledBack(before, system);
  }

  FUZZ_CHECK(code == 0 || code == 1602 || code == 1603);
  FUZZ_CHECK(code != 1602 || system.errorBoxes == 0);
  FUZZ_CHECK(code != 1603 || system.errorBoxes == 1);
  const kestario::ListStack& stack = kestario::CurrentRun().listStack;
  FUZZ_CHECK(stack.count == 0);
  if (!failAllocations) FUZZ_CHECK(stack.entries.GetSize() == 0);
  FUZZ_CHECK(system.OpenProcesses() == 0);
  FUZZ_CHECK(system.OpenRegistryKeys() == 0);
  FUZZ_CHECK(system.errorBoxes <= 1);
  for (const std::string& violation : system.violations) {
    std::fprintf(stderr, "violation: %s\n", violation.c_str());
  }
  FUZZ_CHECK(system.violations.empty());

  // The next input starts from the state of a fresh process.
  kestario::g_symbolTable.Clear();
  kestario::g_updaterState.name.Assign("");
  kestario::g_updaterState.proc.Assign("");
  kestario::CurrentRun().listStack.entries.Free();
  return 0;
}
