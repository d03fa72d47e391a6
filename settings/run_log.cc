#include "settings/run_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/encoding.h"
#include "platform/system.h"

namespace kestario {
namespace {

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

struct RunLog {
  bool on = false;
  TextString path;
  TextString computer;
  uint32_t processId = 0;
  int lastMessage = 0;
};
RunLog g_log;

// Appends `text` with its line breaks written as "\n" (and carriage returns as "\r").
void AppendOneLine(TextString* line, const char* text) {
  const char* rest = text;
  for (;;) {
    size_t plain = std::strcspn(rest, "\r\n");
    if (plain != 0) {
      TextString piece;
      if (!piece.Allocate(static_cast<uint32_t>(plain + 1))) return;
      std::memcpy(piece.GetText(), rest, plain);
      piece.GetText()[plain] = '\0';
      line->Append(piece);
    }
    rest += plain;
    if (*rest == '\0') return;
    line->Append(*rest == '\n' ? "\\n" : "\\r");
    ++rest;
  }
}

// Appends a text of the script (ANSI code page) or of the program (UTF-16) in UTF-8.
void AppendAnsi(TextString* line, const char* text) {
  TextString utf8;
  AnsiToUtf8(text ? text : "", &utf8);
  AppendOneLine(line, utf8.GetConstText());
}

void AppendWide(TextString* line, const WideText& text) {
  TextString utf8;
  WideToUtf8(text, &utf8);
  AppendOneLine(line, utf8.GetConstText());
}

}  // namespace

void StartRunLog(const TextString& path) {
  g_log.on = false;
  g_log.lastMessage = 0;
  if (path.GetLength() == 0 || !g_log.path.SetText(path.GetConstText())) return;
  System& system = CurrentSystem();
  TextString computer;
  if (!system.GetComputerNameA(&computer) ||
      !AnsiToUtf8(computer.GetConstText(), &g_log.computer)) {
    g_log.computer.SetText("-");
  }
  g_log.processId = system.GetCurrentProcessId();
  g_log.on = true;
}

void StopRunLog() { g_log.on = false; }

bool IsRunLogOn() { return g_log.on; }

int LastReportedMessage() { return g_log.lastMessage; }

void NoteReportedMessage(int number) { g_log.lastMessage = number; }

LogLine& LogLine::Add(const char* text) {
  if (g_log.on) AppendAnsi(&text_, text);
  return *this;
}

LogLine& LogLine::Quoted(const char* text) {
  if (!g_log.on) return *this;
  text_.Append("\"");
  AppendAnsi(&text_, text);
  text_.Append("\"");
  return *this;
}

LogLine& LogLine::Quoted(const WideText& text) {
  if (!g_log.on) return *this;
  text_.Append("\"");
  AppendWide(&text_, text);
  text_.Append("\"");
  return *this;
}

LogLine& LogLine::Key(const char* key, const TextString& value) {
  return Add(" ").Add(key).Add("=").Quoted(value);
}

LogLine& LogLine::Number(int64_t number) {
  if (!g_log.on) return *this;
  char digits[24];
  std::snprintf(digits, sizeof digits, "%" PRId64, number);
  text_.Append(digits);
  return *this;
}

void LogLine::Write() {
  if (!g_log.on) return;
  System& system = CurrentSystem();
  LocalTime now = {};
  system.GetLocalTime(&now);
  char head[64];
  std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u ", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  char pid[24];
  std::snprintf(pid, sizeof pid, " %" PRIu32 " ", g_log.processId);
  TextString line(head);
  line.Append(g_log.computer).Append(pid).Append(text_).Append(kLineEnd);
  // A line that memory could not hold whole is not written at all.
  int32_t expected = static_cast<int32_t>(std::strlen(head) + std::strlen(pid)) +
                     g_log.computer.GetLength() + text_.GetLength() +
                     static_cast<int32_t>(std::strlen(kLineEnd));
  if (line.GetLength() != expected) return;
  system.AppendFileA(g_log.path.GetConstText(), line.GetConstText(),
                     static_cast<uint32_t>(line.GetLength()));
}

}  // namespace kestario
