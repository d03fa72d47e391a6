#include "tools/checker/what_if_recorder.h"

#include "engine/procedures.h"
#include "engine/run.h"
#include "platform/system.h"
#include "text/ascii.h"
#include "text/text_string.h"
#include "tools/checker/checker.h"
#include "tools/checker/list_text.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

std::string Text(const TextString& text) { return text.GetConstText(); }

// The keys of the record's kind, as the engine read and expanded them.
Values RecordValues(const ProcedureRecord& record) {
  const TextString& mode = record.mode;
  if (mode.IsEqualNoCase("EXIST")) {
    return {{"FILE", Text(static_cast<const ExistRecord&>(record).file)}};
  }
  if (mode.IsEqualNoCase("DATE")) {
    const auto& date = static_cast<const DateRecord&>(record);
    return {{"FILE", Text(date.file)}, {"DATE", Text(date.date)}};
  }
  if (mode.IsEqualNoCase("SWITCH")) {
    const auto& choice = static_cast<const SwitchRecord&>(record);
    return {{"PROC", Text(choice.proc)}, {"1", Text(choice.branch1)}, {"0", Text(choice.branch0)}};
  }
  if (mode.IsEqualNoCase("MSGBOX")) {
    const auto& box = static_cast<const MsgboxRecord&>(record);
    Values values = {{"FLAG", Text(box.flag)},
                     {"TYPE", Text(box.type)},
                     {"TEXT", Text(box.text)},
                     {"ISABORT", Text(box.isAbort)}};
    if (box.unseen.GetLength() != 0) values.emplace_back("UNSEEN", Text(box.unseen));
    return values;
  }
  if (mode.IsEqualNoCase("COPY")) {
    const auto& copy = static_cast<const CopyRecord&>(record);
    Values values = {{"FROM", Text(copy.from)}, {"TO", Text(copy.to)}};
    if (copy.hash.GetLength() != 0) values.emplace_back("HASH", Text(copy.hash));
    return values;
  }
  if (mode.IsEqualNoCase("LAUNCH")) {
    const auto& launch = static_cast<const LaunchRecord&>(record);
    Values values = {{"FILE", Text(launch.file)},
                     {"PARAM", Text(launch.param)},
                     {"ISWAIT", std::to_string(launch.isWait)}};
    if (launch.hash.GetLength() != 0) values.emplace_back("HASH", Text(launch.hash));
    return values;
  }
  if (mode.IsEqualNoCase("DELETE")) {
    return {{"FILE", Text(static_cast<const DeleteRecord&>(record).file)}};
  }
  return {};
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    c = AsciiUpper(c);
  }
  return text;
}

}  // namespace

void WhatIfRecorder::CopyAlreadyCurrent(const TextString& source, const TextString& destination) {
  WhatIfEvent event;
  event.kind = "copy";
  event.text = "copy " + Text(source) + " -> " + Text(destination) +
               ": already current (it holds the pinned bytes), left as it is; the source is not "
               "read";
  AddEvent(event);
}

WhatIfStep* WhatIfRecorder::Current() {
  return open_.empty() ? nullptr : &report_->steps[open_.back()];
}

std::string WhatIfRecorder::CurrentMode() const {
  return open_.empty() ? std::string() : UpperAscii(report_->steps[open_.back()].mode);
}

void WhatIfRecorder::ProcedureStarting(const ProcedureRecord& record) {
  WhatIfStep step;
  step.number = static_cast<int>(report_->steps.size()) + 1;
  step.depth = static_cast<int>(open_.size());
  if (open_.empty()) {
    step.list = "[UPDATER] PROC";
  } else {
    const WhatIfStep& parent = report_->steps[open_.back()];
    step.list = "[" + parent.section + "] " + parent.branch;
  }
  step.uncertain = report_->uncertainFrom != 0;
  step.section = Text(record.name);
  step.mode = Text(record.mode);
  step.values = RecordValues(record);
  if (record.mode.IsEqualNoCase("SWITCH")) {
    // The branch the SWITCH is about to take: its chooser's flag, looked up as the SWITCH does.
    TextString name = static_cast<const SwitchRecord&>(record).proc;
    name.Trim(" ");
    const ProcedureRecord* chooser = FindProcedure(TopList(), name.GetConstText());
    if (chooser != nullptr) step.branch = chooser->result != 0 ? "1" : "0";
  }
  report_->steps.push_back(step);
  open_.push_back(report_->steps.size() - 1);
}

void WhatIfRecorder::ProcedureEnded(const ProcedureRecord& record, bool succeeded) {
  WhatIfStep* step = Current();
  if (step == nullptr) return;
  step->ended = true;
  step->succeeded = succeeded;
  step->flag = record.result;
  if (succeeded && record.mode.IsEqualNoCase("MSGBOX") && step->events.empty()) {
    WhatIfEvent event;
    event.kind = "box";
    event.text = "no box: the condition of FLAG does not hold";
    event.succeeds = false;
    step->events.push_back(event);
  }
  open_.pop_back();
}

void WhatIfRecorder::AddEvent(const WhatIfEvent& event) {
  WhatIfStep* step = Current();
  if (step == nullptr) return;
  step->events.push_back(event);
  if (event.uncertain) {
    step->uncertain = true;
    report_->uncertain = true;
  }
}

void WhatIfRecorder::UncertainFromHere(const std::string& why) {
  WhatIfStep* step = Current();
  report_->uncertain = true;
  if (step != nullptr) step->uncertain = true;
  if (report_->uncertainFrom != 0) return;
  report_->uncertainFrom = step != nullptr ? step->number : 1;
  report_->uncertainWhy = why;
}

Answer WhatIfRecorder::ShowBox(const std::string& caption, const std::string& kind,
                               const std::string& text, bool yesNo, int message) {
  Answer answer = Answer::kOk;
  if (message == 0) {
    auto given = options_.answers.find(FoldName(CurrentSection()));
    answer = given != options_.answers.end() ? given->second : options_.defaultAnswer;
    // A box with only OK is closed with OK whatever the answer; Yes/No takes "ok" as yes.
    if (!yesNo) answer = Answer::kOk;
    if (yesNo && answer == Answer::kOk) answer = Answer::kYes;
  }
  std::string name = AnswerName(answer);
  AddBox(caption, kind, text, message, name, true,
         message != 0 ? " (message " + std::to_string(message) + ")" : ", answered " + name);
  return answer;
}

void WhatIfRecorder::BoxNotShown(const std::string& caption, const std::string& kind,
                                 const std::string& text, bool yesNo, int message) {
  std::string name = "none";
  std::string said = " (message " + std::to_string(message) + "), not shown";
  if (message == 0) {
    // The answer the program gives itself: the MSGBOX's UNSEEN, by the program's own rule.
    const WhatIfStep* step = open_.empty() ? nullptr : &report_->steps[open_.back()];
    std::string unseen;
    for (const auto& value : step != nullptr ? step->values : Values()) {
      if (value.first == "UNSEEN") unseen = value.second;
    }
    int answer = UnseenAnswerFor(TextString(unseen.c_str()), yesNo ? kMbYesNo : kMbOk);
    if (answer != 0)
      name = AnswerName(answer == kIdNo    ? Answer::kNo
                        : answer == kIdYes ? Answer::kYes
                                           : Answer::kOk);
    if (answer != 0) {
      said = ", not shown: UNSEEN answers " + name;
    } else if (!unseen.empty()) {
      said = ", not shown: no answer (UNSEEN " + Quoted(unseen) + " names no button of this box)";
    } else {
      said = ", not shown: no answer (no UNSEEN)";
    }
  }
  AddBox(caption, kind, text, message, name, false, said);
}

void WhatIfRecorder::AddBox(const std::string& caption, const std::string& kind,
                            const std::string& text, int message, const std::string& answer,
                            bool shown, const std::string& said) {
  WhatIfStep* step = Current();
  if (message == 0 && answer != "none") {
    lastAnswerSection_ = CurrentSection();
    lastAnswer_ = answer;
    lastAnswerUnseen_ = !shown;
  } else if (message != 0 && !errorSeen_) {
    errorSeen_ = true;
    report_->end = WhatIfEnd::kError;
    report_->endSection = CurrentSection();
    report_->endMessage = message;
    report_->endText = text;
  }
  WhatIfBox box;
  box.step = step != nullptr ? step->number : 0;
  box.caption = caption;
  box.kind = kind;
  box.text = text;
  box.answer = answer;
  box.message = message;
  box.shown = shown;
  report_->boxes.push_back(box);
  WhatIfEvent event;
  event.kind = "box";
  event.text = "box [" + caption + "] " + kind + " " + QuoteValue(text) + said;
  AddEvent(event);
}

std::string WhatIfRecorder::CurrentSection() const {
  return open_.empty() ? "UPDATER" : report_->steps[open_.back()].section;
}

void WhatIfRecorder::RecordEvent(uint16_t type, uint32_t id) {
  report_->eventType = type;
  report_->eventId = id;
}

void WhatIfRecorder::Finish(bool finished) {
  if (errorSeen_) return;
  if (finished) {
    report_->end = WhatIfEnd::kFinish;
    return;
  }
  report_->end = WhatIfEnd::kAnswer;
  report_->endSection = lastAnswerSection_;
  report_->endText = lastAnswer_;
  report_->endUnseen = lastAnswerUnseen_;
}

}  // namespace checker
}  // namespace kestario
