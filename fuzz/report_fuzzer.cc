// Fuzz target: updater-report's reader and its text and JSON forms on an arbitrary log.
//
// Input: the bytes of a log; its first byte chooses the size of the pieces the log is read in.
// Checked for every input: reading it in pieces gives the same report as reading it whole; the
// counts agree (computers and runs by outcome, lines and skipped lines); the text and the JSON
// are valid UTF-8 and the JSON has no raw control character. And the input, escaped as the log's
// writer escapes a value (LF as \n, CR as \r) and made the value of one framed line of PC-A,
// reads as exactly that line: whatever heads a value holds, it forges no other line or run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/check.h"
#include "tools/report/fleet.h"
#include "tools/report/report_output.h"
#include "tools/report/text_decode.h"

namespace {

using kestario::report::FleetReader;
using kestario::report::FleetReport;
using kestario::report::kOutcomeCount;
using kestario::report::ReportOptions;

FleetReport Read(const std::string& log, size_t piece) {
  FleetReader reader;
  kestario::report::TextSource source(log, piece);
  reader.ReadLog("fuzz.log", &source);
  ReportOptions options;
  options.now.Set("2026-12-08T12:00:00+00:00");
  return reader.Report(options);
}

void CheckCounts(const FleetReport& report) {
  uint64_t computers = 0, runs = 0;
  for (int i = 0; i < kOutcomeCount; ++i) {
    computers += report.computersByOutcome[i];
    runs += report.runsByOutcome[i];
  }
  FUZZ_CHECK(computers == report.computers.size());
  FUZZ_CHECK(runs == report.runs);
  FUZZ_CHECK(report.skipped <= report.lines);
  uint64_t runsOfComputers = 0;
  for (const auto& state : report.computers) runsOfComputers += state.runs;
  FUZZ_CHECK(runsOfComputers == report.runs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = 1 + data[0] % 64;
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);

  FleetReport whole = Read(log, log.size() + 1);
  FleetReport pieces = Read(log, piece);
  CheckCounts(whole);
  std::string text = kestario::report::TextReport(whole);
  std::string json = kestario::report::JsonReport(whole);
  FUZZ_CHECK(text == kestario::report::TextReport(pieces));
  FUZZ_CHECK(json == kestario::report::JsonReport(pieces));
  FUZZ_CHECK(kestario::report::IsValidUtf8(text));
  FUZZ_CHECK(kestario::report::IsValidUtf8(json));
  for (char c : json) FUZZ_CHECK(c == '\n' || static_cast<unsigned char>(c) >= 0x20);

  // The input as the value of one framed line.
  std::string value;
  for (char c : log) {
    if (c == '\n') {
      value += "\\n";
    } else if (c == '\r') {
      value += "\\r";
    } else {
      value += c;
    }
  }
  std::string line =
      "2026-12-08T09:00:00+09:00 PC-A 7 run REMOVE: MODE=\"DELETE\" FILE=\"" + value + "\"";
  line += " #" + std::to_string(line.size()) + "\n";
  FleetReport framed = Read(line, piece);
  FUZZ_CHECK(framed.lines == 1);
  FUZZ_CHECK(framed.skipped == 0);
  FUZZ_CHECK(framed.runs == 0);
  FUZZ_CHECK(framed.computers.size() == 0);
  return 0;
}
