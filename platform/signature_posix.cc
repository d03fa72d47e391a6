// The steps of a signature check with OpenSSL's libcrypto.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/signature.h"

namespace kestario {
namespace signature_steps {
namespace {

// The key of `der`, when it is one P-256 public key; null otherwise. Bytes after the value are
// ignored (as CNG's decoders ignore them), here and in a DER signature.
EVP_PKEY* ReadP256Key(const uint8_t* der, size_t size) {
  if (size > LONG_MAX) return nullptr;
  const unsigned char* at = der;
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &at, static_cast<long>(size));
  if (key == nullptr) return nullptr;
  char group[64] = "";
  bool p256 = EVP_PKEY_is_a(key, "EC") &&
              EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
              OBJ_txt2nid(group) == NID_X9_62_prime256v1;
  if (!p256) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return key;
}

}  // namespace

uint8_t* DecodeBase64(const char* text, size_t length, size_t* size) {
  if (length == 0 || length % 4 != 0 || length > INT_MAX) return nullptr;
  auto* bytes = static_cast<uint8_t*>(malloc(length / 4 * 3 + 1));
  if (bytes == nullptr) return nullptr;
  int decoded = EVP_DecodeBlock(bytes, reinterpret_cast<const unsigned char*>(text),
                                static_cast<int>(length));
  // EVP_DecodeBlock counts the padding as zero bytes: take them off again.
  int padding = (text[length - 1] == '=') + (text[length - 2] == '=');
  if (decoded < padding) {
    free(bytes);
    return nullptr;
  }
  *size = static_cast<size_t>(decoded - padding);
  return bytes;
}

bool IsP256PublicKey(const uint8_t* der, size_t size) {
  EVP_PKEY* key = ReadP256Key(der, size);
  EVP_PKEY_free(key);
  return key != nullptr;
}

bool DerSignatureToRaw(const uint8_t* der, size_t size, uint8_t* raw) {
  if (size > LONG_MAX) return false;
  const unsigned char* at = der;
  ECDSA_SIG* signature = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(size));
  if (signature == nullptr) return false;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(signature, &r, &s);
  constexpr int kHalf = kRawSignatureSize / 2;
  bool fits = BN_num_bytes(r) <= kHalf && BN_num_bytes(s) <= kHalf &&
              BN_bn2binpad(r, raw, kHalf) == kHalf && BN_bn2binpad(s, raw + kHalf, kHalf) == kHalf;
  ECDSA_SIG_free(signature);
  return fits;
}

bool VerifyRawSignature(const uint8_t* keyDer, size_t keySize, const uint8_t* raw,
                        const uint8_t* data, size_t dataSize) {
  EVP_PKEY* key = ReadP256Key(keyDer, keySize);
  if (key == nullptr) return false;
  // The raw form as DER, the form libcrypto verifies.
  constexpr int kHalf = kRawSignatureSize / 2;
  ECDSA_SIG* signature = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(raw, kHalf, nullptr);
  BIGNUM* s = BN_bin2bn(raw + kHalf, kHalf, nullptr);
  unsigned char* der = nullptr;
  int derSize = -1;
  if (signature != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(signature, r, s)) {
    r = s = nullptr;  // the signature owns them now
    derSize = i2d_ECDSA_SIG(signature, &der);
  }
  BN_free(r);
  BN_free(s);
  ECDSA_SIG_free(signature);
  bool valid = false;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (derSize > 0 && context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1) {
    valid = EVP_DigestVerify(context, der, static_cast<size_t>(derSize), data, dataSize) == 1;
  }
  EVP_MD_CTX_free(context);
  OPENSSL_free(der);
  EVP_PKEY_free(key);
  return valid;
}

}  // namespace signature_steps
}  // namespace kestario
