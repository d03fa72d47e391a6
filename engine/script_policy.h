// The machine's signature policy for scripts. When the key kScriptPolicyKey below
// HKEY_LOCAL_MACHINE holds values, each a public key (platform/signature.h), the program runs only
// a script that a signature file beside it (the script's name plus ".sig") signs by one of those
// keys; a script the policy does not accept is not read at all. The machine decides, not the
// script: without the key nothing of this is asked, and a script runs as it always has.
#ifndef KESTARIO_ENGINE_SCRIPT_POLICY_H_
#define KESTARIO_ENGINE_SCRIPT_POLICY_H_

#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {

// Where the policy is kept (the 64-bit view of the registry; on Linux the registry file).
constexpr const char* kScriptPolicyKey = "SOFTWARE\\Policies\\Kestario\\Updater";
// What a signature file's name adds to the script's.
constexpr const char* kSignatureSuffix = ".sig";

// The policy's part of the run state (engine/run_state.h).
struct ScriptPolicyState {
  const char* refusedBecause = nullptr;  // why the script was refused; null when it was not
  bool held = false;                     // the script's bytes are held for the run
  TextString heldPath;                   // the script held

  // Lets go of the script held, and forgets a refusal.
  void Reset();
};

// Asks the machine's policy about the script at `scriptPath`, before any of it is read. True when
// the machine has no policy, or when the script is signed by a key the policy trusts: the script's
// bytes are then held for the run (ProfileCalls::HoldPrivateProfileA), so the script read is the
// one whose signature was checked. False when the policy refuses it: message 13 is shown with the
// script and the reason, and the run must read nothing of the script; the run's end then gives
// exit code 1603 and writes the refusal's event whatever the script would have asked.
bool AcceptScriptByPolicy(const TextString& scriptPath);

// Why the run's script was refused, or null when it was not.
const char* ScriptRefusal();

// Lets go of the script that AcceptScriptByPolicy held (when the run ends).
void ReleaseScript();

// The reason a signature file of `signature` gives to refuse the script `script`, with the keys
// `keys` trusts (key texts, one a line): null when one of them signed it.
const char* SignatureRefusal(const ByteBuffer& script, const ByteBuffer& signature,
                             const char* keys);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_SCRIPT_POLICY_H_
