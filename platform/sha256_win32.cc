// SHA-256 through CNG (bcrypt.dll of System32): one algorithm provider for the process, one hash
// object per Sha256, its memory given by CNG itself.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "platform/sha256.h"

namespace kestario {
namespace {

// The provider, opened once and kept for the process (CNG's own advice); null when it cannot be.
BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE provider = nullptr;
  static bool tried = false;
  if (!tried) {
    tried = true;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      provider = nullptr;
    }
  }
  return provider;
}

}  // namespace

Sha256::~Sha256() { Release(); }

void Sha256::Release() {
  if (state_ != nullptr) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(state_));
  state_ = nullptr;
}

bool Sha256::Begin() {
  Release();
  BCRYPT_ALG_HANDLE provider = Provider();
  BCRYPT_HASH_HANDLE hash = nullptr;
  failed_ = provider == nullptr ||
            !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
  state_ = failed_ ? nullptr : hash;
  return !failed_;
}

bool Sha256::Update(const void* bytes, size_t length) {
  if (failed_ || state_ == nullptr) return false;
  const UCHAR* next = static_cast<const UCHAR*>(bytes);
  while (length != 0) {
    ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
    if (!BCRYPT_SUCCESS(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state_),
                                       const_cast<UCHAR*>(next), piece, 0))) {
      failed_ = true;
      return false;
    }
    next += piece;
    length -= piece;
  }
  return true;
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (failed_ || state_ == nullptr) return false;
  bool ok = BCRYPT_SUCCESS(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(state_), digest->bytes,
                                            static_cast<ULONG>(kSha256Size), 0));
  Release();
  failed_ = !ok;
  return ok;
}

}  // namespace kestario
