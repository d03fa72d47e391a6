#include "platform/checked_image_win32.h"

#include <cstdlib>

namespace kestario {

bool HashOpenFile(HANDLE file, Sha256Digest* digest) {
  static constexpr DWORD kChunk = 1u << 20;
  char* buffer = static_cast<char*>(malloc(kChunk));
  Sha256 hash;
  bool ok = buffer != nullptr && hash.Begin();
  while (ok) {
    DWORD got = 0;
    ok = ::ReadFile(file, buffer, kChunk, &got, nullptr) != FALSE;
    if (!ok || got == 0) break;
    ok = hash.Update(buffer, got);
  }
  free(buffer);
  return ok && hash.Finish(digest);
}

Handle OpenCheckedImage(const char* path, ContentPin* pin) {
  // FILE_SHARE_READ alone: CreateProcess (which reads and maps the image) and cmd.exe (which reads
  // a batch file) may open it beside us; no writer, no rename and no delete can.
  Handle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  Sha256Digest found;
  if (!file.valid() || !HashOpenFile(file.get(), &found)) return Handle();
  if (found != pin->expected) {
    pin->found = found;
    pin->differs = true;
    return Handle();
  }
  return file;
}

}  // namespace kestario
