// SHA-256 through OpenSSL's libcrypto (EVP), which picks the processor's SHA instructions.
#include <openssl/evp.h>

#include "platform/sha256.h"

namespace kestario {

Sha256::~Sha256() { Release(); }

void Sha256::Release() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_));
  state_ = nullptr;
}

bool Sha256::Begin() {
  Release();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  failed_ = context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;
  state_ = context;
  return !failed_;
}

bool Sha256::Update(const void* bytes, size_t length) {
  if (failed_ || state_ == nullptr) return false;
  if (length != 0 && EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state_), bytes, length) != 1) {
    failed_ = true;
  }
  return !failed_;
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (failed_ || state_ == nullptr) return false;
  unsigned length = 0;
  bool ok = EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state_), digest->bytes, &length) == 1 &&
            length == kSha256Size;
  Release();
  failed_ = !ok;
  return ok;
}

}  // namespace kestario
