#include "tools/checker/rules.h"

#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

const RuleInfo kRules[] = {
    {Rule::kMissingKey, "KU101", Severity::kError,
     "A key the procedure needs is missing, written without \"=\", or no_data (message 2)."},
    {Rule::kMissingSection, "KU102", Severity::kError,
     "A section that a list names or the program reads does not exist (message 2)."},
    {Rule::kEmptyListItem, "KU103", Severity::kError,
     "An item of a procedure list is empty (message 2)."},
    {Rule::kUnknownMode, "KU104", Severity::kError,
     "MODE names none of the seven procedure kinds (message 6)."},
    {Rule::kEmptyProcList, "KU105", Severity::kError, "UPDATER's PROC list is empty (message 4)."},
    {Rule::kEmptyFileList, "KU106", Severity::kError, "A FILE or FROM list is empty (message 4)."},
    {Rule::kEmptyBranch, "KU107", Severity::kError,
     "A SWITCH branch is empty: when it is chosen the program stops (message 4)."},
    {Rule::kUnknownBoxType, "KU108", Severity::kError,
     "A MSGBOX TYPE other than ERROR, INFORMATION, WARNING, QUESTION (message 6)."},
    {Rule::kUnknownFlagTarget, "KU109", Severity::kError,
     "A MSGBOX FLAG names no procedure of its own list (message 6)."},
    {Rule::kUnknownSwitchProc, "KU110", Severity::kError,
     "A SWITCH PROC names no procedure of its own list (message 6)."},
    {Rule::kBranchLoop, "KU111", Severity::kError,
     "A SWITCH branch leads back into a list that is already running (message 3)."},
    {Rule::kTooDeep, "KU112", Severity::kError,
     "The SWITCH branches nest deeper than the program's limit of lists (message 3)."},
    {Rule::kBadPin, "KU113", Severity::kError,
     "A HASH item is not 64 hexadecimal digits, so the item fails (message 2)."},
    {Rule::kValueTooLarge, "KU201", Severity::kWarning,
     "The expanded value would pass 256 MB, so it reads as empty."},
    {Rule::kLineFeedInPath, "KU202", Severity::kWarning,
     "A \\n in a path or parameter becomes a line feed."},
    {Rule::kBraceBeforeSymbol, "KU203", Severity::kWarning,
     "A {?App\\...} block names a symbol, which is expanded only after brace blocks."},
    {Rule::kUnresolvedRegistry, "KU204", Severity::kWarning,
     "The registry of this machine cannot resolve a {?App\\...} or {?AppPath\\...} block."},
    {Rule::kAngleBlockLeftOver, "KU205", Severity::kWarning,
     "A defined symbol stays as written: the angle pass ran out of attempts."},
    {Rule::kUndefinedSymbol, "KU206", Severity::kWarning,
     "An angle block has no definition and stays as written."},
    {Rule::kEmptyItem, "KU207", Severity::kWarning,
     "An empty item (a stray comma) in a file list."},
    {Rule::kCopyCountMismatch, "KU208", Severity::kWarning,
     "COPY's FROM and TO have different numbers of items."},
    {Rule::kParamCountMismatch, "KU209", Severity::kWarning,
     "LAUNCH's FILE and PARAM have different numbers of items."},
    {Rule::kBatchParameters, "KU210", Severity::kWarning,
     "On Windows a batch file cannot be given these parameters (message 9)."},
    {Rule::kIsWaitNotNumber, "KU211", Severity::kWarning, "ISWAIT is not a number: it reads as 0."},
    {Rule::kRunEndNotNumber, "KU212", Severity::kWarning,
     "EXITCODE or EVENTLOG is not a number: it reads as 0."},
    {Rule::kUnseenAnswer, "KU213", Severity::kWarning,
     "UNSEEN is not OK, YES or NO, or names no button of its box."},
    {Rule::kDateFormat, "KU214", Severity::kWarning, "A DATE not written year/month/day."},
    {Rule::kFlagAlwaysZero, "KU215", Severity::kWarning,
     "A FLAG or SWITCH PROC reads a flag that is always 0 at that point."},
    {Rule::kFlagValue, "KU216", Severity::kWarning,
     "A MSGBOX FLAG compares with a value other than 0 or 1: the box never appears."},
    {Rule::kDefineName, "KU217", Severity::kWarning,
     "A DEFINE name not written in angle brackets."},
    {Rule::kDefineBuiltIn, "KU218", Severity::kWarning, "A DEFINE of the built-in <Win> or <Src>."},
    {Rule::kDefineSecondEquals, "KU219", Severity::kWarning,
     "A DEFINE value with a second \"=\": the value ends there."},
    {Rule::kDefineLineFeed, "KU220", Severity::kWarning,
     "A DEFINE value holding \\n, a line feed wherever it is used."},
    {Rule::kDuplicateSection, "KU221", Severity::kWarning,
     "A second section of a name: the program reads only the first."},
    {Rule::kDuplicateKey, "KU222", Severity::kWarning,
     "A second key of a name in a section: the program reads only the first."},
    {Rule::kUnreachedSection, "KU223", Severity::kWarning, "No list reaches this section."},
    {Rule::kLogFolderMissing, "KU224", Severity::kWarning,
     "The run log's folder does not exist on this machine."},
    {Rule::kLogNotAFile, "KU225", Severity::kWarning, "The run log names something not a file."},
    {Rule::kLogIsScriptOrProgram, "KU226", Severity::kWarning,
     "The run log is the script or the program itself."},
    {Rule::kLogIsProcedureFile, "KU227", Severity::kWarning,
     "The run log is a file that a procedure deletes, copies, starts or reads."},
    {Rule::kRollbackNotNumber, "KU228", Severity::kWarning,
     "ROLLBACK is not a number: nothing is kept and a run that stops is not undone."},
    {Rule::kInUseNotReplace, "KU229", Severity::kWarning,
     "COPY's INUSE is not REPLACE: it reads as absent."},
    {Rule::kPinCountMismatch, "KU230", Severity::kWarning,
     "HASH has more items than FROM or FILE: the extra pins pin nothing."},
};

const size_t kRuleCount = sizeof kRules / sizeof kRules[0];

const RuleInfo& InfoOf(Rule rule) { return kRules[static_cast<size_t>(rule)]; }

const RuleInfo* FindRule(const std::string& id) {
  for (const RuleInfo& info : kRules) {
    if (EqualNoCase(id, info.id)) return &info;
  }
  return nullptr;
}

}  // namespace checker
}  // namespace kestario
