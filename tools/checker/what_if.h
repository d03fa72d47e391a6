// updater-check --what-if: what a script will do on this machine, predicted by the program's own
// engine.
//
// The engine runs as it would on this machine (start-up, list building, every executor, SWITCH)
// against a SimulatedSystem (simulated_system.h): it reads the real files, registry, Windows
// directory and script, changes nothing, and keeps the deletions and copies it predicts in an
// overlay so that later tests see them. A recorder (the engine's RunObserver) notes every step.
#ifndef KESTARIO_TOOLS_CHECKER_WHAT_IF_H_
#define KESTARIO_TOOLS_CHECKER_WHAT_IF_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestario {
namespace checker {

enum class Answer { kYes, kNo, kOk };

// The name of an answer as options and reports write it ("yes", "no", "ok").
const char* AnswerName(Answer answer);
// The answer named by `text` (ASCII case ignored); false when it names none.
bool ParseAnswer(const std::string& text, Answer* answer);

struct WhatIfOptions {
  std::map<std::string, Answer> answers;  // by section name, folded as the script's names fold
  Answer defaultAnswer = Answer::kYes;
  std::string caption;  // the program's first argument; empty: none
  // No box can be seen (a service, a computer startup script): every box is not shown, and a
  // MSGBOX answers with its UNSEEN, or not at all.
  bool unseen = false;
};

// One box the run would show.
struct WhatIfBox {
  int step = 0;  // the step that shows it; 0 before the first step
  std::string caption;
  std::string kind;    // ERROR, INFORMATION, WARNING or QUESTION
  std::string text;    // as shown
  std::string answer;  // "yes", "no" or "ok"; "ok" for an error box, which needs no answer; "none"
                       // for a box not shown that no UNSEEN answers
  int message = 0;     // the catalog number of an error the program reports; 0 for a MSGBOX box
  bool shown = true;   // false with --unseen
};

// What one step would see or do: "exists", "date", "delete", "copy", "launch", "wait", "box", or
// "uncertain" (why the step's outcome cannot be known without doing it).
struct WhatIfEvent {
  std::string kind;
  std::string text;      // the whole event as a line of the report
  bool succeeds = true;  // a check that the platform would refuse is false
  // The answer depends on what a program started earlier does, or (kind "uncertain") cannot be
  // known without doing the step.
  bool uncertain = false;
};

struct WhatIfStep {
  int number = 0;
  int depth = 0;        // 0 for UPDATER's PROC list, one more per SWITCH
  std::string list;     // where the list was read: "[UPDATER] PROC", "[GO] 1"
  std::string section;  // the procedure, as its list names it
  std::string mode;     // MODE, expanded
  std::vector<std::pair<std::string, std::string>> values;  // the kind's keys, expanded
  std::vector<WhatIfEvent> events;
  std::string branch;     // SWITCH: "1" or "0", the branch taken; empty otherwise
  bool ended = false;     // the step returned (false: the run stopped inside a deeper step)
  bool succeeded = true;  // the run goes on after it
  int flag = 0;
  bool uncertain = false;  // an event of the step is uncertain, or an earlier step's outcome is
};

enum class WhatIfEnd { kFinish, kError, kAnswer };

struct WhatIfReport {
  std::string file;
  std::vector<WhatIfStep> steps;
  std::vector<WhatIfBox> boxes;  // every box, in order
  WhatIfEnd end = WhatIfEnd::kFinish;
  std::string endSection;       // kError: where the error is reported; kAnswer: the MSGBOX
  int endMessage = 0;           // kError
  std::string endText;          // kError: the message; kAnswer: the answer
  bool endUnseen = false;       // kAnswer: the answer was the MSGBOX's UNSEEN, the box not shown
  int exitCode = 0;             // the program's exit code (0 unless the script's EXITCODE asks)
  bool exitCodesAsked = false;  // the script's EXITCODE asks for exit codes
  uint16_t eventType = 0;       // the event the run writes to the system's log (EVENTLOG); 0: none
  uint32_t eventId = 0;
  // The net effect on the file system, each path as the script wrote it when it was first met.
  std::vector<std::string> deleted, created, replaced;
  std::vector<std::string> launched;  // each program started, with its parameters
  bool uncertain = false;             // some step is uncertain
  // The first step whose outcome cannot be known without doing it (it and every later step are
  // uncertain), and why; 0 when there is none.
  int uncertainFrom = 0;
  std::string uncertainWhy;
  bool rollback = false;            // ROLLBACK: a stopped run undoes its changes
  std::vector<std::string> undone;  // what a stopped rollback run would undo, newest first
};

// Predicts the run of the script at `path`; the report names it `displayName`. False, with the
// reason in `problem`, when the script cannot be read (nothing is predicted then).
bool PredictRun(const std::string& path, const std::string& displayName,
                const WhatIfOptions& options, WhatIfReport* report, std::string* problem);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_WHAT_IF_H_
