// Signatures of files, checked by the platform's own cryptography: ECDSA on the curve P-256 with
// SHA-256, keys and signatures in the forms that standard tools write, so that no program of ours
// is needed to sign. Linux: OpenSSL's libcrypto; Windows: CNG (bcrypt.dll) and the certificate
// decoders of crypt32.dll. Nothing here shows anything or touches a file.
#ifndef KESTARIO_PLATFORM_SIGNATURE_H_
#define KESTARIO_PLATFORM_SIGNATURE_H_

#include <cstddef>
#include <cstdint>

namespace kestario {

// What a signature check found.
enum class SignatureCheck {
  kValid,     // a signature of exactly these bytes by this key
  kNotByKey,  // a well-formed signature, but not of these bytes by this key (or no key at all)
  kDamaged,   // not a signature in any accepted form
};

// Whether `text` is one P-256 public key as the body of a PEM "PUBLIC KEY" block holds it: the
// base64 text of its SubjectPublicKeyInfo on one line. Blanks (spaces, tabs) around the text are
// allowed; the PEM lines "-----BEGIN ..." and "-----END ..." are not part of it.
bool IsPublicKeyText(const char* text);

// Checks `signature` (`signatureSize` bytes as read from a signature file) of `data` against the
// key `keyText` (as IsPublicKeyText reads it). Accepted forms: the DER ECDSA-Sig-Value that
// `openssl dgst -sha256 -sign` writes; that DER as base64 text, with any white space and line
// breaks between and around its characters; and 64 bytes r || s, big-endian (IEEE P1363, as
// .NET's ECDsa.SignData writes it). A file of 64 bytes that also reads as DER is tried both ways.
// Bytes after a DER value are ignored, as the platforms' decoders ignore them.
// A key text that is no key gives kNotByKey; memory that runs out gives kNotByKey too (the
// signature is then not accepted, which is the safe side).
SignatureCheck CheckSignature(const char* keyText, const uint8_t* signature, size_t signatureSize,
                              const uint8_t* data, size_t dataSize);

// The size of the raw form r || s.
constexpr size_t kRawSignatureSize = 64;

// The steps that each build answers with its platform's calls (signature_posix.cc,
// signature_win32.cc); CheckSignature (signature.cc) puts them together.
namespace signature_steps {

// Decodes base64 `text` of `length` characters (the base64 alphabet and "=" padding only, a
// multiple of 4) into a new block of `*size` bytes, for the caller to free(); null on failure.
uint8_t* DecodeBase64(const char* text, size_t length, size_t* size);
// Whether `der` begins with a SubjectPublicKeyInfo of one P-256 key (what follows is ignored).
bool IsP256PublicKey(const uint8_t* der, size_t size);
// The DER ECDSA-Sig-Value at the start of `der` (r and s each at most 32 bytes; what follows is
// ignored) as r || s in `raw` (kRawSignatureSize bytes). False when it is no such value.
bool DerSignatureToRaw(const uint8_t* der, size_t size, uint8_t* raw);
// Whether `raw` (r || s) is a signature of the SHA-256 of `data` by the P-256 key `keyDer`.
bool VerifyRawSignature(const uint8_t* keyDer, size_t keySize, const uint8_t* raw,
                        const uint8_t* data, size_t dataSize);

}  // namespace signature_steps
}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SIGNATURE_H_
