#include "platform/signature.h"

#include <cstdlib>
#include <cstring>

namespace kestario {
namespace {

using namespace signature_steps;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsWhite(char c) { return IsBlank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

// The key's DER from its text, for the caller to free(); null when the text is no base64.
uint8_t* KeyDer(const char* text, size_t* size) {
  while (IsBlank(*text)) ++text;
  size_t length = strlen(text);
  while (length > 0 && IsBlank(text[length - 1])) --length;
  for (size_t i = 0; i < length; ++i) {
    if (!IsBase64(text[i])) return nullptr;
  }
  return length == 0 ? nullptr : DecodeBase64(text, length, size);
}

// A signature file that is base64 text: its DER, for the caller to free(); null when the bytes
// are not base64 text (white space aside) or memory runs out.
uint8_t* DerFromText(const uint8_t* bytes, size_t size, size_t* derSize) {
  char* text = static_cast<char*>(malloc(size + 1));
  if (text == nullptr) return nullptr;
  size_t length = 0;
  for (size_t i = 0; i < size; ++i) {
    char c = static_cast<char>(bytes[i]);
    if (IsWhite(c)) continue;
    if (!IsBase64(c)) {
      free(text);
      return nullptr;
    }
    text[length++] = c;
  }
  text[length] = '\0';
  uint8_t* der = length == 0 ? nullptr : DecodeBase64(text, length, derSize);
  free(text);
  return der;
}

}  // namespace

bool IsPublicKeyText(const char* text) {
  size_t size = 0;
  uint8_t* der = KeyDer(text, &size);
  bool isKey = der != nullptr && IsP256PublicKey(der, size);
  free(der);
  return isKey;
}

SignatureCheck CheckSignature(const char* keyText, const uint8_t* signature, size_t signatureSize,
                              const uint8_t* data, size_t dataSize) {
  // Every form that the bytes read as, r || s each: DER, raw, DER in base64 text.
  uint8_t forms[2][kRawSignatureSize];
  int count = 0;
  if (DerSignatureToRaw(signature, signatureSize, forms[count])) ++count;
  if (signatureSize == kRawSignatureSize) memcpy(forms[count++], signature, kRawSignatureSize);
  if (count == 0) {
    size_t derSize = 0;
    uint8_t* der = DerFromText(signature, signatureSize, &derSize);
    if (der != nullptr && DerSignatureToRaw(der, derSize, forms[count])) ++count;
    free(der);
  }
  if (count == 0) return SignatureCheck::kDamaged;
  size_t keySize = 0;
  uint8_t* key = KeyDer(keyText, &keySize);
  bool valid = false;
  if (key != nullptr && IsP256PublicKey(key, keySize)) {
    for (int i = 0; i < count && !valid; ++i) {
      valid = VerifyRawSignature(key, keySize, forms[i], data, dataSize);
    }
  }
  free(key);
  return valid ? SignatureCheck::kValid : SignatureCheck::kNotByKey;
}

}  // namespace kestario
