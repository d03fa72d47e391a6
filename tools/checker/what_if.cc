#include "tools/checker/what_if.h"

#include "engine/context.h"
#include "engine/driver.h"
#include "engine/procedures.h"
#include "engine/run.h"
#include "engine/run_end.h"
#include "platform/system.h"
#include "settings/symbols.h"
#include "tools/checker/read_only_system.h"
#include "tools/checker/script_lines.h"
#include "tools/checker/simulated_system.h"
#include "tools/checker/what_if_recorder.h"

namespace kestario {
namespace checker {
namespace {

// Installs the recorder as the engine's observer for the time of one prediction.
class ObserverScope {
 public:
  explicit ObserverScope(RunObserver* observer) { SetRunObserver(observer); }
  ~ObserverScope() { SetRunObserver(nullptr); }
  ObserverScope(const ObserverScope&) = delete;
  ObserverScope& operator=(const ObserverScope&) = delete;
};

// The command line the program would be given: the caption as its first word.
std::string CommandLine(const std::string& caption) {
  if (caption.empty()) return std::string();
  return "\"" + caption + "\"";
}

}  // namespace

const char* AnswerName(Answer answer) {
  switch (answer) {
    case Answer::kYes:
      return "yes";
    case Answer::kNo:
      return "no";
    case Answer::kOk:
      break;
  }
  return "ok";
}

bool ParseAnswer(const std::string& text, Answer* answer) {
  for (Answer candidate : {Answer::kYes, Answer::kNo, Answer::kOk}) {
    if (EqualNoCase(text, AnswerName(candidate))) {
      *answer = candidate;
      return true;
    }
  }
  return false;
}

bool PredictRun(const std::string& path, const std::string& displayName,
                const WhatIfOptions& options, WhatIfReport* report, std::string* problem) {
  *report = WhatIfReport();
  report->file = displayName;
  std::string bytes;
  if (!ReadScriptFile(path, &bytes, problem)) return false;

  WhatIfRecorder recorder(options, report);
  SimulatedSystem simulated(&CurrentSystem(), &recorder, FullPath(path));
  RunSummary summary;
  {
    SystemSwap swap(&simulated);
    ObserverScope observer(&recorder);
    // The program's own run, through the function that UpdaterMain calls.
    summary = RunScript(CommandLine(options.caption).c_str());
    BindScript(nullptr, nullptr, nullptr);
  }
  report->exitCode = summary.exitCode;
  report->exitCodesAsked = summary.exitCodesAsked;
  report->rollback = summary.rollback;
  recorder.Finish(summary.outcome == RunOutcome::kFinished);
  simulated.ReportChanges(report);
  return true;
}

}  // namespace checker
}  // namespace kestario
