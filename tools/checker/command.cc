#include "tools/checker/command.h"

#include <cstdio>
#include <memory>

#include "platform/system.h"
#include "tools/checker/checker.h"
#include "tools/checker/forwarding_system.h"
#include "tools/checker/report_format.h"
#ifndef _WIN32
#include "platform/system_posix.h"
#endif

namespace kestario {
namespace checker {
namespace {

enum class Output { kFindings, kJson, kPlan, kDot };

#ifndef _WIN32
bool IsReadableFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char byte;
  std::fread(&byte, 1, 1, file);
  bool readable = std::ferror(file) == 0;
  std::fclose(file);
  return readable;
}
#endif

}  // namespace

std::string UsageText() {
  return "usage: updater-check [--json | --plan | --dot] [--registry FILE] SCRIPT\n"
         "       updater-check --help\n"
         "\n"
         "Reads an update script the way the updater does (same profile reader, symbols and\n"
         "expansion) and reports the faults that would stop it, for every list the script can\n"
         "reach: UPDATER's PROC list and both branches of every SWITCH. It shows no box and\n"
         "deletes, copies or starts nothing.\n"
         "\n"
         "Findings are printed like a compiler's: FILE:LINE: error|warning: [SECTION] KEY: text\n"
         "<Src> is the script's folder; <Win> and {?App\\...} blocks are looked up on this\n"
         "machine.\n"
         "\n"
         "Options:\n"
         "  --json           print the findings as a JSON array of objects\n"
         "                   {file, line, severity, section, key, message}\n"
         "  --plan           print the lists the script can run, with each procedure's kind and\n"
         "                   expanded values and every SWITCH's branches (1: and 0:) beneath it;\n"
         "                   the findings go to standard error\n"
         "  --dot            print the same plan as a Graphviz digraph (dot -Tpng); the findings\n"
         "                   go to standard error\n"
#ifndef _WIN32
         "  --registry FILE  read App Paths entries from FILE instead of the registry file of\n"
         "                   the build (docs/registry.md)\n"
#endif
         "  -h, --help       print this help\n"
         "\n"
         "Exit status:\n"
         "  0  no errors (warnings allowed)\n"
         "  1  at least one error\n"
         "  2  the script cannot be read (missing, a folder, unreadable), or a bad command line\n";
}

int RunCheckCommand(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  Output output = Output::kFindings;
  bool outputChosen = false;
  std::string registry;
  std::string script;
  bool haveScript = false;
  bool optionsEnded = false;
  auto usageError = [&](const std::string& text) {
    err << "updater-check: " << text << "\n"
        << "Try 'updater-check --help'.\n";
    return kExitUnreadable;
  };

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
      if (argument == "--") {
        optionsEnded = true;
      } else if (argument == "-h" || argument == "--help") {
        out << UsageText();
        return kExitClean;
      } else if (argument == "--json" || argument == "--plan" || argument == "--dot") {
        Output chosen = argument == "--json"   ? Output::kJson
                        : argument == "--plan" ? Output::kPlan
                                               : Output::kDot;
        if (outputChosen && chosen != output) {
          return usageError("--json, --plan and --dot exclude each other");
        }
        output = chosen;
        outputChosen = true;
      } else if (argument == "--registry") {
#ifdef _WIN32
        return usageError("--registry is for the Linux build; Windows has its registry");
#else
        if (i + 1 >= arguments.size()) return usageError("--registry needs a file");
        registry = arguments[++i];
#endif
      } else {
        return usageError("unknown option " + argument);
      }
      continue;
    }
    if (haveScript) return usageError("more than one script: " + script + ", " + argument);
    script = argument;
    haveScript = true;
  }
  if (!haveScript) return usageError("no script given");

  std::unique_ptr<SystemSwap> swap;
#ifndef _WIN32
  PosixSystem system;
  if (!registry.empty()) {
    if (!IsReadableFile(registry)) {
      err << "updater-check: cannot read the registry file " << registry << "\n";
      return kExitUnreadable;
    }
    system.SetRegistryFile(registry.c_str());
    swap.reset(new SystemSwap(&system));
  }
#endif

  Report report;
  std::string problem;
  if (!CheckScript(script, script, &report, &problem)) {
    err << "updater-check: cannot read " << script << ": " << problem << "\n";
    return kExitUnreadable;
  }
  switch (output) {
    case Output::kFindings:
      out << FormatFindings(report);
      break;
    case Output::kJson:
      out << FormatJson(report);
      break;
    case Output::kPlan:
      out << FormatPlan(report) << std::flush;
      err << FormatFindings(report);
      break;
    case Output::kDot:
      out << FormatDot(report) << std::flush;
      err << FormatFindings(report);
      break;
  }
  return report.errors() > 0 ? kExitErrors : kExitClean;
}

}  // namespace checker
}  // namespace kestario
