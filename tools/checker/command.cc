#include "tools/checker/command.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/encoding.h"
#include "platform/registry_file.h"
#include "platform/system.h"
#include "tools/checker/checker.h"
#include "tools/checker/paths.h"
#include "tools/checker/pin_script.h"
#include "tools/checker/read_only_system.h"
#include "tools/checker/report_format.h"
#include "tools/checker/script_lines.h"
#include "tools/checker/signature_check.h"
#include "tools/checker/what_if.h"
#include "tools/checker/what_if_format.h"
#include "tools/console/arguments.h"
#include "tools/console/console_output.h"

namespace kestario {
namespace checker {
namespace {

enum class Output { kFindings, kJson, kPlan, kDot, kSarif, kGithub };

// "SECTION=ANSWER" of --answer.
bool ParseSectionAnswer(const std::string& text, std::string* section, Answer* answer) {
  size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) return false;
  *section = text.substr(0, equals);
  return ParseAnswer(text.substr(equals + 1), answer);
}

}  // namespace

std::string UsageText() {
  return "usage: updater-check [--format text|json|sarif|github | --json | --plan | --dot]\n"
         "                     [--registry FILE] SCRIPT\n"
         "       updater-check --what-if [--answer SECTION=yes|no|ok ...]\n"
         "                     [--answers-default yes|no] [--unseen] [--caption TEXT]\n"
         "                     [--json]\n"
         "                     [--registry FILE] SCRIPT\n"
         "       updater-check --pin [--registry FILE] SCRIPT\n"
         "       updater-check --key PUBLIC_KEY.pem SCRIPT\n"
         "       updater-check --help | --version\n"
         "An option's value may also be joined to it: --caption=TEXT.\n"
         "\n"
         "Reads an update script the way the updater does (same profile reader, symbols and\n"
         "expansion) and reports the faults that would stop it, for every list the script can\n"
         "reach: UPDATER's PROC list and both branches of every SWITCH. It shows no box and\n"
         "deletes, copies or starts nothing.\n"
         "\n"
         "Findings are printed like a compiler's: FILE:LINE: error|warning: [SECTION] KEY: text\n"
         "[RULE], RULE being its stable ID (KU101...). A comment line\n"
         "  ; updater-check: disable-next-line RULE [RULE...]\n"
         "silences those rules on the line below it.\n"
         "<Src> is the script's folder; <Win> and {?App\\...} blocks are looked up on this\n"
         "machine.\n"
         "\n"
         "Options:\n"
         "  --json           print the findings as a JSON array of objects\n"
         "                   {file, line, column, severity, rule, section, key, message}\n"
         "  --format FORMAT  text (the default), json (as --json), sarif (a SARIF 2.1.0 log for\n"
         "                   code scanning) or github (GitHub Actions annotations)\n"
         "  --plan           print the lists the script can run, with each procedure's kind and\n"
         "                   expanded values and every SWITCH's branches (1: and 0:) beneath it;\n"
         "                   the findings go to standard error\n"
         "  --dot            print the same plan as a Graphviz digraph (dot -Tpng); the findings\n"
         "                   go to standard error\n"
         "  --pin            print the script with every COPY and LAUNCH section's HASH\n"
         "                   filled in from the files as they are now (a file that cannot be\n"
         "                   read leaves its item empty, with a warning on standard error)\n"
         "  --what-if        predict the run on this machine: the program's own engine runs\n"
         "                   against a simulated system that reads the real files, registry and\n"
         "                   script but deletes, copies and starts nothing; prints every step, "
         "box\n"
         "                   and change, and one line: would finish / would stop at [SECTION]\n"
         "                   with message N: TEXT / would stop: the user answers SECTION=ANSWER,\n"
         "                   then the updater's exit code (exit code N)\n"
         "  --answer SECTION=yes|no|ok\n"
         "                   --what-if: the answer to the boxes of MSGBOX SECTION (repeatable)\n"
         "  --answers-default yes|no\n"
         "                   --what-if: the answer to every other box (default yes)\n"
         "  --unseen         --what-if: no box can be seen (a service, a computer startup\n"
         "                   script): each MSGBOX answers with its UNSEEN, or not at all\n"
         "  --caption TEXT   --what-if: the program's first argument, the caption of its boxes\n"
         "                   when the script's NAME is empty\n" +
         std::string(RegistryIsAFile()
                         ? "  --registry FILE  read App Paths entries from FILE instead of the "
                           "registry file of\n"
                           "                   the build (docs/registry.md)\n"
                         : "") +
         "  --key FILE       say whether SCRIPT.sig beside the script is a signature of it by the\n"
         "                   public key in FILE (PEM), as a machine's signature policy checks it\n"
         "                   (docs/trust.md); exit status 0 when it is, 1 when not\n"
         "  -h, --help       print this help\n"
         "  -V, --version    print the version: updater-check X.Y.Z\n"
         "\n"
         "Exit status:\n"
         "  0  no errors (warnings allowed)\n"
         "  1  at least one error\n"
         "  2  the script cannot be read (missing, a folder, unreadable), or a bad command line\n"
         "With --what-if:\n"
         "  0  the predicted run finishes\n"
         "  1  it would stop with an error box\n"
         "  2  the script cannot be read, or a bad command line\n"
         "  3  it would stop on the user's answer\n";
}

namespace {

// The texts of the report in UTF-8: each line that is valid text of the ANSI code page is
// converted (on Linux it stays as it is); a line that is not keeps its bytes.
std::string Utf8Lines(const std::string& ansiText) {
  std::string utf8;
  for (size_t start = 0; start < ansiText.size();) {
    size_t end = ansiText.find('\n', start);
    end = end == std::string::npos ? ansiText.size() : end + 1;
    ByteBuffer converted;
    if (ValidAnsiToUtf8(ansiText.data() + start, static_cast<uint32_t>(end - start), &converted)) {
      utf8.append(reinterpret_cast<const char*>(converted.GetConstData()), converted.GetSize());
    } else {
      utf8.append(ansiText, start, end - start);
    }
    start = end;
  }
  return utf8;
}

// --pin: the script's own bytes (no conversion), its HASH lines filled in.
int PrintPinnedScript(const std::string& path, const Report& report, std::ostream& out,
                      std::ostream& err) {
  std::string bytes;
  std::string problem;
  if (!ReadScriptFile(path, &bytes, &problem)) {
    err << "updater-check: cannot read " << path << ": " << problem << "\n";
    return kExitUnreadable;
  }
  std::vector<std::string> warnings;
  out << PinScript(bytes, report, &warnings);
  for (const std::string& warning : warnings) err << "updater-check: warning: " << warning << "\n";
  return kExitClean;
}

int RunCheck(const std::vector<std::string>& given, std::ostream& out, std::ostream& err,
             bool* outIsUtf8) {
  // Every option that takes a value, also written --OPTION=VALUE.
  const std::vector<std::string> arguments = console::SplitOptionValues(
      given, {"--answer", "--answers-default", "--caption", "--registry", "--format", "--key"});
  Output output = Output::kFindings;
  bool outputChosen = false;
  std::string registry;
  std::string key;  // --key: the public key file
  bool whatIf = false;
  bool pin = false;
  WhatIfOptions whatIfOptions;
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
      } else if (argument == "--version" || argument == "-V") {
        out << "updater-check " << KESTARIO_VERSION << "\n";
        return kExitClean;
      } else if (argument == "--json" || argument == "--plan" || argument == "--dot" ||
                 argument == "--format") {
        std::string name = argument.substr(2);
        if (argument == "--format") {
          if (i + 1 >= arguments.size()) return usageError("--format needs a format");
          name = arguments[++i];
        }
        Output chosen;
        if (name == "json") {
          chosen = Output::kJson;
        } else if (name == "plan") {
          chosen = Output::kPlan;
        } else if (name == "dot") {
          chosen = Output::kDot;
        } else if (name == "sarif") {
          chosen = Output::kSarif;
        } else if (name == "github") {
          chosen = Output::kGithub;
        } else if (name == "text") {
          chosen = Output::kFindings;
        } else {
          return usageError("--format wants text, json, sarif or github, not " + name);
        }
        if (outputChosen && chosen != output) {
          return usageError("--json, --plan, --dot and --format exclude each other");
        }
        output = chosen;
        outputChosen = true;
        // These formats write UTF-8 themselves.
        *outIsUtf8 =
            output == Output::kJson || output == Output::kSarif || output == Output::kGithub;
      } else if (argument == "--pin") {
        pin = true;
      } else if (argument == "--what-if") {
        whatIf = true;
      } else if (argument == "--unseen") {
        whatIfOptions.unseen = true;
      } else if (argument == "--answer" || argument == "--answers-default" ||
                 argument == "--caption") {
        if (i + 1 >= arguments.size()) return usageError(argument + " needs a value");
        const std::string& value = arguments[++i];
        std::string section;
        Answer answer;
        if (argument == "--caption") {
          whatIfOptions.caption = value;
        } else if (argument == "--answer") {
          if (!ParseSectionAnswer(value, &section, &answer)) {
            return usageError("--answer wants SECTION=yes, SECTION=no or SECTION=ok, not " + value);
          }
          whatIfOptions.answers[FoldName(section)] = answer;
        } else {
          if (!ParseAnswer(value, &answer) || answer == Answer::kOk) {
            return usageError("--answers-default wants yes or no, not " + value);
          }
          whatIfOptions.defaultAnswer = answer;
        }
      } else if (argument == "--key") {
        if (i + 1 >= arguments.size()) return usageError("--key needs a public key file");
        key = arguments[++i];
      } else if (argument == "--registry") {
        if (!RegistryIsAFile()) {
          return usageError("--registry is for the Linux build; Windows has its registry");
        }
        if (i + 1 >= arguments.size()) return usageError("--registry needs a file");
        registry = arguments[++i];
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
  if (pin && (whatIf || outputChosen)) {
    return usageError("--pin prints the script; it goes with no other output");
  }
  if (whatIf && output != Output::kFindings && output != Output::kJson) {
    return usageError(
        "--what-if shows a run as text or JSON; --plan, --dot, SARIF and GitHub "
        "annotations show the findings of every list");
  }
  if (!whatIf && (whatIfOptions.answers.size() || !whatIfOptions.caption.empty() ||
                  whatIfOptions.defaultAnswer != Answer::kYes || whatIfOptions.unseen)) {
    return usageError("--answer, --answers-default, --unseen and --caption go with --what-if");
  }
  if (!key.empty() && (whatIf || outputChosen || !registry.empty())) {
    return usageError("--key checks the signature alone");
  }

  std::unique_ptr<System> system;
  std::unique_ptr<SystemSwap> swap;
  if (!registry.empty()) {
    // Only a regular file is read, as for the script: a named pipe would block the check.
    std::string bytes;
    std::string problem;
    if (!ReadScriptFile(registry, &bytes, &problem)) {
      err << "updater-check: cannot read the registry file " << registry << ": " << problem << "\n";
      return kExitUnreadable;
    }
    system.reset(NewSystemWithRegistryFile(registry.c_str()));
    if (system != nullptr) swap.reset(new SystemSwap(system.get()));
  }

  // On Windows the script's name comes as UTF-8 from the UTF-16 command line; the updater's
  // calls, which the checks make, take the ANSI code page.
  std::string path;
  std::string pathProblem;
  if (!console::AnsiPath(script, &path, &pathProblem)) {
    err << "updater-check: cannot read " << script << ": " << pathProblem << "\n";
    return kExitUnreadable;
  }

  if (!key.empty()) {
    std::string keyPath;
    if (!console::AnsiPath(key, &keyPath, &pathProblem)) {
      err << "updater-check: cannot read the key " << key << ": " << pathProblem << "\n";
      return kExitUnreadable;
    }
    return CheckSignatureCommand(keyPath, path, out, err);
  }

  if (whatIf) {
    *outIsUtf8 = output == Output::kJson;  // the text shows the script's texts as they are
    WhatIfReport prediction;
    std::string problem;
    if (!PredictRun(path, path, whatIfOptions, &prediction, &problem)) {
      err << "updater-check: cannot read " << script << ": " << problem << "\n";
      return kExitUnreadable;
    }
    out << (output == Output::kJson ? FormatWhatIfJson(prediction) : FormatWhatIf(prediction));
    switch (prediction.end) {
      case WhatIfEnd::kFinish:
        return kExitClean;
      case WhatIfEnd::kError:
        return kExitErrors;
      case WhatIfEnd::kAnswer:
        break;
    }
    return kExitAnswered;
  }

  Report report;
  std::string problem;
  if (!CheckScript(path, script, &report, &problem)) {
    err << "updater-check: cannot read " << script << ": " << problem << "\n";
    return kExitUnreadable;
  }
  if (pin) return PrintPinnedScript(path, report, out, err);
  switch (output) {
    case Output::kFindings:
      out << FormatFindings(report);
      break;
    case Output::kJson:
      out << FormatJson(report);
      break;
    case Output::kSarif:
      out << FormatSarif(report);
      break;
    case Output::kGithub:
      out << FormatGithub(report);
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

}  // namespace

int RunCheckCommand(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  std::ostringstream ansiOut;
  std::ostringstream ansiErr;
  // The findings are written in UTF-8 from the start, as are the messages on standard error
  // (the arguments are UTF-8); the plan, the graph and the what-if are the script's texts.
  bool outIsUtf8 = true;
  int status = RunCheck(arguments, ansiOut, ansiErr, &outIsUtf8);
  out << (outIsUtf8 ? ansiOut.str() : Utf8Lines(ansiOut.str())) << std::flush;
  err << ansiErr.str();
  return status;
}

}  // namespace checker
}  // namespace kestario
