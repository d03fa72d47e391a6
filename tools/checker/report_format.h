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

// One "FILE:LINE: error|warning: text" line per finding, then "FILE: N errors, M warnings".
std::string FormatFindings(const Report& report);

// A JSON array of objects {file, line, severity, section, key, message}, one per finding.
// Bytes that are not UTF-8 are written as \u00XX of their value.
std::string FormatJson(const Report& report);

// Each list with its procedures (name, kind, expanded values), every SWITCH's branches indented
// beneath it and labelled "1:" and "0:".
std::string FormatPlan(const Report& report);

// The plan as a Graphviz digraph: one record node per list, one edge per SWITCH branch.
std::string FormatDot(const Report& report);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_REPORT_FORMAT_H_
