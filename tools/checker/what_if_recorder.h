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
  void CopyAlreadyCurrent(const TextString& source, const TextString& destination) override;

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
  // A box that nobody can see (--unseen): recorded as not shown, with the answer that the
  // MSGBOX's UNSEEN gives it, which the program applies itself.
  void BoxNotShown(const std::string& caption, const std::string& kind, const std::string& text,
                   bool yesNo, int message);
  bool BoxesUnseen() const { return options_.unseen; }
  // The event that the run writes to the system's log.
  void RecordEvent(uint16_t type, uint32_t id);

  // After the run: decides how it ended (`finished` is what the engine's run returned).
  void Finish(bool finished);

 private:
  WhatIfStep* Current();
  // The section of the innermost step running now, "UPDATER" between steps.
  std::string CurrentSection() const;
  // Records a box: its answer's name ("none" for none), whether it was shown, and what the step's
  // event adds after the box's text.
  void AddBox(const std::string& caption, const std::string& kind, const std::string& text,
              int message, const std::string& answer, bool shown, const std::string& said);

  const WhatIfOptions& options_;
  WhatIfReport* report_;
  std::vector<size_t> open_;  // indices of the steps running now, outermost first
  bool errorSeen_ = false;
  std::string lastAnswerSection_;
  std::string lastAnswer_;
  bool lastAnswerUnseen_ = false;
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_WHAT_IF_RECORDER_H_
