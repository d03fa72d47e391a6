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
constexpr std::string_view kBySignal = "stopped by signal ";
constexpr std::string_view kStopped = "stopped";

constexpr size_t kTimeLength = 19;     // "YYYY-MM-DD HH:MM:SS"
constexpr size_t kNewTimeLength = 25;  // "YYYY-MM-DDTHH:MM:SS+hh:mm"
constexpr size_t kLongestFrame = 20;   // the digits of a 64-bit count
constexpr size_t kLongestPid = 10;     // a 32-bit number

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The time of a head, "0000-00-00 00:00:00 " with a digit for each 0, is checked as three
// overlapping words of eight bytes (bytes 0-7, 8-15 and 12-19), each with its digit bytes and
// the bytes that must be as they are; the new form "0000-00-00T00:00:00+00:00 " as four (bytes
// 0-7, 8-15, 16-23 and 18-25), its sign ('+' or '-', byte 19) left to be checked on its own.
// The words are little-endian (x86-64).
struct TimeWord {
  uint64_t digits;  // 0xFF where a digit must stand
  uint64_t fixed;   // the bytes that must be as they are
  uint64_t mask;    // 0xFF where a byte must be as in `fixed`
};

constexpr TimeWord MakeTimeWord(const char* form) {
  TimeWord word = {0, 0, 0};
  for (int i = 7; i >= 0; --i) {
    bool digit = form[i] == '0';
    bool any = form[i] == '?';
    word.digits = word.digits << 8 | (digit ? 0xFFu : 0u);
    word.fixed = word.fixed << 8 | (digit || any ? 0u : static_cast<unsigned char>(form[i]));
    word.mask = word.mask << 8 | (digit || any ? 0u : 0xFFu);
  }
  return word;
}

constexpr const char* kTimeForm = "0000-00-00 00:00:00 ";
constexpr TimeWord kTimeWords[3] = {MakeTimeWord(kTimeForm), MakeTimeWord(kTimeForm + 8),
                                    MakeTimeWord(kTimeForm + 12)};
constexpr const char* kNewTimeForm = "0000-00-00T00:00:00?00:00 ";
constexpr TimeWord kNewTimeWords[4] = {MakeTimeWord(kNewTimeForm), MakeTimeWord(kNewTimeForm + 8),
                                       MakeTimeWord(kNewTimeForm + 16),
                                       MakeTimeWord(kNewTimeForm + 18)};

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Of the eight bytes at `p`, the high bit of each that is no digit (the other bits are noise).
uint64_t NotDigits(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  // A byte is no digit when its high bit is set, when it is above '9' (adding 0x46 sets the high
  // bit), or below '0' (subtracting 0x30 from it with the high bit set clears that bit).
  return word | ((word & ~kHighBits) + 0x4646464646464646ull) |
         ~((word | kHighBits) - 0x3030303030303030ull);
}

bool WordFits(const char* p, const TimeWord& form) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return (NotDigits(p) & kHighBits & form.digits) == 0 && ((word ^ form.fixed) & form.mask) == 0;
}

// The offset of the first byte `c` in `line` at or after `from`, or line.size(). Eight bytes at a
// time: the names it looks through are short.
size_t FindByte(std::string_view line, size_t from, char c) {
  constexpr uint64_t kLow = 0x0101010101010101ull;
  const uint64_t pattern = kLow * static_cast<unsigned char>(c);
  size_t at = from;
  for (; at + 8 <= line.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + at, 8);
    uint64_t x = word ^ pattern;
    uint64_t found = (x - kLow) & ~x & kHighBits;  // the lowest set bit marks the first match
    if (found != 0) return at + static_cast<size_t>(__builtin_ctzll(found)) / 8;
  }
  while (at < line.size() && line[at] != c) ++at;
  return at;
}

uint64_t Mix(uint64_t value) {
  value *= 0x9E3779B97F4A7C15ull;
  return value ^ (value >> 32);
}

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

// The number of an end line's "stopped by message N" or "stopped by signal N" (`rest` starts at
// it) into `number`, and the details after it; a line cut off before the number is torn.
void TakeEndNumber(std::string_view rest, int* number, Event* result) {
  if (!TakeNumber(&rest, number)) {
    if (rest.empty()) result->kind = EventKind::kTorn;
  } else if (TakeDetails(rest, &result->details)) {
    result->kind = EventKind::kEnd;
  }
}

Event Torn() {
  Event torn;
  torn.kind = EventKind::kTorn;
  return torn;
}

Event ParseStart(std::string_view event) {
  Event result = Torn();
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
    result.end = EndKind::kMessage;
    TakeEndNumber(rest.substr(kByMessage.size()), &result.message, &result);
  } else if (StartsWith(rest, kByAnswer)) {
    rest.remove_prefix(kByAnswer.size());
    size_t semicolon = rest.find(';');
    result.end = EndKind::kAnswer;
    result.answer = Trimmed(rest.substr(0, semicolon));
    if (semicolon != std::string_view::npos) result.details = Trimmed(rest.substr(semicolon + 1));
    result.kind = result.answer.empty() ? EventKind::kTorn : EventKind::kEnd;
  } else if (StartsWith(rest, kBySignal)) {
    result.end = EndKind::kStopped;
    TakeEndNumber(rest.substr(kBySignal.size()), &result.signal, &result);
  } else if (StartsWith(rest, kStopped)) {
    std::string_view after = rest.substr(kStopped.size());
    result.end = EndKind::kStopped;
    if (!after.empty() && after.front() == ' ' &&
        (IsCutFrom(rest, kByMessage) || IsCutFrom(rest, kByAnswer) || IsCutFrom(rest, kBySignal))) {
      result.kind = EventKind::kTorn;
    } else if (TakeDetails(after, &result.details)) {
      result.kind = EventKind::kEnd;
    }
  } else if (IsCutFrom(rest, kFinished) || IsCutFrom(rest, kByMessage) ||
             IsCutFrom(rest, kByAnswer) || IsCutFrom(rest, kBySignal)) {
    result.kind = EventKind::kTorn;
  }
  return result;
}

}  // namespace

HeadForm TimeForm(std::string_view line) {
  const char* p = line.data();
  if (line.size() > kNewTimeLength && p[10] == 'T') {
    return WordFits(p, kNewTimeWords[0]) && WordFits(p + 8, kNewTimeWords[1]) &&
                   WordFits(p + 16, kNewTimeWords[2]) && WordFits(p + 18, kNewTimeWords[3]) &&
                   (p[19] == '+' || p[19] == '-')
               ? HeadForm::kNew
               : HeadForm::kNone;
  }
  return line.size() > kTimeLength && WordFits(p, kTimeWords[0]) &&
                 WordFits(p + 8, kTimeWords[1]) && WordFits(p + 12, kTimeWords[2])
             ? HeadForm::kOld
             : HeadForm::kNone;
}

namespace {

// The frame that ends `line`, " #COUNT": where its space stands and its count. False when the
// line does not end with one (a count has no leading zeros).
bool TakeFrame(std::string_view line, size_t* space, uint64_t* count) {
  size_t end = line.size();
  size_t at = end;
  while (at != 0 && end - at < kLongestFrame && IsDigit(line[at - 1])) --at;
  if (at == end || end - at >= kLongestFrame || line[at] == '0' || at < 2 || line[at - 1] != '#' ||
      line[at - 2] != ' ') {
    return false;
  }
  uint64_t value = 0;
  for (size_t i = at; i < end; ++i) value = value * 10 + static_cast<uint64_t>(line[i] - '0');
  *space = at - 2;
  *count = value;
  return true;
}

}  // namespace

size_t FramedTail(std::string_view line) {
  size_t space;
  uint64_t count;
  if (!TakeFrame(line, &space, &count) || count >= space) return std::string_view::npos;
  size_t start = space - static_cast<size_t>(count);
  return TimeForm(line.substr(start)) == HeadForm::kNew ? start : std::string_view::npos;
}

bool ParseHead(std::string_view line, LineHead* head) {
  return ParseHead(line, TimeForm(line), head);
}

bool ParseHead(std::string_view line, HeadForm form, LineHead* head) {
  size_t timeLength = kTimeLength;
  switch (form) {
    case HeadForm::kNone:
      return false;
    case HeadForm::kOld:
      timeLength = kTimeLength;
      head->framed = false;
      break;
    case HeadForm::kNew: {
      size_t space;
      uint64_t count;
      if (!TakeFrame(line, &space, &count) || count != space) return false;
      line = line.substr(0, space);
      timeLength = kNewTimeLength;
      head->framed = true;
      break;
    }
  }
  // The shortest line: the time, a space, a one-letter computer, a space, a digit, a space, and a
  // one-byte event.
  if (line.size() < timeLength + 6) return false;
  const char* p = line.data();
  size_t computer = timeLength + 1;
  size_t pid = FindByte(line, computer, ' ');
  if (pid == computer || pid == line.size()) return false;  // no computer name, or nothing after
  size_t end = ++pid;
  uint64_t notDigits = pid + 8 <= line.size() ? NotDigits(p + pid) & kHighBits : 0;
  if (notDigits != 0) {
    end += static_cast<size_t>(__builtin_ctzll(notDigits)) / 8;
  } else {
    while (end < line.size() && IsDigit(p[end])) ++end;
  }
  if (end == pid || end - pid > kLongestPid || end + 1 >= line.size() || p[end] != ' ') {
    return false;
  }
  // Process ids of up to eight digits are their own bytes as a number; longer ones (Windows
  // keeps them below 2^32) their value, with the top bit set.
  uint64_t value = 0;
  if (end - pid <= 8) {
    std::memcpy(&value, p + end - 8, 8);
    value >>= 8 * (8 - (end - pid));
  } else {
    for (size_t i = pid; i < end; ++i) value = value * 10 + static_cast<uint64_t>(p[i] - '0');
    value |= uint64_t{1} << 63;
  }
  head->time = line.substr(0, timeLength);
  head->computer = line.substr(computer, pid - 1 - computer);
  head->pid = line.substr(pid, end - pid);
  head->pidValue = value;
  head->event = line.substr(end + 1);
  return true;
}

uint64_t ComputerHash(const LineHead& head) {
  // Eight bytes at a time; the last, partial word is read as the eight bytes that end the name,
  // shifted (the time before the name keeps that read inside the line).
  const char* p = head.computer.data();
  size_t left = head.computer.size();
  uint64_t hash = left;
  uint64_t word;
  for (; left > 8; p += 8, left -= 8) {
    std::memcpy(&word, p, 8);
    hash = Mix(hash ^ word);
  }
  std::memcpy(&word, p + left - 8, 8);
  return Mix(hash ^ (word >> (8 * (8 - left))));
}

size_t FindHead(std::string_view line, size_t from) {
  size_t at = from + kHeadTimeColon;
  while (at < line.size()) {
    const void* found = std::memchr(line.data() + at, ':', line.size() - at);
    if (found == nullptr) break;
    size_t colon = static_cast<size_t>(static_cast<const char*>(found) - line.data());
    size_t start = colon - kHeadTimeColon;
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
      if (IsCutFrom(event, kStart)) return Torn();
      break;
    case 'e':
      if (StartsWith(event, kEnd)) return ParseEnd(event);
      if (StartsWith(event, kError)) return ParseError(event);
      if (IsCutFrom(event, kEnd) || IsCutFrom(event, kError)) return Torn();
      break;
    default:
      break;
  }
  return Event();
}

}  // namespace report
}  // namespace kestario
