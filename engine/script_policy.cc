#include "engine/script_policy.h"

#include <cstring>

#include "engine/run_state.h"
#include "platform/files.h"
#include "platform/signature.h"
#include "platform/system.h"
#include "settings/messages.h"

namespace kestario {
namespace {

// The reasons of a refusal, as message 13 and the event name them.
const char* const kNoSignature = "no signature file";
const char* const kScriptUnreadable = "the script could not be read";
const char* const kSignatureUnreadable = "the signature file could not be read";
const char* const kNotTrusted = "a signature by no trusted key";
const char* const kDamaged = "a damaged signature";
const char* const kNoKey = "the policy trusts no key";
const char* const kOthersCanWrite = "the registry can be changed by other users";
const char* const kPolicyUnreadable = "the policy could not be read";

// A signature file larger than this holds no signature in any form.
constexpr uint64_t kLargestSignature = 64 * 1024;

ScriptPolicyState& State() { return CurrentRun().policy; }

// The policy's keys into `keys`, one a line, and how many values the key holds; a value that is
// not a key counts as no key. Null when it was read whole (`*values` 0: there is no policy), or
// the reason to refuse.
const char* ReadPolicy(TextString* keys, int* values) {
  System& system = CurrentSystem();
  *values = 0;
  RegistryHandle key = kNoRegistryHandle;
  long opened =
      system.RegOpenKeyExA(kLocalMachine, kScriptPolicyKey, kKeyRead | kKeyWow6464Key, &key);
  if (opened == kErrorFileNotFound) return nullptr;
  if (opened != kErrorSuccess) return kPolicyUnreadable;
  const char* reason = nullptr;
  for (uint32_t index = 0; reason == nullptr; ++index) {
    TextString name;
    TextString data;
    uint32_t type = 0;
    long status = system.RegEnumValueA(key, index, &name, &type, &data);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) {
      reason = kPolicyUnreadable;
      break;
    }
    ++*values;
    if (type != kRegSz || !IsPublicKeyText(data.GetConstText())) continue;
    if (!keys->AppendText(data.GetConstText()) || !keys->AppendText("\n")) {
      reason = kPolicyUnreadable;
    }
  }
  system.RegCloseKey(key);
  return reason;
}

// The signature file's bytes into `signature`; null, or the reason to refuse.
const char* ReadSignature(const char* path, ByteBuffer* signature) {
  if (!FileExists(path)) return kNoSignature;
  System& system = CurrentSystem();
  FileHandle file = system.CreateFileA(path, FileAccess::kRead);
  if (file == kNoFile) return kSignatureUnreadable;
  uint64_t size = 0;
  const char* reason = nullptr;
  if (!system.GetFileSizeEx(file, &size)) {
    reason = kSignatureUnreadable;
  } else if (size > kLargestSignature) {
    reason = kDamaged;
  } else if (!signature->Allocate(static_cast<uint32_t>(size))) {
    reason = kSignatureUnreadable;
  } else {
    uint32_t done = 0;
    char* bytes = reinterpret_cast<char*>(signature->GetData());
    for (uint32_t at = 0; at < size && reason == nullptr; at += done) {
      if (!system.ReadFile(file, at, bytes + at, static_cast<uint32_t>(size) - at, &done) ||
          done == 0) {
        reason = kSignatureUnreadable;
      }
    }
  }
  system.CloseHandle(file);
  return reason;
}

bool Refuse(const TextString& scriptPath, const char* reason) {
  State().refusedBecause = reason;
  ReportError(kMsgScriptRefused, scriptPath.GetConstText(), reason);
  return false;
}

}  // namespace

void ScriptPolicyState::Reset() {
  ReleaseScript();
  refusedBecause = nullptr;
}

const char* SignatureRefusal(const ByteBuffer& script, const ByteBuffer& signature,
                             const char* keys) {
  const char* reason = kNoKey;
  for (const char* line = keys; *line != '\0' && reason != nullptr;) {
    const char* end = strchr(line, '\n');
    if (end == nullptr) end = line + strlen(line);
    TextString key(line);
    if (key.GetLength() < end - line) return kScriptUnreadable;  // no memory for the copy
    key.GetText()[end - line] = '\0';
    switch (CheckSignature(key.GetConstText(), signature.GetConstData(), signature.GetSize(),
                           script.GetConstData(), script.GetSize())) {
      case SignatureCheck::kValid:
        reason = nullptr;
        break;
      case SignatureCheck::kNotByKey:
        reason = kNotTrusted;
        break;
      case SignatureCheck::kDamaged:
        return kDamaged;
    }
    line = *end == '\n' ? end + 1 : end;
  }
  return reason;
}

bool AcceptScriptByPolicy(const TextString& scriptPath) {
  ScriptPolicyState& state = State();
  state.Reset();
  TextString keys;
  int values = 0;
  const char* reason = ReadPolicy(&keys, &values);
  // A registry that others could change might have had its policy taken away: it trusts nothing,
  // whatever it holds.
  if (CurrentSystem().RegistryWritableByOthers()) reason = kOthersCanWrite;
  if (reason == nullptr && values == 0) return true;  // no policy: nothing more is asked
  if (reason == nullptr && keys.GetLength() == 0) reason = kNoKey;
  if (reason != nullptr) return Refuse(scriptPath, reason);

  // The script is read once, and held so that the run reads these bytes and no others.
  ByteBuffer script;
  if (!state.heldPath.SetText(scriptPath.GetConstText()) ||
      !CurrentSystem().HoldPrivateProfileA(scriptPath.GetConstText(), &script)) {
    return Refuse(scriptPath, kScriptUnreadable);
  }
  state.held = true;
  TextString signaturePath(scriptPath);
  ByteBuffer signature;
  if (signaturePath.GetLength() != scriptPath.GetLength() ||
      !signaturePath.AppendText(kSignatureSuffix)) {
    reason = kScriptUnreadable;
  } else {
    reason = ReadSignature(signaturePath.GetConstText(), &signature);
  }
  if (reason == nullptr) reason = SignatureRefusal(script, signature, keys.GetConstText());
  if (reason == nullptr) return true;
  ReleaseScript();
  return Refuse(scriptPath, reason);
}

const char* ScriptRefusal() { return State().refusedBecause; }

void ReleaseScript() {
  ScriptPolicyState& state = State();
  if (!state.held) return;
  CurrentSystem().ReleasePrivateProfileA(state.heldPath.GetConstText());
  state.held = false;
}

}  // namespace kestario
