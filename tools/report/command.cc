#include "tools/report/command.h"

#include "tools/console/arguments.h"
#include "tools/report/fleet.h"
#include "tools/report/log_files.h"
#include "tools/report/report_output.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

// Reads one log file, or notes why it cannot be read.
void ReadOne(const std::string& path, FleetReader* reader) {
  LogFile file;
  std::string error;
  if (!file.Open(path, &error)) {
    reader->AddUnreadable(ShownPath(path), error);
  } else {
    reader->ReadLog(ShownPath(path), &file);
  }
}

// The computer names of an expected list: one a line (LF, CR LF or CR), spaces around a name and
// empty lines ignored, each line UTF-8 (or code page 932, as the logs).
bool ReadExpected(const std::string& path, std::vector<std::string>* names, std::string* error) {
  LogFile file;
  if (!file.Open(path, error)) return false;
  std::string bytes;
  char block[65536];
  for (;;) {
    int64_t got = file.Read(block, sizeof block, error);
    if (got < 0) return false;
    if (got == 0) break;
    bytes.append(block, static_cast<size_t>(got));
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    size_t first = bytes.find_first_not_of(" \t", start);
    size_t last = bytes.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
    if (first != std::string::npos && first < end && last != std::string::npos && last >= first) {
      names->push_back(Decoded(std::string_view(bytes).substr(first, last + 1 - first)));
    }
    start = end + 1;
  }
  return true;
}

// Hours as a number of seconds: digits with an optional fraction ("24", "0.5").
bool TakeHours(const std::string& text, int64_t* seconds) {
  size_t at = 0;
  double hours = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    hours = hours * 10 + (text[at++] - '0');
    if (hours > 1e6) return false;
  }
  size_t whole = at;
  if (at < text.size() && text[at] == '.') {
    double scale = 0.1;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      hours += (text[at] - '0') * scale;
      scale /= 10;
    }
  }
  if (at != text.size() || (whole == 0 && at <= 1)) return false;
  *seconds = static_cast<int64_t>(hours * 3600 + 0.5);
  return true;
}

// Writes the HTML page or the CSV to `path`, or says on `err` why it cannot.
bool WriteForm(const std::string& path, const std::string& text, std::string* err) {
  std::string error;
  if (WriteWholeFile(path, text, &error)) return true;
  *err += "updater-report: cannot write " + ShownPath(path) + ": " + error + "\n";
  return false;
}

}  // namespace

std::string UsageText() {
  return "usage: updater-report [--json] [--html FILE] [--csv FILE] [--expect FILE]\n"
         "                      [--stale HOURS] LOG|FOLDER...\n"
         "       updater-report --help | --version | -V\n"
         "An option's value may also be joined to it: --html=FILE.\n"
         "\n"
         "Reads the run logs that scripts write (key LOG of section UPDATER): one log that many\n"
         "machines share, or one per machine, given as files or as a folder (every file in it,\n"
         "not its sub-folders). Tells where each computer stands: its last run, when it\n"
         "started, by whom, the script, and how it ended. Computers whose last run failed come\n"
         "first.\n"
         "\n"
         "Outcomes: finished; cancelled by the answer to a MSGBOX; stopped by message N (with\n"
         "the text of its error box); stopped; no end line (still running, or killed: its\n"
         "last step and how long ago); no run (expected, never reported). Totals per outcome,\n"
         "per error message and per script and caption.\n"
         "Logs are UTF-8 (CR LF from Windows, LF from Linux); the code page 932 logs of earlier\n"
         "Windows releases are read too, line by line. A torn or foreign line is skipped and\n"
         "counted. The report is UTF-8 (UTF-16 to a Windows console).\n"
         "\n"
         "Options:\n"
         "  --json       print the report as JSON instead of text\n"
         "  --html FILE  also write the report as one self-contained HTML page to FILE;\n"
         "               the text printed is then only the totals\n"
         "  --csv FILE   also write one row per computer (its last run) to FILE as CSV;\n"
         "               the text printed is then only the totals\n"
         "  --expect FILE  the computers that should report, one name a line: those\n"
         "               without a run in the logs are listed as \"no run\"\n"
         "  --stale HOURS  a run without an end line whose last line is older than\n"
         "               this counts as stale (killed or hung); default 24\n"
         "  -h, --help   print this help\n"
         "  -V, --version\n"
         "               print the version: updater-report X.Y.Z\n"
         "\n"
         "Exit status:\n"
         "  0  every log was read\n"
         "  1  a log could not be read (it is named); the report covers the others\n"
         "  2  a bad command line, the expected list could not be read, or the HTML\n"
         "     page or the CSV could not be written\n";
}

int RunReportCommand(const std::vector<std::string>& arguments, std::string* out,
                     std::string* err) {
  return RunReportCommand(
      arguments, [&](const std::string& piece) { *out += piece; }, err);
}

int RunReportCommand(const std::vector<std::string>& given, const ReportWriter& write,
                     std::string* err) {
  // Every option that takes a value, also written --OPTION=VALUE.
  const std::vector<std::string> arguments =
      console::SplitOptionValues(given, {"--html", "--csv", "--expect", "--stale"});
  bool json = false;
  bool html = false;
  std::string page;
  bool csv = false;
  std::string table;
  std::vector<std::string> paths;
  ReportOptions reportOptions;
  bool options = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "-h" || argument == "--help")) {
      write(UsageText());
      return kExitRead;
    } else if (options && (argument == "--version" || argument == "-V")) {
      write(std::string("updater-report ") + KESTARIO_VERSION + "\n");
      return kExitRead;
    } else if (options && argument == "--json") {
      json = true;
    } else if (options && argument == "--html") {
      if (i + 1 == arguments.size()) {
        *err = "updater-report: --html needs a FILE\n" + UsageText();
        return kExitUsage;
      }
      html = true;
      page = arguments[++i];
    } else if (options && argument == "--csv") {
      if (i + 1 == arguments.size()) {
        *err = "updater-report: --csv needs a FILE\n" + UsageText();
        return kExitUsage;
      }
      csv = true;
      table = arguments[++i];
    } else if (options && argument == "--expect") {
      if (i + 1 == arguments.size()) {
        *err = "updater-report: --expect needs a FILE\n" + UsageText();
        return kExitUsage;
      }
      std::string error;
      const std::string& list = arguments[++i];
      if (!ReadExpected(list, &reportOptions.expected, &error)) {
        *err = "updater-report: cannot read " + ShownPath(list) + ": " + error + "\n";
        return kExitUsage;
      }
    } else if (options && argument == "--stale") {
      if (i + 1 == arguments.size() || !TakeHours(arguments[i + 1], &reportOptions.staleAfter)) {
        *err = "updater-report: --stale needs a number of HOURS\n" + UsageText();
        return kExitUsage;
      }
      ++i;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      *err = "updater-report: unknown option " + ShownPath(argument) + "\n" + UsageText();
      return kExitUsage;
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.empty()) {
    *err = "updater-report: no log given\n" + UsageText();
    return kExitUsage;
  }

  FleetReader reader;
  for (const std::string& path : paths) {
    if (!IsFolder(path)) {
      ReadOne(path, &reader);
      continue;
    }
    std::vector<std::string> files;
    std::string error;
    if (!ListFolder(path, &files, &error)) {
      reader.AddUnreadable(ShownPath(path), error);
      continue;
    }
    if (files.empty()) *err += "updater-report: no files in " + ShownPath(path) + "\n";
    for (const std::string& file : files) ReadOne(file, &reader);
  }
  FleetReport report = reader.Report(reportOptions);
  for (const LogSummary& log : report.logs) {
    if (!log.error.empty())
      *err += "updater-report: cannot read " + log.path + ": " + log.error + "\n";
  }
  if (html && !WriteForm(page, HtmlReport(report), err)) return kExitUsage;
  if (csv && !WriteForm(table, CsvReport(report), err)) return kExitUsage;
  if (json) {
    WriteJsonReport(report, write);
  } else if (html || csv) {
    write(TextTotals(report));
  } else {
    WriteTextReport(report, write);
  }
  return report.unreadable != 0 ? kExitUnreadable : kExitRead;
}

}  // namespace report
}  // namespace kestario
