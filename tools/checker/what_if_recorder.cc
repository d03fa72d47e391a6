#include "tools/checker/what_if_recorder.h"

#include "engine/procedures.h"
#include "text/text_string.h"
#include "tools/checker/checker.h"
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
    return {{"FLAG", Text(box.flag)},
            {"TYPE", Text(box.type)},
            {"TEXT", Text(box.text)},
            {"ISABORT", Text(box.isAbort)}};
  }
  if (mode.IsEqualNoCase("COPY")) {
    const auto& copy = static_cast<const CopyRecord&>(record);
    return {{"FROM", Text(copy.from)}, {"TO", Text(copy.to)}};
  }
  if (mode.IsEqualNoCase("LAUNCH")) {
    const auto& launch = static_cast<const LaunchRecord&>(record);
    return {{"FILE", Text(launch.file)},
            {"PARAM", Text(launch.param)},
            {"ISWAIT", std::to_string(launch.isWait)}};
  }
  if (mode.IsEqualNoCase("DELETE")) {
    return {{"FILE", Text(static_cast<const DeleteRecord&>(record).file)}};
  }
  return {};
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

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
  WhatIfStep* step = Current();
  std::string section = step != nullptr ? step->section : "UPDATER";
  Answer answer = Answer::kOk;
  if (message == 0) {
    auto given = options_.answers.find(FoldName(section));
    answer = given != options_.answers.end() ? given->second : options_.defaultAnswer;
    // A box with only OK is closed with OK whatever the answer; Yes/No takes "ok" as yes.
    if (!yesNo) answer = Answer::kOk;
    if (yesNo && answer == Answer::kOk) answer = Answer::kYes;
    lastAnswerSection_ = section;
    lastAnswer_ = AnswerName(answer);
  } else if (!errorSeen_) {
    errorSeen_ = true;
    report_->end = WhatIfEnd::kError;
    report_->endSection = section;
    report_->endMessage = message;
    report_->endText = text;
  }
  WhatIfBox box;
  box.step = step != nullptr ? step->number : 0;
  box.caption = caption;
  box.kind = kind;
  box.text = text;
  box.answer = AnswerName(answer);
  box.message = message;
  report_->boxes.push_back(box);
  WhatIfEvent event;
  event.kind = "box";
  event.text =
      "box [" + caption + "] " + kind + " " + QuoteValue(text) +
      (message != 0 ? " (message " + std::to_string(message) + ")" : ", answered " + box.answer);
  AddEvent(event);
  return answer;
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
}

}  // namespace checker
}  // namespace kestario
