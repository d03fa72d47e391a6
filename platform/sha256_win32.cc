// SHA-256 through CNG, from bcrypt.dll of System32, loaded when the first hash begins (see
// system_library_win32.h for why it is not imported). One algorithm provider serves the process;
// each Sha256 has its own hash object, its memory given by CNG itself.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "platform/sha256.h"
#include "platform/system_library_win32.h"

namespace kestario {
namespace {

struct CngCalls {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  decltype(&BCryptHashData) hashData = nullptr;
  decltype(&BCryptFinishHash) finishHash = nullptr;
  decltype(&BCryptDestroyHash) destroyHash = nullptr;
  BCRYPT_ALG_HANDLE provider = nullptr;
};

// The calls and the SHA-256 provider, into `calls`; false when they cannot be had.
bool LoadCng(CngCalls* calls) {
  HMODULE dll = LoadSystemLibrary(L"bcrypt.dll");
  return ResolveCall(dll, "BCryptOpenAlgorithmProvider", &calls->openAlgorithmProvider) &&
         ResolveCall(dll, "BCryptCreateHash", &calls->createHash) &&
         ResolveCall(dll, "BCryptHashData", &calls->hashData) &&
         ResolveCall(dll, "BCryptFinishHash", &calls->finishHash) &&
         ResolveCall(dll, "BCryptDestroyHash", &calls->destroyHash) &&
         BCRYPT_SUCCESS(
             calls->openAlgorithmProvider(&calls->provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
}

// The calls and the provider, loaded once for the process; null when they cannot be.
const CngCalls* Cng() { return LoadedOnce(&LoadCng); }

}  // namespace

Sha256::~Sha256() { Release(); }

void Sha256::Release() {
  if (state_ != nullptr) Cng()->destroyHash(static_cast<BCRYPT_HASH_HANDLE>(state_));
  state_ = nullptr;
}

bool Sha256::Begin() {
  Release();
  const CngCalls* cng = Cng();
  BCRYPT_HASH_HANDLE hash = nullptr;
  failed_ = cng == nullptr ||
            !BCRYPT_SUCCESS(cng->createHash(cng->provider, &hash, nullptr, 0, nullptr, 0, 0));
  state_ = failed_ ? nullptr : hash;
  return !failed_;
}

bool Sha256::Update(const void* bytes, size_t length) {
  if (failed_ || state_ == nullptr) return false;
  const UCHAR* next = static_cast<const UCHAR*>(bytes);
  while (length != 0) {
    ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
    if (!BCRYPT_SUCCESS(Cng()->hashData(static_cast<BCRYPT_HASH_HANDLE>(state_),
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
  bool ok = BCRYPT_SUCCESS(Cng()->finishHash(static_cast<BCRYPT_HASH_HANDLE>(state_), digest->bytes,
                                             static_cast<ULONG>(kSha256Size), 0));
  Release();
  failed_ = !ok;
  return ok;
}

}  // namespace kestario
