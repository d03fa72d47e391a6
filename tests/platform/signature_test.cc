// Signature checks by the platform's cryptography: the accepted forms of one signature, and what
// is refused. The signature was made by `openssl dgst -sha256 -sign` with the key whose public
// half is kKey.
#include "platform/signature.h"

#include <gtest/gtest.h>

#include <string>

#include "support/signing_keys.h"

namespace kestario {
namespace {

const char* const kKey = kTestPublicKey;
const char* const kOtherKey = kOtherTestPublicKey;
// A key of P-384 is an EC public key, but not one of P-256.
const char kP384Key[] =
    "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAE36wlTAe+80O5Ws6upDjjTKpfH7QZIExbmZ3UJgUbWPbrWHGtbEnvz87TsYT4"
    "4IGWtBqUTHyxSYbESClpuz+yqp9/vEXcJ4CivYytNDIe0c/9eFBwS9AKJ6YUNKeWuR7f";
const char kScript[] = "[UPDATER]\r\nNAME=x\r\n";
const char kDerHex[] =
    "304402207b09b83e597ad87b737dda820c07addd5f95461ab94629ae1e51d90e08a52a5f0220250f656a9ec1b9"
    "d55624ab98e4ae366fb531cefb330d344579c3667632536e21";

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

SignatureCheck Check(const std::string& key, const std::string& signature,
                     const std::string& data = kScript) {
  return CheckSignature(key.c_str(), reinterpret_cast<const uint8_t*>(signature.data()),
                        signature.size(), reinterpret_cast<const uint8_t*>(data.data()),
                        data.size());
}

// r || s: the two INTEGERs of the DER form, each without its sign byte (both are 32 bytes here).
std::string Raw(const std::string& der) { return der.substr(4, 32) + der.substr(38, 32); }

TEST(SignatureTest, KeyTextsAreTheBase64OfOneP256Key) {
  EXPECT_TRUE(IsPublicKeyText(kKey));
  EXPECT_TRUE(IsPublicKeyText((std::string(" \t") + kKey + " ").c_str()));
  EXPECT_FALSE(IsPublicKeyText(""));
  EXPECT_FALSE(IsPublicKeyText("not a key"));
  EXPECT_FALSE(IsPublicKeyText((std::string(kKey).substr(0, 40)).c_str()));
  EXPECT_FALSE(IsPublicKeyText((std::string("-----BEGIN PUBLIC KEY-----") + kKey).c_str()));
  EXPECT_FALSE(IsPublicKeyText(kP384Key));
}

TEST(SignatureTest, TheThreeFormsOfOneSignatureVerify) {
  std::string der = FromHex(kDerHex);
  ASSERT_EQ(70u, der.size());
  EXPECT_EQ(SignatureCheck::kValid, Check(kKey, der));
  std::string text = Base64(der);
  EXPECT_EQ(SignatureCheck::kValid, Check(kKey, text));
  // As openssl base64 writes it: lines of 64 characters, each ended by a line feed; or CRLF.
  EXPECT_EQ(SignatureCheck::kValid,
            Check(kKey, text.substr(0, 64) + "\n" + text.substr(64) + "\n"));
  EXPECT_EQ(SignatureCheck::kValid, Check(kKey, " " + text + "\r\n"));
  EXPECT_EQ(SignatureCheck::kValid, Check(kKey, Raw(der)));
  // Bytes after the DER value are ignored, as both platforms' decoders ignore them.
  EXPECT_EQ(SignatureCheck::kValid, Check(kKey, der + "\n"));
}

TEST(SignatureTest, AnotherKeyOrAnotherScriptIsNotSigned) {
  std::string der = FromHex(kDerHex);
  EXPECT_EQ(SignatureCheck::kNotByKey, Check(kOtherKey, der));
  EXPECT_EQ(SignatureCheck::kNotByKey, Check(kOtherKey, Raw(der)));
  EXPECT_EQ(SignatureCheck::kNotByKey, Check(kKey, der, std::string(kScript) + " "));
  EXPECT_EQ(SignatureCheck::kNotByKey, Check(kKey, der, "[UPDATER]\nNAME=x\n"));
  EXPECT_EQ(SignatureCheck::kNotByKey, Check("not a key", der));
  std::string raw = Raw(der);
  EXPECT_EQ(SignatureCheck::kNotByKey, Check(kKey, raw.substr(32) + raw.substr(0, 32)));
}

TEST(SignatureTest, DamagedSignaturesAreNoSignature) {
  std::string der = FromHex(kDerHex);
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, ""));
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, der.substr(0, 40)));
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, der.substr(0, der.size() - 1)));
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, "signed, honestly\n"));
  // Its base64 cut short: no form reads it.
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, Base64(der).substr(0, 60)));
  // 63 and 65 bytes are no raw signature.
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, Raw(der).substr(1)));
  EXPECT_EQ(SignatureCheck::kDamaged, Check(kKey, Raw(der) + "x"));
}

}  // namespace
}  // namespace kestario
