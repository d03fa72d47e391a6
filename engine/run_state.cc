#include "engine/run_state.h"

#include "settings/messages.h"
#include "settings/run_log.h"

namespace kestario {

void RunState::Reset() {
  StopRunLog();
  ForgetBoxAudience();
  FreeAllLists();
  stop.byAnswer = nullptr;
  endSettings = RunEndSettings();
  rollback.Reset();
}

}  // namespace kestario
