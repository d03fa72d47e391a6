// How a batch file is started on Windows: through cmd.exe, with a command line in which no
// character of the batch file's path or of its parameters can start anything else.
//
// cmd.exe reads the text after "/c" twice before it runs the batch file: first it replaces each
// "%NAME%" that names a variable by its value, then it takes "&", "|", "<", ">", "(" and ")"
// outside double quotes as the joints of further commands, a "^" outside double quotes making
// the character after it plain. A batch file started by CreateProcess alone gets the same
// reading, so its path and parameters are written here so that both readings give them back
// exactly as the script wrote them.
#ifndef KESTARIO_PLATFORM_BATCH_COMMAND_LINE_H_
#define KESTARIO_PLATFORM_BATCH_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>

#include "text/text_string.h"

namespace kestario {

// Whether the first `length` bytes of `program` name a batch file, which Windows runs through
// cmd.exe: without the dots and blanks at its end (which Windows drops from a file name), the
// name ends in ".bat" or ".cmd", in any letter case.
bool IsBatchFileName(const char* program, size_t length);

// Whether a byte begins a double-byte character in the ANSI code page: the system's
// IsDBCSLeadByte. Such a byte and the one after it are one character, copied whole.
using LeadByteTest = bool (*)(uint8_t byte);
// The running system's answer: CurrentSystem().IsDBCSLeadByte.
bool IsSystemLeadByte(uint8_t byte);

// The longest command line that cmd.exe takes, in bytes (it counts 8,191 characters; a
// double-byte character counts once there and twice here, so the byte count errs on the safe side).
constexpr size_t kLongestBatchCommandLine = 8191;

// The command line that starts the batch file `batch` through `cmd` (the full path of cmd.exe),
// with `parameters` (the text after the batch file's name; it starts with a blank when not empty):
//
//   "CMD" /d /e:ON /v:OFF /c ""BATCH"PARAMETERS"
//
// /d: no AutoRun command from the registry; /e:ON: command extensions on, which the escape of
// "%" needs; /v:OFF: "!" is an ordinary character. cmd.exe takes away the first and the last
// double quote after /c. BATCH and PARAMETERS are written so that cmd.exe reads them back as
// given:
// - each "%" as "%%cd:~,%": the first "%" names no variable, and "%cd:~,%" is an empty part of
//   the variable CD, so what is read is the "%" alone, and no name after it is replaced;
// - in PARAMETERS, each of ^ & | < > ( ) that is outside double quotes, counting every double
//   quote as cmd.exe does from the start of PARAMETERS, with a "^" before it;
// - a double-byte character (`isLeadByte`), in both, unchanged.
// False, with `commandLine` left empty, when that cannot be done: a carriage return or a line
// feed in either (cmd.exe ends a command at a line feed and drops carriage returns), a double
// quote in BATCH, a lead byte with nothing after it (it would take the closing quote), a line
// longer than kLongestBatchCommandLine, or memory running out.
bool BuildBatchCommandLine(const char* cmd, const char* batch, const char* parameters,
                           LeadByteTest isLeadByte, TextString* commandLine);

// The batch file and the parameters of a command line that BuildBatchCommandLine made, as
// cmd.exe reads them; false for any other command line.
bool ReadBatchCommandLine(const char* commandLine, LeadByteTest isLeadByte, TextString* batch,
                          TextString* parameters);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_BATCH_COMMAND_LINE_H_
