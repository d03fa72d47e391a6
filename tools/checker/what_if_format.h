// The ways updater-check --what-if shows a predicted run: numbered steps ending in one line
// ("would finish", "would stop at [SECTION] with message N: TEXT", "would stop: the user answers
// SECTION=ANSWER", or with --unseen "would stop: UNSEEN answers SECTION=ANSWER"), then the exit
// code ("exit code N") and the event of EVENTLOG, if any; and the same as a JSON object.
#ifndef KESTARIO_TOOLS_CHECKER_WHAT_IF_FORMAT_H_
#define KESTARIO_TOOLS_CHECKER_WHAT_IF_FORMAT_H_

#include <string>

#include "tools/checker/what_if.h"

namespace kestario {
namespace checker {

// The end line, without its line feed.
std::string WhatIfEndLine(const WhatIfReport& report);
// "exit code N", without its line feed.
std::string WhatIfExitLine(const WhatIfReport& report);

std::string FormatWhatIf(const WhatIfReport& report);

// {file, steps: [{number, depth, list, section, mode, values: [[key, value]...], events: [{kind,
// text, succeeds, uncertain}], branch, outcome, flag, uncertain}], boxes: [{step, caption, kind,
// text, answer, message, shown}], deleted, created, replaced, launched, uncertain, end: {result
// ("finish", "error" or "answer"), section, message, text, unseen, line}, exit_code, event: null
// or {type ("Information", "Warning" or "Error"), id}}
std::string FormatWhatIfJson(const WhatIfReport& report);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_WHAT_IF_FORMAT_H_
