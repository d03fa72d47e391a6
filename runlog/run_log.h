// The run log: one line per event of a run, appended to the file that the script names in the key
// LOG of section UPDATER.
//
// Every line begins with the local date and time with its offset from UTC (ISO 8601,
// 2026-12-08T09:00:00+09:00), the computer name and the process id, so that the lines of many
// machines can share one file; then the event's text, and last its frame: " #" and the number of
// bytes of the line before it, so that no value can end a line early or start another one, and a
// line cut short is known. The log is UTF-8 on every machine: the script's texts (the computer
// name too) are converted from the ANSI code page, the program's own from UTF-16. A line feed
// inside a text is written as the two characters "\n", a carriage return as "\r", so that each
// event stays one line.
//
// The file is opened once, when the log starts, and kept open to the end of the run: a DELETE or
// COPY of its name later in the run neither brings it back nor gets lines into the new file. Only
// a regular file (or a new one) is a log; a folder, a named pipe, a device, the script and the
// program are not, and the run then has no log. Each line is appended in one write under a
// byte-range lock, so the lines of processes that append at the same time never mix, even where
// the file system's own append is not atomic; a line never follows one that was cut short.
//
// The log never changes what the run does: without a log every call here does nothing, and a line
// that cannot be written is dropped without a word.
#ifndef KESTARIO_RUNLOG_RUN_LOG_H_
#define KESTARIO_RUNLOG_RUN_LOG_H_

#include <cstdint>

#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

// Starts the log at `path` (an expanded value); an empty path, or one that names no log (see
// above; `program` and `script` are the running program's and the script's paths), means no log.
// Takes the computer name and the process id once, for the head of every line.
void StartRunLog(const TextString& path, const TextString& program, const TextString& script);
// Ends the log and closes its file; later lines are not written.
void StopRunLog();
bool IsRunLogOn();
// The run is about to delete or copy over the file `path` names. When that is the log's file, the
// log lets go of it first, so that the file goes or is replaced at once, as it would without a
// log (Windows keeps the name of a deleted file while a handle holds it open); the log's later
// lines would be lost with that file anyway. When the step fails, ResumeRunLog takes the file up
// again.
void ReleaseRunLogFile(const TextString& path);
void ResumeRunLog();

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

}  // namespace kestario

#endif  // KESTARIO_RUNLOG_RUN_LOG_H_
