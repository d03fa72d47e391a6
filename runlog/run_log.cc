#include "runlog/run_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/encoding.h"
#include "platform/system.h"
#include "runlog/log_grammar.h"

namespace kestario {
namespace {

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
constexpr uint32_t kLineEndLength = 2;
#else
constexpr const char* kLineEnd = "\n";
constexpr uint32_t kLineEndLength = 1;
#endif

// The lock that keeps each line whole where the file system's append is not (Wine, some SMB
// servers): one byte far beyond any log's end, so that no read or write of the lines meets it.
constexpr uint64_t kLockOffset = uint64_t{1} << 62;

struct RunLog {
  bool on = false;
  bool released = false;  // let go of before a step that deletes or replaces its file
  TextString path;
  FileHandle file = kNoFile;
  FileIdentity identity = {};  // the open file's, when `identified`
  bool identified = false;
  bool readable = false;  // open for reading and writing, not only for appending
  bool cut = false;       // the last line was cut short and left so
  TextString computer;    // as the head of a line shows it
  uint32_t processId = 0;
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

// Whether the open log is the file that `path` names.
bool IsLogFile(System& system, const TextString& path) {
  if (!g_log.identified) return false;
  FileHandle other = system.CreateFileA(path.GetConstText(), FileAccess::kRead);
  if (other == kNoFile) return false;
  FileIdentity its = {};
  bool same = system.GetFileInformationByHandle(other, &its) &&
              g_log.identity.volume == its.volume && g_log.identity.index == its.index;
  system.CloseHandle(other);
  return same;
}

// Appends one line under the lock. A line never follows a cut one: when the file does not end
// with a line end (a line cut by a full disk or by a process ended half-way), the line begins
// with one; and a line that is itself cut short is taken back when nothing was appended after it.
void AppendLine(System& system, const TextString& line) {
  bool locked = system.LockFileEx(g_log.file, kLockExclusive, kLockOffset, 1);
  uint64_t size = 0;
  bool sized = g_log.readable && system.GetFileSizeEx(g_log.file, &size);
  bool breakFirst = g_log.cut;
  if (sized && size > 0) {
    char last = '\n';
    uint32_t got = 0;
    breakFirst = system.ReadFile(g_log.file, size - 1, &last, 1, &got) && got == 1 && last != '\n';
  }
  TextString broken;
  const TextString* bytes = &line;
  if (breakFirst) {
    broken.SetText(kLineEnd);
    broken.Append(line);
    bytes = &broken;
  }
  uint32_t done = 0;
  uint32_t length = static_cast<uint32_t>(bytes->GetLength());
  if (length != static_cast<uint32_t>(line.GetLength()) + (breakFirst ? kLineEndLength : 0)) {
    // Memory ran out for the line end before it: the line is not written.
  } else if (system.WriteFile(g_log.file, kFileEnd, bytes->GetConstText(), length, &done)) {
    g_log.cut = false;
  } else if (done != 0) {
    uint64_t now = 0;
    g_log.cut = !(sized && system.GetFileSizeEx(g_log.file, &now) && now == size + done &&
                  system.SetEndOfFile(g_log.file, size));
  }
  if (locked) system.UnlockFileEx(g_log.file, kLockOffset, 1);
}

// Opens the log's file: for reading and writing where the user may (to end every line whole),
// else for appending only.
bool OpenLogFile(System& system) {
  g_log.readable = true;
  g_log.file = system.CreateFileA(g_log.path.GetConstText(), FileAccess::kReadWrite);
  if (g_log.file == kNoFile) {
    g_log.readable = false;
    g_log.file = system.CreateFileA(g_log.path.GetConstText(), FileAccess::kAppend);
  }
  g_log.identified =
      g_log.file != kNoFile && system.GetFileInformationByHandle(g_log.file, &g_log.identity);
  return g_log.file != kNoFile;
}

}  // namespace

void StartRunLog(const TextString& path, const TextString& program, const TextString& script) {
  StopRunLog();
  System& system = CurrentSystem();
  if (path.GetLength() == 0 || !g_log.path.SetText(path.GetConstText()) || !OpenLogFile(system)) {
    return;
  }
  if (IsLogFile(system, program) || IsLogFile(system, script)) {
    StopRunLog();
    return;
  }
  TextString computer;
  g_log.computer.SetText("");
  if (system.GetComputerNameA(&computer)) AppendAnsi(&g_log.computer, computer.GetConstText());
  if (g_log.computer.GetLength() == 0) g_log.computer.SetText("-");
  g_log.processId = system.GetCurrentProcessId();
  g_log.cut = false;
  g_log.on = true;
}

void StopRunLog() {
  if (g_log.file != kNoFile) CurrentSystem().CloseHandle(g_log.file);
  g_log.file = kNoFile;
  g_log.on = false;
  g_log.released = false;
}

void ReleaseRunLogFile(const TextString& path) {
  if (!g_log.on || !IsLogFile(CurrentSystem(), path)) return;
  StopRunLog();
  g_log.released = true;
}

void ResumeRunLog() {
  if (g_log.released && OpenLogFile(CurrentSystem())) g_log.on = true;
  g_log.released = false;
}

bool IsRunLogOn() { return g_log.on; }

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
  // ISO 8601 with the offset from UTC, so that the lines of machines in different time zones
  // compare: 2026-12-08T09:00:00+09:00 (never "Z").
  int offset = now.utcOffsetMinutes;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char head[64];
  int timeLength =
      std::snprintf(head, sizeof head, runlog::kTimeFormat, now.year, now.month, now.day, now.hour,
                    now.minute, now.second, sign, offset / 60, offset % 60);
  if (timeLength < 0 || timeLength + 1 >= static_cast<int>(sizeof head)) return;
  head[timeLength] = ' ';
  head[timeLength + 1] = '\0';
  char pid[24];
  std::snprintf(pid, sizeof pid, " %" PRIu32 " ", g_log.processId);
  TextString line(head);
  line.Append(g_log.computer).Append(pid).Append(text_);
  // The frame: the line's own length in bytes. A value inside the line can never make it end
  // elsewhere, and a line cut short no longer matches its frame.
  int32_t expected = static_cast<int32_t>(std::strlen(head) + std::strlen(pid)) +
                     g_log.computer.GetLength() + text_.GetLength();
  char frame[24];
  std::snprintf(frame, sizeof frame, "%s%" PRId32, runlog::kFrameMark, expected);
  line.Append(frame).Append(kLineEnd);
  // A line that memory could not hold whole is not written at all.
  expected += static_cast<int32_t>(std::strlen(frame) + std::strlen(kLineEnd));
  if (line.GetLength() != expected) return;
  AppendLine(system, line);
}

}  // namespace kestario
