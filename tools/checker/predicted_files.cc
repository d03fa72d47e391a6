#include "tools/checker/predicted_files.h"

#include <vector>

#include "platform/path_questions.h"
#include "tools/checker/paths.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// The words of a NUL-separated list (SplitCommandWords, FindCommandLineProgramA).
std::vector<std::string> Words(const ByteBuffer& list) {
  std::vector<std::string> words;
  const char* bytes = reinterpret_cast<const char*>(list.GetConstData());
  for (uint32_t at = 0; at < list.GetSize(); at += static_cast<uint32_t>(words.back().size()) + 1) {
    words.push_back(bytes + at);
  }
  return words;
}

namespace {

// The names in `folder` that match `pattern`, as the platform's search finds them.
std::vector<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  ByteBuffer listed;
  if (!ListMatchingNamesA(folder.c_str(), pattern.c_str(), &listed)) return {};
  return Words(listed);
}

}  // namespace

const PredictedFiles::Entry* PredictedFiles::Find(const std::string& path) const {
  auto found = entries_.find(PathKey(path));
  return found == entries_.end() ? nullptr : &found->second;
}

bool PredictedFiles::IsNonFolder(const char* path) const {
  if (path == nullptr || *path == '\0') return false;
  const Entry* entry = Find(path);
  if (entry != nullptr) return entry->present;
  PathKind kind = GetPathKindA(path);
  return kind != PathKind::kNothing && kind != PathKind::kUnreachable && kind != PathKind::kFolder;
}

void PredictedFiles::Rename(const std::string& from, const std::string& to) {
  const Entry* source = Find(from);
  Entry moved;
  moved.present = true;
  moved.content = source != nullptr ? source->content : FullPath(from);
  const Entry* target = Find(to);
  moved.shown = target != nullptr ? target->shown : to;
  moved.existedBefore = target != nullptr ? target->existedBefore : IsNonFolder(to.c_str());
  Entry gone;
  gone.shown = source != nullptr ? source->shown : from;
  gone.existedBefore = source != nullptr ? source->existedBefore : true;
  entries_[PathKey(to)] = moved;
  entries_[PathKey(from)] = gone;
}

bool PredictedFiles::MatchesWildcard(System& real, const std::string& path) const {
  std::string folder, pattern;
  SplitPath(path, &folder, &pattern);
  if (HasWildcard(folder)) return false;  // wildcards only in the last part, as the search has
  std::string prefix = PathKey(path);
  prefix = prefix.substr(0, prefix.size() - pattern.size());
  bool touched = false;
  for (const auto& entry : entries_) {
    if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
    std::string name = entry.first.substr(prefix.size());
    if (name.find(kPathSeparator) != std::string::npos) continue;
    touched = true;
    if (entry.second.present && NameMatchesWildcard(pattern.c_str(), name.c_str())) {
      // Found only where the folder can be listed, as the search lists it.
      return real.AccessCheckA(folder.c_str(), kFileReadData);
    }
  }
  if (!touched) return real.AnyFileMatchesA(path.c_str());
  for (const std::string& name : MatchingNames(folder, pattern)) {
    std::string key = prefix + name;
    for (char& c : key) c = FoldCase(c);
    auto entry = entries_.find(key);
    if (entry == entries_.end() || entry->second.present) return true;
  }
  return false;
}

void PredictedFiles::ReportChanges(WhatIfReport* report) const {
  for (const auto& entry : entries_) {
    const Entry& file = entry.second;
    // A file that a stopped rollback run put back is the file it was.
    if (file.present && file.existedBefore && PathKey(file.content) == entry.first) continue;
    if (file.present) {
      (file.existedBefore ? report->replaced : report->created).push_back(file.shown);
    } else if (file.existedBefore) {
      report->deleted.push_back(file.shown);
    }
  }
  for (const auto& entry : written_) {
    if (entries_.count(entry.first) != 0) continue;  // copied over or deleted: reported above
    report->replaced.push_back(entry.second);
  }
}

}  // namespace checker
}  // namespace kestario
