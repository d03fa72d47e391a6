// The kinds of finding of updater-check, each with a rule ID that never changes: editors, CI
// annotations (SARIF, GitHub) and the script's own "disable-next-line" comments name a finding by
// it. A new kind takes the next free number of its hundred; a number is never given again, not
// even when its kind goes away. The table is documented in docs/checker.md.
#ifndef KESTARIO_TOOLS_CHECKER_RULES_H_
#define KESTARIO_TOOLS_CHECKER_RULES_H_

#include "tools/checker/checker.h"

namespace kestario {
namespace checker {

enum class Rule {
  // Errors: the program stops with an error box (KU1xx).
  kMissingKey,         // KU101
  kMissingSection,     // KU102
  kEmptyListItem,      // KU103
  kUnknownMode,        // KU104
  kEmptyProcList,      // KU105
  kEmptyFileList,      // KU106
  kEmptyBranch,        // KU107
  kUnknownBoxType,     // KU108
  kUnknownFlagTarget,  // KU109
  kUnknownSwitchProc,  // KU110
  kBranchLoop,         // KU111
  kTooDeep,            // KU112
  kBadPin,             // KU113
  // Warnings: accepted, but very likely not what was meant (KU2xx).
  kValueTooLarge,         // KU201
  kLineFeedInPath,        // KU202
  kBraceBeforeSymbol,     // KU203
  kUnresolvedRegistry,    // KU204
  kAngleBlockLeftOver,    // KU205
  kUndefinedSymbol,       // KU206
  kEmptyItem,             // KU207
  kCopyCountMismatch,     // KU208
  kParamCountMismatch,    // KU209
  kBatchParameters,       // KU210
  kIsWaitNotNumber,       // KU211
  kRunEndNotNumber,       // KU212
  kUnseenAnswer,          // KU213
  kDateFormat,            // KU214
  kFlagAlwaysZero,        // KU215
  kFlagValue,             // KU216
  kDefineName,            // KU217
  kDefineBuiltIn,         // KU218
  kDefineSecondEquals,    // KU219
  kDefineLineFeed,        // KU220
  kDuplicateSection,      // KU221
  kDuplicateKey,          // KU222
  kUnreachedSection,      // KU223
  kLogFolderMissing,      // KU224
  kLogNotAFile,           // KU225
  kLogIsScriptOrProgram,  // KU226
  kLogIsProcedureFile,    // KU227
  kRollbackNotNumber,     // KU228
  kInUseNotReplace,       // KU229
  kPinCountMismatch,      // KU230
};

struct RuleInfo {
  Rule rule;
  const char* id;  // "KU101"
  Severity severity;
  const char* summary;  // one sentence, the rule's short description in SARIF
};

// Every rule, in the order of their IDs.
extern const RuleInfo kRules[];
extern const size_t kRuleCount;

const RuleInfo& InfoOf(Rule rule);
// The rule of this ID (ASCII case ignored), or null.
const RuleInfo* FindRule(const std::string& id);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_RULES_H_
