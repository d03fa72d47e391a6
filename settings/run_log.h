// The run log: one line per event of a run, appended to the file that the script names in the key
// LOG of section UPDATER.
//
// Every line begins with the local date and time, the computer name and the process id, so that
// the lines of many machines can share one file; then the event's text. The log is UTF-8 on every
// machine: the script's texts are converted from the ANSI code page, the program's own from
// UTF-16. A line break inside a text is written as the two characters "\n" so that each event
// stays one line. Each line is written with one append (AppendFileA), so the lines of processes
// that append at the same time never mix within a line.
//
// The log never changes what the run does: without a log every call here does nothing, and a line
// that cannot be written is dropped without a word.
#ifndef KESTARIO_SETTINGS_RUN_LOG_H_
#define KESTARIO_SETTINGS_RUN_LOG_H_

#include <cstdint>

#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

// Starts the log at `path` (an expanded value); an empty path means no log. Takes the computer
// name and the process id once, for the head of every line.
void StartRunLog(const TextString& path);
// Ends the log; later lines are not written.
void StopRunLog();
bool IsRunLogOn();

// One line under construction; Write appends it to the log. Pieces are plain text, a value in
// double quotes (Quoted), a key with its value (Key), or a number. A text given as bytes is the
// script's (or the system's), in the ANSI code page; a WideText is UTF-16.
class LogLine {
 public:
  LogLine& Add(const char* text);
  LogLine& Add(const TextString& text) { return Add(text.GetConstText()); }
  LogLine& Quoted(const char* text);
  LogLine& Quoted(const TextString& text) { return Quoted(text.GetConstText()); }
  LogLine& Quoted(const WideText& text);
  // ` KEY="VALUE"`: one key of a procedure and its value.
  LogLine& Key(const char* key, const TextString& value);
  LogLine& Number(int64_t number);
  void Write();

 private:
  TextString text_;
};

// The number of the last message shown by the error box since the log started (0: none), for the
// line that ends the run.
int LastReportedMessage();
void NoteReportedMessage(int number);

}  // namespace kestario

#endif  // KESTARIO_SETTINGS_RUN_LOG_H_
