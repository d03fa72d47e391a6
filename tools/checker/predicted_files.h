// The predicted file system of a what-if (updater-check --what-if): what the run would have
// changed so far, laid over the real files, which the prediction never changes. A file the run
// deleted, copied, kept, moved or made is an entry, found by its PathKey; every other name is the
// real file's. An entry names the real files whose bytes, date, attributes and rights it has, so
// that a later step sees a copy with its source's date and the rights the platform gives it.
#ifndef KESTARIO_TOOLS_CHECKER_PREDICTED_FILES_H_
#define KESTARIO_TOOLS_CHECKER_PREDICTED_FILES_H_

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"
#include "text/byte_buffer.h"
#include "tools/checker/paths.h"
#include "tools/checker/what_if_recorder.h"

namespace kestario {
namespace checker {

// Whether `text` holds a wildcard ("*" or "?").
bool HasWildcard(const std::string& text);

// The texts of a list of NUL-ended texts, as the platform's listings give them.
std::vector<std::string> Words(const ByteBuffer& list);

class PredictedFiles {
 public:
  struct Entry {
    bool present = false;      // false: deleted
    std::string content;       // present: the real file whose bytes and date it has
    std::string attributesOf;  // present: the real file whose attributes it has (read-only ...)
    std::string accessOf;      // present: the real file whose rights it has; empty: the run's own
    std::string shown;         // the path as first written
    bool existedBefore = false;
  };

  // The entry of `path`; null when the run has not changed it.
  const Entry* Find(const std::string& path) const;
  // Sets the entry of `path`, or of the PathKey `key`.
  void Set(const std::string& path, const Entry& entry) { entries_[PathKey(path)] = entry; }
  void SetKey(const std::string& key, const Entry& entry) { entries_[key] = entry; }
  bool HasKey(const std::string& key) const { return entries_.count(key) != 0; }

  // Whether `path` names an existing file that is not a folder, the run's changes included.
  bool IsNonFolder(const char* path) const;
  // Moves the view of `from` to `to` (the file itself: its bytes, date and mode).
  void Rename(const std::string& from, const std::string& to);
  // Whether the wildcard `path` (wildcards in its last part) finds a file or folder: among the
  // entries, where `real` lets the folder be listed, else among the real names not deleted.
  bool MatchesWildcard(System& real, const std::string& path) const;

  // An existing file that the run writes through a handle (its log), by its PathKey, and whether
  // the run has written one.
  void MarkWritten(const std::string& key, const std::string& shown) { written_[key] = shown; }
  bool WasWritten(const std::string& key) const { return written_.count(key) != 0; }

  // The files deleted, created and replaced, into the report.
  void ReportChanges(WhatIfReport* report) const;

 private:
  std::map<std::string, Entry> entries_;
  std::map<std::string, std::string> written_;  // PathKey -> the path as written
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_PREDICTED_FILES_H_
