// What updater-report asks of the operating system: reading logs in large blocks, listing a
// folder of logs, and writing the HTML page (tools/console writes what it prints). Paths and
// texts are UTF-8; on Windows they are turned into UTF-16 for the system's wide calls, so that
// any file name can be given. log_files_posix.cc and log_files_win32.cc implement it.
#ifndef KESTARIO_TOOLS_REPORT_LOG_FILES_H_
#define KESTARIO_TOOLS_REPORT_LOG_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/report/fleet.h"

namespace kestario {
namespace report {

// A log opened for reading, read front to back.
class LogFile : public ByteSource {
 public:
  LogFile() = default;
  ~LogFile() override;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens the file at `path` for reading, shared with writers that keep appending to it; false
  // with the system's reason in `*error` when it cannot.
  bool Open(const std::string& path, std::string* error);
  int64_t Read(char* buffer, size_t size, std::string* error) override;

 private:
  intptr_t handle_ = -1;
};

// Whether `path` names a folder.
bool IsFolder(const std::string& path);

// The paths of the regular files in `folder` (not its sub-folders), sorted by name; false with the
// system's reason in `*error` when the folder cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>* files, std::string* error);

// Writes `bytes` as the whole content of the file at `path`, replacing it.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);

// A path as the report shows it: UTF-8 (on Linux, a name that is not UTF-8 is decoded as the logs
// are).
std::string ShownPath(const std::string& path);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_LOG_FILES_H_
