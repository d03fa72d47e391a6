// The recorder of a predicted run: watches the engine's steps (as its RunObserver) and collects
// what the simulated system reports about each one, into a WhatIfReport.
#ifndef KESTARIO_TOOLS_CHECKER_WHAT_IF_RECORDER_H_
#define KESTARIO_TOOLS_CHECKER_WHAT_IF_RECORDER_H_

#include <string>
#include <vector>

#include "engine/run.h"
#include "tools/checker/what_if.h"

namespace kestario {
namespace checker {

class WhatIfRecorder : public RunObserver {
 public:
  WhatIfRecorder(const WhatIfOptions& options, WhatIfReport* report)
      : options_(options), report_(report) {}

  void ProcedureStarting(const ProcedureRecord& record) override;
  void ProcedureEnded(const ProcedureRecord& record, bool succeeded) override;

  // The MODE of the innermost step running now (upper case), or empty between steps.
  std::string CurrentMode() const;
  // Adds an event to the innermost step running now; dropped between steps.
  void AddEvent(const WhatIfEvent& event);
  // The outcome of the step running now cannot be known without doing it: it and every step
  // after it are uncertain.
  void UncertainFromHere(const std::string& why);
  // A box that is shown now. `message` is the catalog number of an error box, else 0. Returns
  // the answer: from --answer for the innermost step's section, else the default.
  Answer ShowBox(const std::string& caption, const std::string& kind, const std::string& text,
                 bool yesNo, int message);

  // After the run: decides how it ended (`finished` is what the engine's run returned).
  void Finish(bool finished);

 private:
  WhatIfStep* Current();

  const WhatIfOptions& options_;
  WhatIfReport* report_;
  std::vector<size_t> open_;  // indices of the steps running now, outermost first
  bool errorSeen_ = false;
  std::string lastAnswerSection_;
  std::string lastAnswer_;
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_WHAT_IF_RECORDER_H_
