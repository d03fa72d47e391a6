#include "platform/batch_command_line.h"

#include <cstring>

#include "platform/system.h"
#include "text/ascii.h"

namespace kestario {

namespace {

// What cmd.exe is given for a "%": a "%" that names no variable, then an empty part of CD.
constexpr char kPercent[] = "%%cd:~,%";
constexpr size_t kPercentLength = sizeof kPercent - 1;
// The switches after cmd.exe's path, up to the first double quote that /c takes away.
constexpr char kSwitches[] = " /d /e:ON /v:OFF /c \"";
constexpr size_t kSwitchesLength = sizeof kSwitches - 1;

// The characters that join or redirect commands outside double quotes, and the escape itself.
bool IsJoint(char c) { return c != '\0' && std::strchr("^&|<>()", c) != nullptr; }

bool IsLead(LeadByteTest isLeadByte, char c) {
  return static_cast<uint8_t>(c) >= 0x80 && isLeadByte(static_cast<uint8_t>(c));
}

// Bytes written to a buffer, or only counted while `out` is null.
struct Output {
  char* out = nullptr;
  size_t length = 0;
  void Put(char c) {
    if (out) out[length] = c;
    ++length;
  }
  void Put(const char* text, size_t count) {
    if (out) std::memcpy(out + length, text, count);
    length += count;
  }
};

// Writes `text` as cmd.exe must be given it (see BuildBatchCommandLine); `path`: it stands
// between double quotes of its own, and may hold none. False when it cannot be given so.
bool Escape(const char* text, bool path, LeadByteTest isLeadByte, Output* output) {
  bool quoted = path;
  for (const char* at = text; *at != '\0'; ++at) {
    char c = *at;
    if (IsLead(isLeadByte, c)) {
      if (at[1] == '\0') return false;
      output->Put(at, 2);
      ++at;
    } else if (c == '\r' || c == '\n' || (path && c == '"')) {
      return false;
    } else if (c == '%') {
      output->Put(kPercent, kPercentLength);
    } else {
      if (c == '"') quoted = !quoted;
      if (!quoted && IsJoint(c)) output->Put('^');
      output->Put(c);
    }
  }
  return true;
}

// Reads back what Escape wrote, from `text` up to `end`, as cmd.exe reads it: the batch file's
// path (`path`) up to its closing double quote, or the parameters. `*next` receives where the
// reading stopped. False when the text is not one that Escape writes.
bool Unescape(const char* text, const char* end, bool path, LeadByteTest isLeadByte, Output* output,
              const char** next) {
  bool quoted = path;
  const char* at = text;
  while (at < end) {
    char c = *at;
    if (IsLead(isLeadByte, c) && at + 1 < end) {
      output->Put(at, 2);
      at += 2;
    } else if (c == '%') {
      if (static_cast<size_t>(end - at) < kPercentLength ||
          std::strncmp(at, kPercent, kPercentLength) != 0) {
        return false;
      }
      output->Put('%');
      at += kPercentLength;
    } else if (path && c == '"') {
      break;
    } else {
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '^' && at + 1 < end) c = *++at;
      output->Put(c);
      ++at;
    }
  }
  *next = at;
  return true;
}

}  // namespace

bool IsSystemLeadByte(uint8_t byte) { return CurrentSystem().IsDBCSLeadByte(byte); }

bool IsBatchFileName(const char* program, size_t length) {
  if (!program) return false;
  while (length > 0 && (program[length - 1] == '.' || program[length - 1] == ' ')) --length;
  if (length < 4 || program[length - 4] != '.') return false;
  char extension[4] = {};
  for (int i = 1; i < 4; ++i) {
    char c = program[length - 4 + i];
    extension[i - 1] = AsciiLower(c);
  }
  return std::strcmp(extension, "bat") == 0 || std::strcmp(extension, "cmd") == 0;
}

bool BuildBatchCommandLine(const char* cmd, const char* batch, const char* parameters,
                           LeadByteTest isLeadByte, TextString* commandLine) {
  if (!cmd || !batch || !parameters || !isLeadByte || !commandLine) return false;
  commandLine->SetText("");
  if (std::strchr(cmd, '"')) return false;
  size_t cmdLength = std::strlen(cmd);
  // Measured first, then written into one block of the measured size.
  Output measure;
  if (!Escape(batch, true, isLeadByte, &measure)) return false;
  size_t batchLength = measure.length;
  if (!Escape(parameters, false, isLeadByte, &measure)) return false;
  size_t total = 1 + cmdLength + 1 + kSwitchesLength + 1 + batchLength + 1 +
                 (measure.length - batchLength) + 1;
  if (total > kLongestBatchCommandLine ||
      !commandLine->Allocate(static_cast<uint32_t>(total + 1))) {
    return false;
  }
  Output line;
  line.out = commandLine->GetText();
  line.Put('"');
  line.Put(cmd, cmdLength);
  line.Put('"');
  line.Put(kSwitches, kSwitchesLength);
  line.Put('"');
  Escape(batch, true, isLeadByte, &line);
  line.Put('"');
  Escape(parameters, false, isLeadByte, &line);
  line.Put('"');
  line.out[line.length] = '\0';
  return true;
}

bool ReadBatchCommandLine(const char* commandLine, LeadByteTest isLeadByte, TextString* batch,
                          TextString* parameters) {
  if (!commandLine || !isLeadByte || !batch || !parameters || commandLine[0] != '"') return false;
  const char* cmdEnd = std::strchr(commandLine + 1, '"');
  if (!cmdEnd || std::strncmp(cmdEnd + 1, kSwitches, kSwitchesLength) != 0) return false;
  // What /c leaves: the text between its first and its last double quote.
  const char* start = cmdEnd + 1 + kSwitchesLength;
  size_t length = std::strlen(start);
  if (length < 3 || start[0] != '"' || start[length - 1] != '"') return false;
  const char* end = start + length - 1;
  if (!batch->Allocate(static_cast<uint32_t>(length)) ||
      !parameters->Allocate(static_cast<uint32_t>(length))) {
    return false;
  }
  Output path;
  path.out = batch->GetText();
  const char* rest = nullptr;
  if (!Unescape(start + 1, end, true, isLeadByte, &path, &rest) || rest >= end) return false;
  path.out[path.length] = '\0';
  Output words;
  words.out = parameters->GetText();
  if (!Unescape(rest + 1, end, false, isLeadByte, &words, &rest)) return false;
  words.out[words.length] = '\0';
  return true;
}

}  // namespace kestario
