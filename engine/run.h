// Running a procedure list, and the seven executors.
//
// Each executor takes one record and returns true when the run may go on; one that returns false
// has already shown the failure (or, for a MSGBOX abort answer, shows nothing).
#ifndef KESTARIO_ENGINE_RUN_H_
#define KESTARIO_ENGINE_RUN_H_

#include "engine/procedures.h"

namespace kestario {

// Runs the records of `list` in order, each by the executor its MODE names; stops at the first
// that fails. True when every record ran.
bool RunProcedureList(ProcedureList list);

// Watches a run from outside: told before and after each record runs, nested lists included.
// updater-check --what-if records the predicted steps with one; the program installs none, and
// an observer never changes what a run does.
class RunObserver {
 public:
  virtual ~RunObserver();
  virtual void ProcedureStarting(const ProcedureRecord& record) = 0;
  // `succeeded` is what the executor returned: false when the run stops at this record.
  virtual void ProcedureEnded(const ProcedureRecord& record, bool succeeded) = 0;
  // A pinned COPY item whose destination already holds the pinned bytes: left as it is, its
  // source not read.
  virtual void CopyAlreadyCurrent(const TextString& /*source*/, const TextString& /*destination*/) {
  }
};

// Installs the observer of every later run; null removes it.
void SetRunObserver(RunObserver* observer);

// Whether a stop signal (Linux: SIGTERM, SIGINT, SIGHUP; platform/stop_signals.h) has been
// caught: the run then stops at its next safe point, before a procedure or an item of one, and
// after a step that the signal cut short, without an error box. The first call of a run that finds
// it logs it.
bool StopSignalled();

// The section of the MSGBOX whose answer stopped the run, or null when no answer did.
const char* StoppedByAnswer();

// What stopped the run, when something other than an error box did: the run's part of the run
// state (engine/run_state.h).
struct StopReason {
  const char* byAnswer = nullptr;  // the MSGBOX whose answer stopped the run: `answerSection`
  TextString answerSection;        // its section (empty when memory could not keep the name)
  int loggedSignal = 0;            // the stop signal that the run log has told of
};

// The answer that a MSGBOX's UNSEEN gives its box of `style` when the box is not shown: kIdOk
// for "OK" on an OK box, kIdYes or kIdNo for "YES" or "NO" on a Yes/No box (ASCII case ignored);
// 0 for an empty value and for one that names no button of the box.
int UnseenAnswerFor(const TextString& unseen, unsigned style);

bool ExecuteDelete(DeleteRecord* record);
bool ExecuteLaunch(LaunchRecord* record);
bool ExecuteCopy(CopyRecord* record);
bool ExecuteMsgBox(MsgboxRecord* record);
bool ExecuteSwitch(SwitchRecord* record);
bool ExecuteDate(DateRecord* record);
bool ExecuteExist(ExistRecord* record);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_RUN_H_
