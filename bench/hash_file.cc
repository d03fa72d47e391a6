// The program's SHA-256 of one file, as a pinned COPY hashes a destination that may be current
// (HashFile through the real system: CreateFileA, ReadFile, the platform's hash). Prints the hash
// and the file's path, as `sha256sum` does; pin_cost.py times it against `openssl dgst -sha256`.
#include <cstdio>

#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hash_file FILE\n");
    return 2;
  }
  kestario::Sha256Digest digest;
  if (!kestario::HashFile(kestario::RealSystem(), argv[1], &digest)) {
    std::fprintf(stderr, "hash_file: cannot read %s\n", argv[1]);
    return 1;
  }
  char text[kestario::kSha256HexLength + 1];
  kestario::FormatSha256Hex(digest, text);
  std::printf("%s  %s\n", text, argv[1]);
  return 0;
}
