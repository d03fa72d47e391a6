#include "engine/run_state.h"

#include "runlog/run_log.h"
#include "settings/messages.h"

namespace kestario {

void RunState::Reset() {
  StopRunLog();
  ForgetBoxAudience();
  FreeAllLists();
  stop.byAnswer = nullptr;
  stop.loggedSignal = 0;
  endSettings = RunEndSettings();
  rollback.Reset();
  putOffCopies.names.Clear();
  putOffCopies.lost = false;
  policy.Reset();
}

}  // namespace kestario
