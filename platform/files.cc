#include "platform/files.h"

#include "platform/system.h"
#include "text/text_string.h"

namespace kestario {

bool FileExists(const char* path) { return CurrentSystem().AnyFileMatchesA(path); }

bool IsFileDateOnOrAfter(const char* path, const char* date, LocalDate* fileDate, bool* opened) {
  LocalDate file;
  bool readable = CurrentSystem().GetFileLocalDate(path, &file);
  if (opened) *opened = readable;
  if (!readable) return false;
  if (fileDate) *fileDate = file;
  TextString text(date);
  // Each part compares by its low 16 bits as an unsigned number, as the calendar fields are.
  uint16_t year = static_cast<uint16_t>(text.GetToken(0, "/").ToInt());
  uint16_t month = static_cast<uint16_t>(text.GetToken(1, "/").ToInt());
  uint16_t day = static_cast<uint16_t>(text.GetToken(2, "/").ToInt());
  if (file.year != year) return file.year > year;
  if (file.month != month) return file.month > month;
  return file.day >= day;
}

bool HashFile(System& system, const char* path, Sha256Digest* digest, uint64_t* size) {
  FileHandle file = system.CreateFileA(path, FileAccess::kRead);
  if (file == kNoFile) return false;
  bool ok =
      HashReads([&](uint64_t offset, char* buffer, uint32_t wanted,
                    uint32_t* done) { return system.ReadFile(file, offset, buffer, wanted, done); },
                digest, size);
  system.CloseHandle(file);
  return ok;
}

}  // namespace kestario
