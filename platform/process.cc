#include "platform/process.h"

#include <cstring>

#include "platform/system.h"

namespace kestario {

bool GetDirectoryPart(const char* path, TextString* directory) {
  if (!path || !directory) return false;
  const char* separator = strrchr(path, kPathSeparator);
  if (!separator || separator == path) return false;
  size_t length = static_cast<size_t>(separator - path);
  if (length >= UINT32_MAX || !directory->Allocate(static_cast<uint32_t>(length + 1))) {
    return false;
  }
  char* text = directory->GetText();
  if (!text) return false;
  memcpy(text, path, length);
  text[length] = '\0';
  return true;
}

bool LaunchProgram(const char* program, const char* parameters, int32_t wait,
                   LaunchOutcome* outcome) {
  if (!program) return false;
  TextString directory;
  if (!GetDirectoryPart(program, &directory) || directory.GetLength() == 0) return false;

  // A program path with a space that names an existing file is quoted, so that the system can
  // never start a shorter prefix of it. Wildcards would make the existence test a search.
  TextString commandLine;
  bool quote = strchr(program, ' ') != nullptr && strpbrk(program, "*?") == nullptr &&
               CurrentSystem().FindAnyMatch(program);
  if (quote) {
    commandLine = TextString("\"").Concat(program).Concat("\"");
  } else {
    commandLine = TextString(program);
  }
  commandLine = commandLine.Concat(" ").Concat(parameters ? parameters : "");
  if (outcome) outcome->commandLine.Assign(commandLine);
  char* buffer = commandLine.GetText();
  if (!buffer || commandLine.GetLength() == 0) return false;

  System& system = CurrentSystem();
  ProcessHandle handle = kNoProcess;
  if (!system.CreateProcessA(buffer, directory.GetConstText(), &handle)) {
    if (handle != kNoProcess) system.CloseProcess(handle);
    return false;
  }
  if (outcome) outcome->started = true;
  bool result = true;
  if (wait != 0 && !system.WaitForProcess(handle)) result = false;
  if (wait != 0 && result && outcome) {
    outcome->waited = true;
    outcome->exitCodeKnown = system.GetExitCodeProcess(handle, &outcome->exitCode);
  }
  system.CloseProcess(handle);
  return result;
}

}  // namespace kestario
