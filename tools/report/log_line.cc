#include "tools/report/log_line.h"

#include <cstring>

namespace kestario {
namespace report {
namespace {

constexpr std::string_view kStart = "start: program \"";
constexpr std::string_view kError = "error ";
constexpr std::string_view kEnd = "end: ";
constexpr std::string_view kFinished = "finished";
constexpr std::string_view kByMessage = "stopped by message ";
constexpr std::string_view kByAnswer = "stopped by the answer to ";
constexpr std::string_view kStopped = "stopped";

constexpr size_t kTimeLength = 19;  // "YYYY-MM-DD HH:MM:SS"
constexpr size_t kFirstColon = 13;  // where the first ":" of the time stands
constexpr size_t kLongestPid = 10;  // a 32-bit number

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// Whether `text` is a beginning, shorter than it, of `form`: what a line cut off inside it shows.
bool IsCutFrom(std::string_view text, std::string_view form) {
  return text.size() < form.size() && StartsWith(form, text);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Takes the decimal number at the front of `*text` (1 to 9 digits); false without one.
bool TakeNumber(std::string_view* text, int* number) {
  size_t digits = 0;
  int value = 0;
  while (digits < text->size() && IsDigit((*text)[digits])) {
    if (++digits > 9) return false;
    value = value * 10 + ((*text)[digits - 1] - '0');
  }
  if (digits == 0) return false;
  text->remove_prefix(digits);
  *number = value;
  return true;
}

// What follows the known part of an end line: nothing, or the details after a ";". False when
// the known part runs on into other text.
bool TakeDetails(std::string_view rest, std::string_view* details) {
  if (rest.empty()) return true;
  if (rest.front() != ';') return false;
  *details = Trimmed(rest.substr(1));
  return true;
}

Event ParseStart(std::string_view event) {
  Event result;
  result.kind = EventKind::kTorn;
  std::string_view rest = event.substr(kStart.size());
  size_t at = rest.find("\" script \"");
  if (at == std::string_view::npos) return result;
  std::string_view program = rest.substr(0, at);
  rest.remove_prefix(at + 10);
  at = rest.find("\" caption \"");
  if (at == std::string_view::npos) return result;
  std::string_view script = rest.substr(0, at);
  rest.remove_prefix(at + 11);
  if (rest.empty() || rest.back() != '"') return result;
  rest.remove_suffix(1);
  at = rest.rfind("\" user \"");
  if (at != std::string_view::npos) {
    result.user = rest.substr(at + 8);
    result.hasUser = true;
    rest = rest.substr(0, at);
  }
  result.kind = EventKind::kStart;
  result.program = program;
  result.script = script;
  result.caption = rest;
  return result;
}

Event ParseError(std::string_view event) {
  Event result;
  std::string_view rest = event.substr(kError.size());
  if (!TakeNumber(&rest, &result.message)) {
    if (rest.empty()) result.kind = EventKind::kTorn;  // "error " and nothing more
    return result;
  }
  if (!StartsWith(rest, " \"")) {
    if (IsCutFrom(rest, " \"")) result.kind = EventKind::kTorn;  // cut off before its text
    return result;
  }
  rest.remove_prefix(2);
  size_t close = rest.rfind("\": ");
  if (close == std::string_view::npos) {
    result.kind = EventKind::kTorn;
    return result;
  }
  result.kind = EventKind::kError;
  result.text = rest.substr(0, close);
  return result;
}

Event ParseEnd(std::string_view event) {
  Event result;
  std::string_view rest = event.substr(kEnd.size());
  if (StartsWith(rest, kFinished)) {
    result.end = EndKind::kFinished;
    if (TakeDetails(rest.substr(kFinished.size()), &result.details)) result.kind = EventKind::kEnd;
  } else if (StartsWith(rest, kByMessage)) {
    rest.remove_prefix(kByMessage.size());
    result.end = EndKind::kMessage;
    if (!TakeNumber(&rest, &result.message)) {
      if (rest.empty()) result.kind = EventKind::kTorn;
    } else if (TakeDetails(rest, &result.details)) {
      result.kind = EventKind::kEnd;
    }
  } else if (StartsWith(rest, kByAnswer)) {
    rest.remove_prefix(kByAnswer.size());
    size_t semicolon = rest.find(';');
    result.end = EndKind::kAnswer;
    result.answer = Trimmed(rest.substr(0, semicolon));
    if (semicolon != std::string_view::npos) result.details = Trimmed(rest.substr(semicolon + 1));
    result.kind = result.answer.empty() ? EventKind::kTorn : EventKind::kEnd;
  } else if (StartsWith(rest, kStopped)) {
    std::string_view after = rest.substr(kStopped.size());
    result.end = EndKind::kStopped;
    if (!after.empty() && after.front() == ' ' &&
        (IsCutFrom(rest, kByMessage) || IsCutFrom(rest, kByAnswer))) {
      result.kind = EventKind::kTorn;
    } else if (TakeDetails(after, &result.details)) {
      result.kind = EventKind::kEnd;
    }
  } else if (IsCutFrom(rest, kFinished) || IsCutFrom(rest, kByMessage) ||
             IsCutFrom(rest, kByAnswer)) {
    result.kind = EventKind::kTorn;
  }
  return result;
}

}  // namespace

bool ParseHead(std::string_view line, LineHead* head) {
  // The shortest line: the time, a space, a one-letter computer, a space, a digit, a space, and a
  // one-byte event.
  if (line.size() < kTimeLength + 6) return false;
  const char* p = line.data();
  static constexpr char kForm[] = "0000-00-00 00:00:00 ";
  for (size_t i = 0; i <= kTimeLength; ++i) {
    if (kForm[i] == '0' ? !IsDigit(p[i]) : p[i] != kForm[i]) return false;
  }
  size_t computer = kTimeLength + 1;
  const void* space = std::memchr(p + computer, ' ', line.size() - computer);
  if (space == nullptr) return false;
  size_t pid = static_cast<size_t>(static_cast<const char*>(space) - p) + 1;
  if (pid == computer + 1) return false;  // no computer name
  size_t end = pid;
  while (end < line.size() && IsDigit(p[end])) ++end;
  if (end == pid || end - pid > kLongestPid || end + 1 >= line.size() || p[end] != ' ') {
    return false;
  }
  head->time = line.substr(0, kTimeLength);
  head->computer = line.substr(computer, pid - 1 - computer);
  head->pid = line.substr(pid, end - pid);
  head->event = line.substr(end + 1);
  return true;
}

size_t FindHead(std::string_view line, size_t from) {
  size_t at = from + kFirstColon;
  while (at < line.size()) {
    const void* found = std::memchr(line.data() + at, ':', line.size() - at);
    if (found == nullptr) break;
    size_t colon = static_cast<size_t>(static_cast<const char*>(found) - line.data());
    size_t start = colon - kFirstColon;
    LineHead head;
    if (colon + 3 < line.size() && line[colon + 3] == ':' && line[start + 4] == '-' &&
        ParseHead(line.substr(start), &head)) {
      return start;
    }
    at = colon + 1;
  }
  return std::string_view::npos;
}

Event ParseEvent(std::string_view event) {
  switch (event.front()) {
    case 's':
      if (StartsWith(event, kStart)) return ParseStart(event);
      if (IsCutFrom(event, kStart)) {
        Event torn;
        torn.kind = EventKind::kTorn;
        return torn;
      }
      break;
    case 'e':
      if (StartsWith(event, kEnd)) return ParseEnd(event);
      if (StartsWith(event, kError)) return ParseError(event);
      if (IsCutFrom(event, kEnd) || IsCutFrom(event, kError)) {
        Event torn;
        torn.kind = EventKind::kTorn;
        return torn;
      }
      break;
    default:
      break;
  }
  return Event();
}

}  // namespace report
}  // namespace kestario
