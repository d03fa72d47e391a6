#include "tools/checker/what_if_format.h"

#include <vector>

#include "platform/system.h"
#include "tools/checker/checker.h"
#include "tools/checker/report_format.h"

namespace kestario {
namespace checker {
namespace {

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string Outcome(const WhatIfStep& step) {
  if (!step.ended) return "stops inside";
  if (step.succeeded) return "ok";
  return "stops";
}

const char* EndName(WhatIfEnd end) {
  switch (end) {
    case WhatIfEnd::kFinish:
      return "finish";
    case WhatIfEnd::kError:
      return "error";
    case WhatIfEnd::kAnswer:
      break;
  }
  return "answer";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonString(items[i]);
  return out + "]";
}

const char* Bool(bool value) { return value ? "true" : "false"; }

const char* EventTypeName(uint16_t type) {
  return type == kEventTypeError ? "Error" : type == kEventTypeWarning ? "Warning" : "Information";
}

}  // namespace

std::string WhatIfEndLine(const WhatIfReport& report) {
  switch (report.end) {
    case WhatIfEnd::kFinish:
      return "would finish";
    case WhatIfEnd::kError:
      return "would stop at [" + report.endSection + "] with message " +
             std::to_string(report.endMessage) + ": " + OneLine(report.endText);
    case WhatIfEnd::kAnswer:
      break;
  }
  return std::string("would stop: ") +
         (report.endUnseen ? "UNSEEN answers " : "the user answers ") + report.endSection + "=" +
         report.endText;
}

std::string WhatIfExitLine(const WhatIfReport& report) {
  return "exit code " + std::to_string(report.exitCode) +
         (report.exitCodesAsked ? "" : " (the script has no EXITCODE: every run ends with 0)");
}

std::string FormatWhatIf(const WhatIfReport& report) {
  std::string out = "What-if of " + report.file + " on this machine (nothing was changed):\n";
  for (const WhatIfStep& step : report.steps) {
    std::string indent(static_cast<size_t>(step.depth) * 2, ' ');
    std::string pad = indent + "     ";
    out += indent + std::to_string(step.number) + ". " + step.list + ": [" + step.section + "] " +
           (step.mode.empty() ? "(no MODE)" : step.mode) + "\n";
    for (const auto& value : step.values) {
      out += pad + value.first + "=" + QuoteValue(value.second) + "\n";
    }
    for (const WhatIfEvent& event : step.events) out += pad + event.text + "\n";
    if (!step.branch.empty()) out += pad + "takes branch " + step.branch + "\n";
    out += pad + "-> " + Outcome(step) + ", flag " + std::to_string(step.flag) +
           (step.uncertain ? " (uncertain)" : "") + "\n";
  }
  for (const WhatIfBox& box : report.boxes) {
    if (box.step != 0) continue;
    out += "before the first step: box [" + box.caption + "] " + box.kind + " " +
           QuoteValue(box.text) + (box.shown ? "" : ", not shown") + "\n";
  }
  auto list = [&](const char* what, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) out += std::string("  ") + what + " " + path + "\n";
  };
  if (report.deleted.empty() && report.created.empty() && report.replaced.empty() &&
      report.launched.empty()) {
    out += "No file would change and no program would start.\n";
  } else {
    out += "Changes:\n";
    list("deleted ", report.deleted);
    list("created ", report.created);
    list("replaced", report.replaced);
    list("started ", report.launched);
  }
  bool launchUncertain = false;
  for (const WhatIfStep& step : report.steps) {
    for (const WhatIfEvent& event : step.events) {
      launchUncertain = launchUncertain || (event.uncertain && event.kind != "uncertain");
    }
  }
  if (launchUncertain) {
    out += "Steps marked uncertain test paths that a program started earlier may change.\n";
  }
  if (report.uncertainFrom != 0) {
    out += "From step " + std::to_string(report.uncertainFrom) +
           " on the run may go otherwise: " + report.uncertainWhy + ".\n";
  }
  if (report.rollback) {
    out +=
        "ROLLBACK: what a DELETE removes or a COPY replaces is kept until the run ends; a run "
        "that stops undoes every change it made (what a started program did stays).\n";
  }
  if (!report.undone.empty()) {
    out += "Undone after the stop, newest first:\n";
    for (const std::string& line : report.undone) out += "  " + line + "\n";
  }
  out += WhatIfEndLine(report) + "\n" + WhatIfExitLine(report) + "\n";
  if (report.eventId != 0) {
    out += "event " + std::string(EventTypeName(report.eventType)) + " " +
           std::to_string(report.eventId) + " in the system's log (EVENTLOG)\n";
  }
  return out;
}

std::string FormatWhatIfJson(const WhatIfReport& report) {
  std::string out = "{\"file\": " + JsonString(report.file) + ",\n \"steps\": [";
  for (size_t i = 0; i < report.steps.size(); ++i) {
    const WhatIfStep& step = report.steps[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"number\": " + std::to_string(step.number) +
           ", \"depth\": " + std::to_string(step.depth) + ", \"list\": " + JsonString(step.list) +
           ", \"section\": " + JsonString(step.section) + ", \"mode\": " + JsonString(step.mode) +
           ", \"values\": [";
    for (size_t v = 0; v < step.values.size(); ++v) {
      out += (v ? ", [" : "[") + JsonString(step.values[v].first) + ", " +
             JsonString(step.values[v].second) + "]";
    }
    out += "], \"events\": [";
    for (size_t e = 0; e < step.events.size(); ++e) {
      const WhatIfEvent& event = step.events[e];
      out += (e ? ", " : "") + std::string("{\"kind\": ") + JsonString(event.kind) +
             ", \"text\": " + JsonString(event.text) + ", \"succeeds\": " + Bool(event.succeeds) +
             ", \"uncertain\": " + Bool(event.uncertain) + "}";
    }
    out += "], \"branch\": " + JsonString(step.branch) +
           ", \"outcome\": " + JsonString(Outcome(step)) +
           ", \"flag\": " + std::to_string(step.flag) + ", \"uncertain\": " + Bool(step.uncertain) +
           "}";
  }
  out += "],\n \"boxes\": [";
  for (size_t i = 0; i < report.boxes.size(); ++i) {
    const WhatIfBox& box = report.boxes[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"step\": " + std::to_string(box.step) + ", \"caption\": " + JsonString(box.caption) +
           ", \"kind\": " + JsonString(box.kind) + ", \"text\": " + JsonString(box.text) +
           ", \"answer\": " + JsonString(box.answer) +
           ", \"message\": " + std::to_string(box.message) + ", \"shown\": " + Bool(box.shown) +
           "}";
  }
  out += "],\n \"deleted\": " + JsonList(report.deleted) +
         ",\n \"created\": " + JsonList(report.created) +
         ",\n \"replaced\": " + JsonList(report.replaced) +
         ",\n \"launched\": " + JsonList(report.launched) +
         ",\n \"uncertain\": " + Bool(report.uncertain) +
         ",\n \"rollback\": " + Bool(report.rollback) +
         ",\n \"undone\": " + JsonList(report.undone) + ",\n \"end\": {\"result\": \"" +
         EndName(report.end) + "\", \"section\": " + JsonString(report.endSection) +
         ", \"message\": " + std::to_string(report.endMessage) +
         ", \"text\": " + JsonString(report.endText) + ", \"unseen\": " + Bool(report.endUnseen) +
         ", \"line\": " + JsonString(WhatIfEndLine(report)) +
         "},\n \"exit_code\": " + std::to_string(report.exitCode) + ",\n \"event\": " +
         (report.eventId == 0 ? std::string("null")
                              : "{\"type\": \"" + std::string(EventTypeName(report.eventType)) +
                                    "\", \"id\": " + std::to_string(report.eventId) + "}") +
         "}\n";
  return out;
}

}  // namespace checker
}  // namespace kestario
