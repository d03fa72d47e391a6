// What the command-line tools (updater-check, updater-report) print: UTF-8 texts, to standard
// output or standard error. On Windows a console is written in UTF-16 with WriteConsoleW, so that
// every text reads right whatever the console's code page; output that goes elsewhere (a file, a
// pipe) gets the UTF-8 bytes, as everything does on Linux.
#ifndef KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_
#define KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestario {
namespace console {

enum class Stream { kOutput, kError };

// Writes all of UTF-8 `text`; false when the stream took less.
bool Write(Stream stream, const std::string& text);

// Writes all `size` bytes to the open file `handle` (a file descriptor on Linux, a HANDLE on
// Windows), in as many calls as it takes; false when one fails.
bool WriteAll(intptr_t handle, const char* data, size_t size);

// Writes `out` to standard output, then `err` to standard error, and returns `status`. When
// standard output takes less than all of `out` (a full disk, a closed or broken pipe, a stream
// that was closed: `>/dev/full`, `>&-`), it says so on standard error after `err`, as
// "PROGRAM: cannot write the output: REASON", and returns `failedStatus` instead; when standard
// error fails, too. Both tools end through it, so no output is lost without a status that tells.
int Finish(const char* program, const std::string& out, const std::string& err, int status,
           int failedStatus);

// Standard output written piece by piece, as a tool makes it (a fleet's report is not held
// whole): after the first piece that cannot be written the rest are dropped, and Finish ends as
// the function Finish below does.
class Output {
 public:
  void Write(const std::string& piece);
  int Finish(const char* program, const std::string& err, int status, int failedStatus);

 private:
  bool written_ = true;
  std::string failure_;  // why the first piece that failed was not written
};

// The path of the file named by `utf8Path` as the program's ANSI calls can take it: on Windows
// the path itself when the ANSI code page can write it, else its short (8.3) form, and false, with
// the reason in `problem`, when neither can be written (or the file is not there to ask for its
// short form); on Linux, whose calls take the bytes, the path itself.
bool AnsiPath(const std::string& utf8Path, std::string* ansiPath, std::string* problem);

#ifdef _WIN32
// The system's words for error `code` (GetLastError), in its language, as UTF-8.
std::string SystemReason(unsigned long code);
// UTF-16 text as UTF-8, and UTF-8 text as UTF-16.
std::string Utf8(const wchar_t* text, size_t size);
std::wstring Wide(const std::string& text);
// The arguments of wmain in UTF-8, its program name left out, so that any file name reaches the
// tool whole whatever the ANSI code page.
std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);
#endif

}  // namespace console
}  // namespace kestario

// The entry point of a tool, which calls `run` with the arguments in UTF-8, the program's name
// left out: main, and on Windows wmain, whose arguments come in UTF-16 so that any file name
// reaches the tool whole whatever the ANSI code page (link with -municode).
#ifdef _WIN32
#define KESTARIO_TOOL_MAIN(run)                                 \
  int wmain(int argc, wchar_t** argv) {                         \
    return run(::kestario::console::Utf8Arguments(argc, argv)); \
  }
#else
#define KESTARIO_TOOL_MAIN(run) \
  int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif

#endif  // KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_
