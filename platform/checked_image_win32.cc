#include "platform/checked_image_win32.h"

namespace kestario {

bool HashOpenFile(HANDLE file, Sha256Digest* digest) {
  return HashReads(
      [file](uint64_t, char* buffer, uint32_t wanted, uint32_t* done) {
        DWORD got = 0;
        bool read = ::ReadFile(file, buffer, wanted, &got, nullptr) != FALSE;
        *done = got;
        return read;
      },
      digest);
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
