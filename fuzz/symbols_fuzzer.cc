// Fuzz target: symbol expansion with arbitrary DEFINE sections and values, through the settings
// readers and an in-memory System that serves the script.
//
// Input (parts separated by lines "%%"): the lines of the DEFINE section; the lines of a section
// V whose keys are read; the registry text (sections named by App Paths keys, "@" for the default
// value). The script is "[DEFINE]", the first part, "[V]", the second part. LoadDefinitions runs
// once, then every key of V is read with ReadSetting and ReadSettingInt and every DEFINE name is
// looked up. Checked: start-up builds the table with both built-ins; a read fails exactly when
// it shows message 2; no expanded value holds a backslash followed by "n"; the brace and angle
// passes give what their plain block-by-block reading gives; every registry key is closed again;
// the error boxes follow the rules of MemorySystem.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/messages.h"
#include "settings/symbols.h"
#include "support/check.h"
#include "support/fuzz_input.h"
#include "support/memory_system.h"
#include "text/text_string.h"

namespace kestario {
namespace {

constexpr size_t kMaxReads = 32;

void CheckExpanded(const TextString& value) {
  FUZZ_CHECK(std::strstr(value.GetConstText(), "\\n") == nullptr);
}

// The two passes read plainly, block by block through the public TextString operations: block
// `index` is looked up; a replacement keeps the index, anything else moves on; the number of
// attempts is the block count when the pass starts.
bool ReferenceBracePass(TextString* text) {
  const int32_t blocks = text->CountBlocks("{", "}");
  bool replaced = false;
  int32_t index = 0;
  for (int32_t attempt = 0; attempt < blocks; ++attempt) {
    TextString piece = text->GetBlock(index, "{", "}");
    if (LookUpBraceBlock(&piece)) {
      text->ReplaceBlock(index, "{", "}", piece.GetConstText());
      replaced = true;
    } else {
      ++index;
    }
  }
  text->ReplaceAll("\\n", "\n");
  return replaced;
}

// Both passes on `line` agree with their plain reading.
void CheckPasses(const std::string& line) {
  TextString expanded(line.c_str());
  TextString reference(line.c_str());
  FUZZ_CHECK(ExpandBraceBlocks(&expanded) == ReferenceBracePass(&reference));
  FUZZ_CHECK(std::strcmp(expanded.GetConstText(), reference.GetConstText()) == 0);
  FUZZ_CHECK(ExpandAngleBlocks(&expanded) == ExpandAngleBlocksBlockByBlock(&reference));
  FUZZ_CHECK(std::strcmp(expanded.GetConstText(), reference.GetConstText()) == 0);
  CheckExpanded(expanded);
}

}  // namespace
}  // namespace kestario

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestario::TextString;
  namespace fz = kestario::fuzz;
  const std::vector<std::string> parts = fz::SplitParts(data, size, 3);
  fz::MemorySystem system;
  system.oneRun = false;
  const std::string scriptPath = "/fuzz/updater.ini";
  system.files[scriptPath] = "[DEFINE]\n" + parts[0] + "\n[V]\n" + parts[1];
  system.registryText = parts[2];

  TextString script(scriptPath.c_str());
  TextString module(system.modulePath.c_str());
  kestario::WideText caption;
  caption.Assign(u"Fuzz");
  kestario::SymbolTable table;
  kestario::BindErrorCaption(&caption);
  kestario::BindScript(&script, &module, &table);

  FUZZ_CHECK(kestario::LoadDefinitions());
  FUZZ_CHECK(table.count() >= 2);
  FUZZ_CHECK(system.errorBoxes == 0);
  TextString value;
  FUZZ_CHECK(kestario::FindSymbol("<Win>", &value));
  FUZZ_CHECK(kestario::FindSymbol("<Src>", &value));
  for (int32_t i = 0; i < table.count(); ++i) {
    if (table.NameAt(i).IsEqualNoCase("<Src>") && table.HasValueAt(i) &&
        table.IndexOf("<Src>") == i) {
      FUZZ_CHECK(std::strcmp(table.ValueAt(i).GetConstText(), "/fuzz") == 0);
    }
    FUZZ_CHECK(kestario::FindSymbol(table.NameAt(i).GetConstText(), &value));
  }

  size_t reads = 0;
  size_t failures = 0;
  for (const std::string& line : fz::SplitLines(parts[1])) {
    if (reads == kestario::kMaxReads) break;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = std::string(line.c_str()).substr(0, equals);
    ++reads;
    TextString read("unchanged");
    if (kestario::ReadSetting("V", key.c_str(), &read)) {
      kestario::CheckExpanded(read);
    } else {
      ++failures;
      FUZZ_CHECK(std::strcmp(read.GetConstText(), "unchanged") == 0);
    }
    int32_t number = 12345;
    if (!kestario::ReadSettingInt("V", key.c_str(), &number)) ++failures;

    // The two passes straight on the raw line, as a value may hold anything.
    kestario::CheckPasses(line);
  }
  FUZZ_CHECK(system.errorBoxes == failures);
  FUZZ_CHECK(system.OpenRegistryKeys() == 0);
  for (const std::string& violation : system.violations) {
    std::fprintf(stderr, "violation: %s\n", violation.c_str());
  }
  FUZZ_CHECK(system.violations.empty());

  kestario::BindScript(nullptr, nullptr, nullptr);
  kestario::BindErrorCaption(nullptr);
  return 0;
}
