// The ways updater-check shows a report: compiler-style lines, a JSON array, the plan of the
// lists the script can run as an indented tree, and the same plan as a Graphviz digraph.
#ifndef KESTARIO_TOOLS_CHECKER_REPORT_FORMAT_H_
#define KESTARIO_TOOLS_CHECKER_REPORT_FORMAT_H_

#include <string>

#include "tools/checker/checker.h"

namespace kestario {
namespace checker {

// A text in the ANSI code page as a JSON string, in UTF-8; bytes that are still not UTF-8 are
// written as \u00XX of their value.
std::string JsonString(const std::string& ansiText);
// A UTF-8 text as a JSON string, bytes that are not UTF-8 written as \u00XX.
std::string JsonUtf8String(const std::string& text);

// A text in the ANSI code page in UTF-8; bytes that are not text of it are kept as they are.
std::string AnsiToUtf8(const std::string& ansiText);

// One "FILE:LINE: error|warning: text [RULE]" line per finding, then "FILE: N errors, M
// warnings". UTF-8, as are the SARIF and GitHub forms (the report's file name is UTF-8 already,
// its texts are converted from the ANSI code page).
std::string FormatFindings(const Report& report);

// A JSON array of objects {file, line, column, severity, rule, section, key, message}, one per
// finding; column is null when the finding has none. Bytes that are not UTF-8 are written as
// \u00XX of their value.
std::string FormatJson(const Report& report);

// A SARIF 2.1.0 log of one run: the tool with every rule, each finding a result with its rule,
// level, message and place (the script's URI, line and column in Unicode code points); the
// findings that the script silences come last, with an "inSource" suppression.
std::string FormatSarif(const Report& report);

// One GitHub Actions workflow command per finding, "::error file=F,line=L,col=C,title=RULE::text"
// (or ::warning), escaped as the runner reads them, then the line of counts. UTF-8.
std::string FormatGithub(const Report& report);

// Each list with its procedures (name, kind, expanded values), every SWITCH's branches indented
// beneath it and labelled "1:" and "0:".
std::string FormatPlan(const Report& report);

// The plan as a Graphviz digraph: one record node per list, one edge per SWITCH branch.
std::string FormatDot(const Report& report);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_REPORT_FORMAT_H_
