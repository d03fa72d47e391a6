// What the run log's file calls cost per line, without the rest of a run: COUNT lines of about
// 100 bytes appended to FILE through the system layer, in three ways, each timed in batches of
// 1,000 lines (the fastest batch is printed, the one least disturbed by other load):
//
//   reopen   CreateFileA (append only), WriteFile at the end, CloseHandle: a line as the log
//            wrote it when it opened its file for every line
//   held     WriteFile at the end on one handle kept open
//   locked   on one handle: LockFileEx, GetFileSizeEx, ReadFile of the last byte, WriteFile at the
//            end, UnlockFileEx: a line as the log writes it now
//
// usage: append_baseline FILE COUNT      (the Windows build is append_baseline.exe; FILE is made
//                                         afresh for each way and removed at the end)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace {

using kestario::FileHandle;
constexpr int kBatch = 1000;
constexpr uint64_t kLockOffset = uint64_t{1} << 62;  // where the run log takes its lock
const char kLine[] =
    "2026-12-08 09:30:05 PC-417 4242 E: exists \"C:\\Deploy\\data\\some-file-name-00000.dat\" "
    "and a little more\r\n";

bool AppendOne(kestario::System& system, const char* path, FileHandle held, int way) {
  uint32_t done = 0;
  uint32_t length = sizeof kLine - 1;
  if (way == 0) {
    FileHandle file = system.CreateFileA(path, kestario::FileAccess::kAppend);
    bool ok = file != kestario::kNoFile &&
              system.WriteFile(file, kestario::kFileEnd, kLine, length, &done);
    if (file != kestario::kNoFile) system.CloseHandle(file);
    return ok;
  }
  if (way == 1) return system.WriteFile(held, kestario::kFileEnd, kLine, length, &done);
  bool ok = system.LockFileEx(held, kestario::kLockExclusive, kLockOffset, 1);
  uint64_t size = 0;
  char last = 0;
  ok = ok && system.GetFileSizeEx(held, &size) &&
       (size == 0 || system.ReadFile(held, size - 1, &last, 1, &done)) &&
       system.WriteFile(held, kestario::kFileEnd, kLine, length, &done);
  return system.UnlockFileEx(held, kLockOffset, 1) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: append_baseline FILE COUNT\n");
    return 2;
  }
  const char* path = argv[1];
  int count = std::atoi(argv[2]);
  kestario::System& system = kestario::CurrentSystem();
  const char* names[] = {"reopen", "held", "locked"};
  for (int way = 0; way < 3; ++way) {
    system.DeleteFileA(path);
    FileHandle held = system.CreateFileA(path, kestario::FileAccess::kReadWrite);
    if (held == kestario::kNoFile) return 1;
    double fastest = 1e9;
    for (int done = 0; done < count; done += kBatch) {
      auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kBatch; ++i) {
        if (!AppendOne(system, path, held, way)) return 1;
      }
      std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
      if (took.count() / kBatch < fastest) fastest = took.count() / kBatch;
    }
    system.CloseHandle(held);
    std::printf("%-6s %.1f us per line\n", names[way], fastest);
  }
  system.DeleteFileA(path);
  return 0;
}
