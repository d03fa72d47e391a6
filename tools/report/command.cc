#include "tools/report/command.h"

#include "tools/report/fleet.h"
#include "tools/report/log_files.h"
#include "tools/report/report_output.h"

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

// Writes the HTML page or the CSV to `path`, or says on `err` why it cannot.
bool WriteForm(const std::string& path, const std::string& text, std::string* err) {
  std::string error;
  if (WriteWholeFile(path, text, &error)) return true;
  *err += "updater-report: cannot write " + ShownPath(path) + ": " + error + "\n";
  return false;
}

}  // namespace

std::string UsageText() {
  return "usage: updater-report [--json] [--html FILE] [--csv FILE] LOG|FOLDER...\n"
         "       updater-report --help | --version\n"
         "\n"
         "Reads the run logs that scripts write (key LOG of section UPDATER): one log that many\n"
         "machines share, or one per machine, given as files or as a folder (every file in it,\n"
         "not its sub-folders). Tells where each computer stands: its last run, when it\n"
         "started, by whom, the script, and how it ended. Computers whose last run failed come\n"
         "first.\n"
         "\n"
         "Outcomes: finished; cancelled by the answer to a MSGBOX; stopped by message N (with\n"
         "the text of its error box); stopped; no end line (still running, or killed).\n"
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
         "  -h, --help   print this help\n"
         "  --version    print the version: updater-report X.Y.Z\n"
         "\n"
         "Exit status:\n"
         "  0  every log was read\n"
         "  1  a log could not be read (it is named); the report covers the others\n"
         "  2  a bad command line, or the HTML page or the CSV could not be written\n";
}

int RunReportCommand(const std::vector<std::string>& arguments, std::string* out,
                     std::string* err) {
  bool json = false;
  bool html = false;
  std::string page;
  bool csv = false;
  std::string table;
  std::vector<std::string> paths;
  bool options = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "-h" || argument == "--help")) {
      *out = UsageText();
      return kExitRead;
    } else if (options && argument == "--version") {
      *out = std::string("updater-report ") + KESTARIO_VERSION + "\n";
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
  FleetReport report = reader.Report();
  for (const LogSummary& log : report.logs) {
    if (!log.error.empty())
      *err += "updater-report: cannot read " + log.path + ": " + log.error + "\n";
  }
  if (html && !WriteForm(page, HtmlReport(report), err)) return kExitUsage;
  if (csv && !WriteForm(table, CsvReport(report), err)) return kExitUsage;
  *out = json ? JsonReport(report) : html || csv ? TextTotals(report) : TextReport(report);
  return report.unreadable != 0 ? kExitUnreadable : kExitRead;
}

}  // namespace report
}  // namespace kestario
