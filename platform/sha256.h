// SHA-256 from the platform's own cryptography (CNG's BCryptHash family on Windows, OpenSSL's
// libcrypto on Linux), never from code of ours; and the 64 hexadecimal digits in which a script
// writes one.
#ifndef KESTARIO_PLATFORM_SHA256_H_
#define KESTARIO_PLATFORM_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace kestario {

constexpr size_t kSha256Size = 32;
constexpr size_t kSha256HexLength = 2 * kSha256Size;

struct Sha256Digest {
  uint8_t bytes[kSha256Size];
};

// The digest a file's bytes must have (a pin), and what a call that checks it found: a call given
// one acts only on bytes whose digest is `expected`; on other bytes it does nothing, sets
// `differs` and puts their digest in `found`.
struct ContentPin {
  Sha256Digest expected;
  Sha256Digest found;
  bool differs = false;
};

bool operator==(const Sha256Digest& a, const Sha256Digest& b);
inline bool operator!=(const Sha256Digest& a, const Sha256Digest& b) { return !(a == b); }

// One SHA-256 computed piece by piece. Every call is false when the platform refuses (no memory,
// no provider); a hash that failed once stays failed until Begin.
class Sha256 {
 public:
  Sha256() = default;
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Begin();
  bool Update(const void* bytes, size_t length);
  // The digest of every byte given since Begin; the hash must be begun again after it.
  bool Finish(Sha256Digest* digest);

 private:
  void Release();
  void* state_ = nullptr;  // EVP_MD_CTX (Linux) or BCRYPT_HASH_HANDLE (Windows)
  bool failed_ = false;
};

// The SHA-256 of the bytes that `read(offset, buffer, size, &done)` gives, from offset 0 on,
// until it gives none; false when a read fails (returns false) or memory runs out. `*size` (or
// null) gets their count.
template <typename Read>
bool HashReads(Read read, Sha256Digest* digest, uint64_t* size = nullptr) {
  static constexpr uint32_t kChunk = 1u << 17;
  char* buffer = static_cast<char*>(std::malloc(kChunk));
  Sha256 hash;
  bool ok = buffer != nullptr && hash.Begin();
  uint64_t offset = 0;
  while (ok) {
    uint32_t done = 0;
    ok = read(offset, buffer, kChunk, &done);
    if (!ok || done == 0) break;
    ok = hash.Update(buffer, done);
    offset += done;
  }
  std::free(buffer);
  ok = ok && hash.Finish(digest);
  if (ok && size != nullptr) *size = offset;
  return ok;
}

// Whether `text` of `length` bytes is 64 hexadecimal digits (either letter case); the digest
// they spell goes to `digest`.
bool ParseSha256Hex(const char* text, size_t length, Sha256Digest* digest);
// The digest as 64 lower-case hexadecimal digits and a NUL byte.
void FormatSha256Hex(const Sha256Digest& digest, char text[kSha256HexLength + 1]);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SHA256_H_
