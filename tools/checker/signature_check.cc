#include "tools/checker/signature_check.h"

#include <cstdint>

#include "engine/script_policy.h"
#include "platform/signature.h"
#include "tools/checker/command.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

std::string Trimmed(const std::string& line) {
  size_t begin = line.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin);
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

}  // namespace

bool PublicKeyTextOf(const std::string& file, std::string* keyText) {
  static const char kBegin[] = "-----BEGIN PUBLIC KEY-----";
  static const char kEnd[] = "-----END PUBLIC KEY-----";
  std::string joined;
  bool inBlock = false;
  bool sawBlock = false;
  std::string others;  // the lines outside any block
  size_t lines = 0;
  for (size_t start = 0; start < file.size();) {
    size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    std::string line = Trimmed(file.substr(start, end - start));
    start = end + 1;
    if (line == kBegin && !sawBlock) {
      inBlock = sawBlock = true;
    } else if (line == kEnd && inBlock) {
      inBlock = false;
    } else if (inBlock) {
      joined += line;
    } else if (!line.empty()) {
      others = line;
      ++lines;
    }
  }
  if (!sawBlock) {
    if (lines != 1) return false;
    joined = others;
  }
  *keyText = joined;
  return IsPublicKeyText(joined.c_str());
}

int CheckSignatureCommand(const std::string& keyFile, const std::string& script, std::ostream& out,
                          std::ostream& err) {
  std::string keyBytes;
  std::string problem;
  if (!ReadScriptFile(keyFile, &keyBytes, &problem)) {
    err << "updater-check: cannot read the key " << keyFile << ": " << problem << "\n";
    return kExitUnreadable;
  }
  std::string key;
  if (!PublicKeyTextOf(keyBytes, &key)) {
    err << "updater-check: " << keyFile << " holds no P-256 public key (a PEM \"PUBLIC KEY\")\n";
    return kExitUnreadable;
  }
  std::string scriptBytes;
  if (!ReadScriptFile(script, &scriptBytes, &problem)) {
    err << "updater-check: cannot read " << script << ": " << problem << "\n";
    return kExitUnreadable;
  }
  std::string signaturePath = script + kSignatureSuffix;
  std::string signature;
  if (!ReadScriptFile(signaturePath, &signature, &problem)) {
    out << script << ": not signed: " << signaturePath << ": " << problem << "\n";
    return kExitErrors;
  }
  switch (CheckSignature(key.c_str(), Bytes(signature), signature.size(), Bytes(scriptBytes),
                         scriptBytes.size())) {
    case SignatureCheck::kValid:
      out << script << ": the signature in " << signaturePath << " verifies against " << keyFile
          << "\n";
      return kExitClean;
    case SignatureCheck::kNotByKey:
      out << script << ": the signature in " << signaturePath << " is not by " << keyFile
          << ", or not of these bytes\n";
      return kExitErrors;
    case SignatureCheck::kDamaged:
      break;
  }
  out << script << ": " << signaturePath
      << " is no signature (neither DER, nor DER in base64, nor 64 bytes r || s)\n";
  return kExitErrors;
}

}  // namespace checker
}  // namespace kestario
