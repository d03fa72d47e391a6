// updater-check --key KEY SCRIPT: whether the script's signature file (SCRIPT.sig) verifies
// against one public key, as the updater checks it under a machine's signature policy.
#ifndef KESTARIO_TOOLS_CHECKER_SIGNATURE_CHECK_H_
#define KESTARIO_TOOLS_CHECKER_SIGNATURE_CHECK_H_

#include <ostream>
#include <string>

namespace kestario {
namespace checker {

// The key text of a public key file: the base64 lines of its first PEM "PUBLIC KEY" block
// joined, or, in a file without one, its one line as the policy's registry value holds it. False
// when the file holds neither.
bool PublicKeyTextOf(const std::string& file, std::string* keyText);

// Checks the signature of `script` against the key in `keyFile` (both paths in the ANSI code
// page, as the updater's calls take them) and says so on `out`:
// exit status 0 when it verifies, 1 when it does not (no signature file, a signature by another
// key or of other bytes, a damaged signature), 2 when the key or the script cannot be read or the
// key file holds no P-256 public key (told on `err`).
int CheckSignatureCommand(const std::string& keyFile, const std::string& script, std::ostream& out,
                          std::ostream& err);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_SIGNATURE_CHECK_H_
