// The steps of a signature check with CNG (bcrypt.dll) and the certificate decoders of
// crypt32.dll, both loaded from System32 when the first signature is checked (see
// system_library_win32.h for why they are not imported).
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/sha256.h"
#include "platform/signature.h"
#include "platform/system_library_win32.h"

namespace kestario {
namespace signature_steps {
namespace {

constexpr size_t kHalf = kRawSignatureSize / 2;
// The parameters of an EC key on P-256: its curve's object identifier 1.2.840.10045.3.1.7, as DER.
constexpr uint8_t kP256Parameters[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr size_t kPointSize = 1 + 2 * kHalf;  // an uncompressed point: 0x04, x, y

// The calls of crypt32.dll and bcrypt.dll that a check makes, loaded once for the process.
struct Calls {
  decltype(&CryptDecodeObjectEx) decodeObject = nullptr;
  decltype(&CryptStringToBinaryA) stringToBinary = nullptr;
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
  decltype(&BCryptImportKeyPair) importKeyPair = nullptr;
  decltype(&BCryptVerifySignature) verifySignature = nullptr;
  decltype(&BCryptDestroyKey) destroyKey = nullptr;
};

// The calls into `calls`; false when one of them cannot be had.
bool LoadCalls(Calls* calls) {
  HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
  HMODULE bcrypt = LoadSystemLibrary(L"bcrypt.dll");
  return ResolveCall(crypt32, "CryptDecodeObjectEx", &calls->decodeObject) &&
         ResolveCall(crypt32, "CryptStringToBinaryA", &calls->stringToBinary) &&
         ResolveCall(bcrypt, "BCryptOpenAlgorithmProvider", &calls->openAlgorithmProvider) &&
         ResolveCall(bcrypt, "BCryptCloseAlgorithmProvider", &calls->closeAlgorithmProvider) &&
         ResolveCall(bcrypt, "BCryptImportKeyPair", &calls->importKeyPair) &&
         ResolveCall(bcrypt, "BCryptVerifySignature", &calls->verifySignature) &&
         ResolveCall(bcrypt, "BCryptDestroyKey", &calls->destroyKey);
}

// The calls, loaded once for the process; null when one of them cannot be had.
const Calls* Loaded() { return LoadedOnce(&LoadCalls); }

// The decoded structure of `der` as `type`, for LocalFree; null when it is not one. Bytes after
// the value are ignored, as libcrypto's decoders ignore them.
void* Decode(const char* type, const uint8_t* der, size_t size) {
  const Calls* calls = Loaded();
  if (calls == nullptr || size == 0 || size > UINT_MAX) return nullptr;
  void* decoded = nullptr;
  DWORD decodedSize = 0;
  if (!calls->decodeObject(X509_ASN_ENCODING, type, der, static_cast<DWORD>(size),
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &decodedSize)) {
    return nullptr;
  }
  return decoded;
}

// The uncompressed point of the P-256 key `der` into `point` (kPointSize bytes).
bool P256Point(const uint8_t* der, size_t size, uint8_t* point) {
  auto* info = static_cast<CERT_PUBLIC_KEY_INFO*>(Decode(X509_PUBLIC_KEY_INFO, der, size));
  if (info == nullptr) return false;
  const CRYPT_ALGORITHM_IDENTIFIER& algorithm = info->Algorithm;
  bool p256 = algorithm.pszObjId != nullptr &&
              strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
              algorithm.Parameters.cbData == sizeof kP256Parameters &&
              memcmp(algorithm.Parameters.pbData, kP256Parameters, sizeof kP256Parameters) == 0 &&
              info->PublicKey.cbData == kPointSize && info->PublicKey.cUnusedBits == 0 &&
              info->PublicKey.pbData[0] == 0x04;
  if (p256) memcpy(point, info->PublicKey.pbData, kPointSize);
  LocalFree(info);
  return p256;
}

// One number of CERT_ECC_SIGNATURE (little-endian) into its half of r || s (big-endian).
bool PutHalf(const CRYPT_UINT_BLOB& number, uint8_t* half) {
  DWORD length = number.cbData;
  while (length > kHalf && number.pbData[length - 1] == 0) --length;
  if (length > kHalf) return false;
  memset(half, 0, kHalf);
  for (DWORD i = 0; i < length; ++i) half[kHalf - 1 - i] = number.pbData[i];
  return true;
}

}  // namespace

uint8_t* DecodeBase64(const char* text, size_t length, size_t* size) {
  const Calls* calls = Loaded();
  if (calls == nullptr || length == 0 || length % 4 != 0 || length > UINT_MAX) return nullptr;
  DWORD needed = 0;
  if (!calls->stringToBinary(text, static_cast<DWORD>(length), CRYPT_STRING_BASE64, nullptr,
                             &needed, nullptr, nullptr)) {
    return nullptr;
  }
  auto* bytes = static_cast<uint8_t*>(malloc(needed + 1));
  if (bytes == nullptr) return nullptr;
  if (!calls->stringToBinary(text, static_cast<DWORD>(length), CRYPT_STRING_BASE64, bytes, &needed,
                             nullptr, nullptr)) {
    free(bytes);
    return nullptr;
  }
  *size = needed;
  return bytes;
}

bool IsP256PublicKey(const uint8_t* der, size_t size) {
  uint8_t point[kPointSize];
  return P256Point(der, size, point);
}

bool DerSignatureToRaw(const uint8_t* der, size_t size, uint8_t* raw) {
  auto* signature = static_cast<CERT_ECC_SIGNATURE*>(Decode(X509_ECC_SIGNATURE, der, size));
  if (signature == nullptr) return false;
  bool fits = PutHalf(signature->r, raw) && PutHalf(signature->s, raw + kHalf);
  LocalFree(signature);
  return fits;
}

bool VerifyRawSignature(const uint8_t* keyDer, size_t keySize, const uint8_t* raw,
                        const uint8_t* data, size_t dataSize) {
  uint8_t point[kPointSize];
  if (!P256Point(keyDer, keySize, point)) return false;
  // The key as CNG imports it: the blob header, then x and y.
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kHalf];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kHalf)};
  memcpy(blob, &header, sizeof header);
  memcpy(blob + sizeof header, point + 1, 2 * kHalf);

  Sha256Digest digest;
  Sha256 hash;
  const Calls* calls = Loaded();
  if (calls == nullptr || !hash.Begin() || !hash.Update(data, dataSize) || !hash.Finish(&digest)) {
    return false;
  }

  BCRYPT_ALG_HANDLE ecdsa = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool valid =
      BCRYPT_SUCCESS(
          calls->openAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
      BCRYPT_SUCCESS(calls->importKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                          sizeof blob, 0)) &&
      BCRYPT_SUCCESS(calls->verifySignature(key, nullptr, digest.bytes, sizeof digest.bytes,
                                            const_cast<PUCHAR>(raw), kRawSignatureSize, 0));
  if (key != nullptr) calls->destroyKey(key);
  if (ecdsa != nullptr) calls->closeAlgorithmProvider(ecdsa, 0);
  return valid;
}

}  // namespace signature_steps
}  // namespace kestario
