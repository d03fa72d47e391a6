// The run log that UPDATER's LOG asks for: where it goes after expansion, the values that name no
// log (the run then writes none), and the files the script needs that the log would be.
#include <string>

#include "platform/path_questions.h"
#include "platform/system.h"
#include "text/text_string.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"
#include "tools/checker/paths.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

// The path by which two spellings of one file compare equal, links followed; empty when its
// folder does not exist.
std::string Identity(const std::string& path) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  return IsFolder(folder) ? PathKey(FullPath(path)) : std::string();
}

// What `path` is when it exists and is no regular file ("a folder", "a named pipe" ...); empty
// for a regular file and for none.
std::string NoFileKind(const std::string& path) {
  switch (GetPathKindA(path.c_str())) {
    case PathKind::kFolder:
      return "a folder";
    case PathKind::kFile:
      return IsDiskFileA(path.c_str()) ? std::string() : "a device or a pipe";
    case PathKind::kPipe:
      return "a named pipe";
    case PathKind::kDevice:
      return "a device";
    case PathKind::kOther:
      return "no regular file";
    case PathKind::kNothing:
    case PathKind::kUnreachable:
      break;
  }
  return std::string();
}

// How a procedure uses the file that one of its keys names.
struct FileUse {
  const char* kind;
  const char* key;
  const char* use;   // "the file that [NAME] <use>: PATH"
  const char* then;  // what the log does to that
};
constexpr FileUse kFileUses[] = {
    {"DELETE", "FILE", "deletes", "the log's later lines are lost with it"},
    {"COPY", "TO", "copies over", "the log's later lines go to the replaced file and are lost"},
    {"COPY", "FROM", "copies", "the copy holds the log's lines so far"},
    {"EXIST", "FILE", "looks for", "the run makes it at its start when it is missing"},
    {"DATE", "FILE", "takes the date of", "every line of the log dates it today"},
};

}  // namespace

void Analyzer::CheckLog() {
  const std::string section = "UPDATER";
  Value log = Read(section, "LOG");
  if (!log.present || log.expanded.empty()) return;
  int line = KeyLine(section, "LOG");
  CheckValue(line, section, "LOG", log);
  report_->log = log.expanded;

  std::string folder, name;
  SplitPath(log.expanded, &folder, &name);
  if (!IsFolder(folder)) {
    Warning(Rule::kLogFolderMissing, line, section, "LOG",
            "the log's folder " + QuoteValue(folder) +
                " does not exist on this machine; the run would go on without a log");
    return;
  }
  std::string target = Identity(log.expanded);
  if (target.empty()) return;
  std::string kind = NoFileKind(log.expanded);
  if (!kind.empty()) {
    Warning(Rule::kLogNotAFile, line, section, "LOG",
            "the log is " + kind + ", not a file: the run would write no log");
    return;
  }
  // The program that runs the script has its name, with its own extension.
  TextString program(scriptPath_.c_str());
  program.ReplaceTokens(-1, -1, ".", kPathSeparator == '/' ? "run" : "exe");
  if (target == Identity(scriptPath_) || target == Identity(program.GetConstText())) {
    Warning(Rule::kLogIsScriptOrProgram, line, section, "LOG",
            std::string("the log is the ") +
                (target == Identity(scriptPath_) ? "script" : "program") +
                " itself: the run would write no log");
    return;
  }
  for (const PlanList& list : report_->lists) {
    for (const PlanProcedure& procedure : list.procedures) {
      for (const FileUse& use : kFileUses) {
        if (procedure.kind != use.kind) continue;
        for (const std::string& item : Items(procedure.Value(use.key))) {
          if (item.empty() || Identity(item) != target) continue;
          Warning(Rule::kLogIsProcedureFile, line, section, "LOG",
                  "the log is the file that [" + procedure.name + "] " + use.use + ": " +
                      QuoteValue(item) + "; " + use.then);
        }
      }
    }
  }
}

}  // namespace checker
}  // namespace kestario
