// Small questions about files that the rollback's pieces share: whether a name exists, whether
// two stamps are one unchanged file, and a folder and a name joined.
#ifndef KESTARIO_ENGINE_FILE_CHECKS_H_
#define KESTARIO_ENGINE_FILE_CHECKS_H_

#include <cstddef>

#include "engine/kept_names.h"
#include "platform/files.h"
#include "platform/system.h"
#include "text/text_string.h"

namespace kestario {
namespace rollback {

inline bool Exists(const char* path) {
  return CurrentSystem().GetFileAttributesA(path) != kInvalidFileAttributes;
}

inline bool SameIdentity(const FileIdentity& one, const FileIdentity& other) {
  return one.volume == other.volume && one.index == other.index;
}

// One file, unchanged in size and last write, and no link.
inline bool SameStamp(const FileStamp& one, const FileStamp& other) {
  return SameIdentity(one.identity, other.identity) && one.size == other.size &&
         one.writeTime == other.writeTime && !one.link && !other.link;
}

// `folder` and `name` joined by one separator.
inline TextString Joined(const TextString& folder, const char* name) {
  TextString path(folder);
  size_t length = static_cast<size_t>(folder.GetLength());
  char last = length == 0 ? kPathSeparator : folder.GetConstText()[length - 1];
  if (last != kPathSeparator && last != '/') path.Append(kPathSeparatorText);
  path.Append(name);
  return path;
}

}  // namespace rollback
}  // namespace kestario

#endif  // KESTARIO_ENGINE_FILE_CHECKS_H_
