// Everything one run of a script changes as it goes, in one place with one reset: the lists being
// run, what stopped the run, how its end is told (EXITCODE, EVENTLOG), its rollback (with the
// restart copies it supersedes only when it finishes) and what the machine's signature policy
// said of the script. The driver
// owns it and resets it when a run starts; each part is read and written by the file that the
// part names. The run log and the error box keep their own state below the engine (settings/);
// the reset stops the one and forgets the other's audience and stopping error.
#ifndef KESTARIO_ENGINE_RUN_STATE_H_
#define KESTARIO_ENGINE_RUN_STATE_H_

#include "engine/procedures.h"
#include "engine/restart_copies.h"
#include "engine/rollback.h"
#include "engine/run.h"
#include "engine/run_end.h"
#include "engine/script_policy.h"

namespace kestario {

struct RunState {
  ListStack listStack;         // the lists being run (procedures.h)
  StopReason stop;             // a MSGBOX answer or a stop signal (run.h)
  RunEndSettings endSettings;  // EXITCODE and EVENTLOG (run_end.h)
  RollbackState rollback;      // the journal and what the run kept (rollback.h)
  PutOffCopies putOffCopies;   // restart copies a rollback run supersedes when it finishes
  ScriptPolicyState policy;    // the machine's signature policy: a refusal, the script held

  // Forgets everything an earlier run left: frees its lists, closes its journal, stops its log.
  void Reset();
};

// The state of the run; the driver owns it (driver.cc).
RunState& CurrentRun();

}  // namespace kestario

#endif  // KESTARIO_ENGINE_RUN_STATE_H_
