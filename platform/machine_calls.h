// The system's calls about the machine and the running program: its path and folders, the
// computer's and the user's names, the local time, the process id, and the system's event log
// (part of System, system.h).
#ifndef KESTARIO_PLATFORM_MACHINE_CALLS_H_
#define KESTARIO_PLATFORM_MACHINE_CALLS_H_

#include <cstddef>
#include <cstdint>

#include "text/text_string.h"

#include "platform/ui_calls.h"

namespace kestario {

// Event types of the system's log (ReportEventW), with their Win32 values.
constexpr uint16_t kEventTypeError = 0x0001;
constexpr uint16_t kEventTypeWarning = 0x0002;
constexpr uint16_t kEventTypeInformation = 0x0004;

// A local date and time, as GetLocalTime gives its fields, and how far that local time is ahead of
// UTC at that moment, in whole minutes (negative west of Greenwich).
struct LocalTime {
  uint16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  int16_t utcOffsetMinutes = 0;
};

class MachineCalls : public UiCalls {
 public:
  ~MachineCalls() override;

  // GetModuleFileNameA(NULL, ...): writes the running executable's path and returns its length;
  // returns `size` (with a cut text) when the buffer is too small, 0 on failure.
  virtual uint32_t GetModuleFileNameA(char* buffer, uint32_t size) = 0;
  // GetWindowsDirectoryA: writes the directory and returns its length; when it does not fit,
  // returns the size needed (terminator included) and writes nothing.
  virtual uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) = 0;
  // GetSystemDirectoryA, whole, into `folder`: the folder of cmd.exe (C:\Windows\system32).
  // False when the system cannot tell; Linux has no such folder, and always says false.
  virtual bool GetSystemDirectoryA(TextString* folder) = 0;
  // GetComputerNameA (Linux: the host name) and GetUserNameA (Linux: the login name of the real
  // user id), whole, into `name`; false, `name` unchanged, when the system cannot tell.
  virtual bool GetComputerNameA(TextString* name) = 0;
  virtual bool GetUserNameA(TextString* name) = 0;
  // GetLocalTime with its offset from UTC (Windows: the local time and the UTC time of one instant,
  // GetSystemTime and SystemTimeToTzSpecificLocalTime; Linux: localtime_r and tm_gmtoff), and
  // GetCurrentProcessId.
  virtual void GetLocalTime(LocalTime* time) = 0;
  virtual uint32_t GetCurrentProcessId() = 0;

  // One event in the system's log from `source`; every text in UTF-8. Windows:
  // RegisterEventSourceW(NULL, source), ReportEventW of `type` and `id` with the `count` insertion
  // `strings` (as UTF-16), DeregisterEventSource; the viewer builds the event's text from the
  // program's message table. Linux: syslog(3) of `text`, the same text already built, with
  // `source` as its ident and the priority of `type` (LOG_INFO, LOG_WARNING, LOG_ERR). False when
  // the event was not written (syslog cannot tell: true).
  virtual bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                                  const char* const* strings, uint16_t count, const char* text) = 0;
};

// The answers of GetModuleFileNameA and GetWindowsDirectoryA for a system that has the text (of
// `length` bytes) at hand: `buffer` of `size` bytes receives it as each call gives it, and the
// result is what the call returns (for the module's name, 0 when there is no buffer).
uint32_t CopyOutModuleFileName(const char* text, size_t length, char* buffer, uint32_t size);
uint32_t CopyOutWindowsDirectory(const char* text, size_t length, char* buffer, uint32_t size);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_MACHINE_CALLS_H_
