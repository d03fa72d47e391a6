// The fleet report as one HTML page: a small console that needs nothing but the file. Its style
// and script (page.css, page.js) are inline and named by their SHA-256 in the page's
// Content-Security-Policy, so that nothing else runs, not even a text a log smuggles in; the
// chart is SVG drawn here, and the whole table is in the page, so it reads with scripts off.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/report/page_assets.h"
#include "tools/report/report_output.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

// UTF-8 `text` for HTML text or an attribute value: & < > " ' as character references, line
// breaks kept (the cells that hold texts keep them), other control characters written out as
// in the text form.
std::string Html(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t from = 0;
  while (from <= text.size()) {
    size_t to = text.find('\n', from);
    if (to == std::string::npos) to = text.size();
    std::string piece(text, from, to - from);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    for (char c : Visible(piece)) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&#39;";
          break;
        default:
          out.push_back(c);
      }
    }
    if (to == text.size()) break;
    out += '\n';
    from = to + 1;
  }
  return out;
}

// The base64 form of the bytes written in hexadecimal by `hex`, as a Content-Security-Policy
// source names a hash.
std::string Base64OfHex(std::string_view hex) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
  }
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = bytes[i] << 16;
    if (i + 1 < bytes.size()) group |= bytes[i + 1] << 8;
    if (i + 2 < bytes.size()) group |= bytes[i + 2];
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += i + 1 < bytes.size() ? kDigits[group >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return out;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2));
}

// The seconds since 1970 of a log's "YYYY-MM-DD HH:MM:SS", read as UTC; false when it is none.
bool Seconds(std::string_view time, int64_t* seconds) {
  if (time.size() < 19) return false;
  int field[6];
  const size_t at[6] = {0, 5, 8, 11, 14, 17};
  const size_t width[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    field[i] = 0;
    for (size_t j = 0; j < width[i]; ++j) {
      char c = time[at[i] + j];
      if (c < '0' || c > '9') return false;
      field[i] = field[i] * 10 + (c - '0');
    }
  }
  if (field[1] < 1 || field[1] > 12 || field[2] < 1 || field[2] > 31) return false;
  *seconds = DaysFromCivil(field[0], field[1], field[2]) * 86400 + field[3] * 3600 + field[4] * 60 +
             field[5];
  return true;
}

std::string Digits(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  return text;
}

// The outcomes' class names, in the order of Outcome.
std::string ClassOf(Outcome outcome) { return OutcomeName(outcome); }

// A point of the chart: when a run started, and how it ended.
struct Point {
  int64_t seconds;
  Outcome outcome;
};

// The chart of outcomes over time: one stacked bar per hour, day or week (whichever gives at
// most about a hundred bars), failures at the bottom; each part names its count in a tooltip.
std::string OutcomeChart(std::vector<Point> points, const char* what) {
  if (points.empty()) return "";
  int64_t first = points[0].seconds, last = first;
  for (const Point& point : points) {
    first = std::min(first, point.seconds);
    last = std::max(last, point.seconds);
  }
  int64_t span = last - first;
  int64_t step = span <= 4 * 86400 ? 3600 : span <= 120 * 86400 ? 86400 : 7 * 86400;
  const char* unit = step == 3600 ? "hour" : step == 86400 ? "day" : "week";
  // Weeks begin on Monday (1970-01-01 was a Thursday).
  int64_t origin = step == 7 * 86400 ? 4 * 86400 : 0;
  auto bucketOf = [&](int64_t seconds) {
    int64_t shifted = seconds - origin;
    return (shifted >= 0 ? shifted : shifted - step + 1) / step;
  };
  int64_t firstBucket = bucketOf(first);
  size_t bars = static_cast<size_t>(bucketOf(last) - firstBucket + 1);
  std::vector<std::vector<uint64_t>> counts(bars, std::vector<uint64_t>(kOutcomeCount, 0));
  for (const Point& point : points) {
    ++counts[static_cast<size_t>(bucketOf(point.seconds) - firstBucket)]
            [static_cast<int>(point.outcome)];
  }
  uint64_t highest = 1;
  for (const auto& bar : counts) {
    uint64_t total = 0;
    for (uint64_t count : bar) total += count;
    highest = std::max(highest, total);
  }
  // A scale of 1, 2 or 5 times a power of ten, with four or five lines.
  uint64_t tick = 1;
  for (uint64_t power = 1;; power *= 10) {
    if (power * 4 >= highest) {
      tick = power;
      break;
    }
    if (power * 2 * 4 >= highest) {
      tick = power * 2;
      break;
    }
    if (power * 5 * 4 >= highest) {
      tick = power * 5;
      break;
    }
  }
  uint64_t top = (highest + tick - 1) / tick * tick;

  const double width = 720, height = 256, left = 60, right = 8, above = 16, below = 34;
  const double plotWidth = width - left - right, plotHeight = height - above - below;
  const double slot = plotWidth / static_cast<double>(bars);
  auto number = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return std::string(text);
  };
  auto label = [&](int64_t bucket, bool full) {
    int64_t start = bucket * step + origin;
    int year, month, day;
    CivilFromDays(start >= 0 ? start / 86400 : (start - 86399) / 86400, &year, &month, &day);
    char text[32];
    if (step == 3600) {
      int hour = static_cast<int>((start % 86400 + 86400) % 86400 / 3600);
      if (full) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:00", year, month, day, hour);
      } else {
        std::snprintf(text, sizeof text, "%02d-%02d %02d:00", month, day, hour);
      }
    } else if (full) {
      std::snprintf(text, sizeof text, "%s%04d-%02d-%02d", step == 86400 ? "" : "week of ", year,
                    month, day);
    } else {
      std::snprintf(text, sizeof text, "%02d-%02d", month, day);
    }
    return std::string(text);
  };

  std::string out = "<figure>\n<svg viewBox=\"0 0 " + number(width) + " " + number(height) +
                    "\" role=\"img\" aria-labelledby=\"chart-title\">\n<title id=\"chart-title\">" +
                    std::string(what) + " per " + unit + ", by outcome</title>\n";
  for (uint64_t value = 0; value <= top; value += tick) {
    double y = above + plotHeight - plotHeight * static_cast<double>(value) / top;
    out += "<line class=\"grid\" x1=\"" + number(left) + "\" y1=\"" + number(y) + "\" x2=\"" +
           number(width - right) + "\" y2=\"" + number(y) + "\"/><text x=\"" + number(left - 6) +
           "\" y=\"" + number(y + 4) + "\" text-anchor=\"end\">" + Number(value) + "</text>\n";
  }
  for (size_t i = 0; i < bars; ++i) {
    double x = left + slot * static_cast<double>(i) + slot * 0.1;
    double y = above + plotHeight;
    std::string when = label(firstBucket + static_cast<int64_t>(i), true);
    for (int o = 0; o < kOutcomeCount; ++o) {
      uint64_t count = counts[i][o];
      if (count == 0) continue;
      double h = plotHeight * static_cast<double>(count) / top;
      y -= h;
      Outcome outcome = static_cast<Outcome>(o);
      out += "<rect class=\"" + ClassOf(outcome) + "\" x=\"" + number(x) + "\" y=\"" + number(y) +
             "\" width=\"" + number(slot * 0.8) + "\" height=\"" + number(h) + "\"><title>" + when +
             ": " + Number(count) + " " + OutcomeLabel(outcome) + "</title></rect>\n";
    }
  }
  // About eight labels below the bars; every other one is left out at phone width, where the
  // style draws them larger.
  size_t every = std::max<size_t>(1, (bars + 7) / 8);
  for (size_t i = 0; i < bars; i += every) {
    out += "<text x=\"" + number(left + slot * (static_cast<double>(i) + 0.5)) + "\" y=\"" +
           number(height - below + 20) + "\" text-anchor=\"middle\"" +
           (i / every % 2 == 1 ? " class=\"minor\"" : "") + ">" +
           label(firstBucket + static_cast<int64_t>(i), false) + "</text>\n";
  }
  out += "<line class=\"axis\" x1=\"" + number(left) + "\" y1=\"" + number(above + plotHeight) +
         "\" x2=\"" + number(width - right) + "\" y2=\"" + number(above + plotHeight) + "\"/>\n";
  out += "</svg>\n<figcaption><ul class=\"legend\">";
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    out += "<li class=\"" + ClassOf(outcome) + "\">" + OutcomeLabel(outcome) + "</li>";
  }
  out += "</ul>" + std::string(what) + " per " + unit + " (" + label(firstBucket, true) + " to " +
         label(firstBucket + static_cast<int64_t>(bars) - 1, true) +
         "), by the time they started as the logs hold it.</figcaption>\n</figure>\n";
  return out;
}

// A count of computers and of runs.
struct Tally {
  uint64_t computers = 0;
  uint64_t runs = 0;
};

// A breakdown row that, with the script, shows the computers it counts.
std::string BreakdownRow(const std::string& filter, const std::string& cells, const Tally& tally) {
  return "<tr data-filter=\"" + filter + "\">" + cells + "<td class=\"number\">" +
         Number(tally.computers) + "</td></tr>\n";
}

std::string Option(const std::string& value, const std::string& text) {
  return "<option value=\"" + value + "\">" + text + "</option>";
}

// A text cut to about `limit` characters for a drop-down list.
std::string Shortened(const std::string& text, size_t limit) {
  std::string flat;
  size_t characters = 0;
  for (size_t at = 0; at < text.size() && characters < limit; ++characters) {
    size_t before = at;
    uint32_t c = NextCodePoint(text, &at);
    if (c == '\n' || c == '\r') {
      if (!flat.empty() && flat.back() != ' ') flat += ' ';
    } else {
      flat.append(text, before, at - before);
    }
    if (at < text.size() && characters + 1 == limit) flat += "\xE2\x80\xA6";
  }
  return flat;
}

}  // namespace

std::string HtmlReport(const FleetReport& report) {
  const std::string styleHash = Base64OfHex(kPageStyleSha256);
  const std::string scriptHash = Base64OfHex(kPageScriptSha256);
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      // Nothing from elsewhere, and no script or style but the page's own two.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'sha256-" +
      styleHash + "'; script-src 'sha256-" + scriptHash +
      "'; base-uri 'none'; form-action 'none'\">\n"
      "<meta name=\"referrer\" content=\"no-referrer\">\n"
      "<title>Kestario Updater: fleet report</title>\n<style>" +
      kPageStyle + "</style>\n</head>\n<body>\n<h1>Kestario Updater: fleet report</h1>\n";

  // The facts of the reading.
  uint64_t read = report.logs.size() - report.unreadable;
  out += "<p class=\"facts\">" + Number(read) + " " + (read == 1 ? "log" : "logs") + " read, " +
         Plural(report.computers.size(), "computer", "computers") + ", " +
         Plural(report.runs, "run", "runs") + ", " + Plural(report.lines, "line", "lines") + ".";
  out += "</p>\n";
  if (report.unreadable != 0) {
    out += "<p>Logs that could not be read:</p>\n<ul>\n";
    for (const LogSummary& log : report.logs) {
      if (!log.error.empty()) out += "<li>" + Html(log.path) + ": " + Html(log.error) + "</li>\n";
    }
    out += "</ul>\n";
  }

  // The summary: a tile per outcome with its computers and runs.
  out += "<h2>Last run of each computer</h2>\n<div class=\"tiles\">\n";
  out += "<div class=\"tile\"><b>" + Number(report.computers.size()) +
         "</b><span>computers</span></div>\n";
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    out += "<div class=\"tile " + ClassOf(outcome) + "\"><b>" +
           Number(report.computersByOutcome[o]) + "</b><span>" + OutcomeLabel(outcome) +
           "</span></div>\n";
  }
  out += "</div>\n";

  std::vector<Point> points;
  for (const ComputerState& state : report.computers) {
    int64_t seconds;
    if (Seconds(state.last.firstTime.View(), &seconds)) {
      points.push_back({seconds, state.last.outcome});
    }
  }
  out += OutcomeChart(points, "Last runs");

  // The breakdowns: by outcome, by message, by script and caption.
  std::map<int, std::pair<std::string, Tally>> messages;
  std::vector<std::pair<std::pair<std::string, std::string>, Tally>> scripts;
  std::vector<size_t> scriptOf(report.computers.size());
  for (size_t i = 0; i < report.computers.size(); ++i) {
    const Run& run = report.computers[i].last;
    if (run.outcome == Outcome::kFailed) {
      auto& entry = messages[run.message];
      if (entry.first.empty() && run.hasMessageText) entry.first = run.messageText;
      ++entry.second.computers;
    }
    std::pair<std::string, std::string> key(Script(run), run.hasStart ? run.caption : "");
    size_t at = 0;
    while (at < scripts.size() && scripts[at].first != key) ++at;
    if (at == scripts.size()) scripts.push_back({key, Tally()});
    ++scripts[at].second.computers;
    scriptOf[i] = at;
  }

  out +=
      "<div class=\"breakdowns\">\n<section>\n<h2>By outcome</h2>\n<table>\n<thead><tr><th>"
      "Outcome of the last run</th><th class=\"number\">Computers</th><th class=\"number\">"
      "All runs</th></tr></thead>\n<tbody>\n";
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    out += "<tr class=\"" + ClassOf(outcome) + "\" data-filter=\"o:" + ClassOf(outcome) +
           "\"><td>" + OutcomeLabel(outcome) + "</td><td class=\"number\">" +
           Number(report.computersByOutcome[o]) + "</td><td class=\"number\">" +
           Number(report.runsByOutcome[o]) + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n</section>\n";

  out +=
      "<section>\n<h2>By script and caption</h2>\n<table>\n<thead><tr><th>Script</th><th>"
      "Caption</th><th class=\"number\">Computers</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < scripts.size(); ++i) {
    out += BreakdownRow("s:" + Digits(static_cast<int64_t>(i)),
                        "<td class=\"path\">" + Html(scripts[i].first.first) + "</td><td>" +
                            Html(scripts[i].first.second) + "</td>",
                        scripts[i].second);
  }
  out += "</tbody>\n</table>\n</section>\n";
  out += "<section class=\"wide\">\n<h2>By error message</h2>\n";
  if (messages.empty()) {
    out += "<p>No last run stopped at an error message.</p>\n";
  } else {
    out +=
        "<table>\n<thead><tr><th>Message</th><th>Text</th><th class=\"number\">Computers</th>"
        "</tr></thead>\n<tbody>\n";
    for (const auto& entry : messages) {
      out += BreakdownRow("m:" + Digits(entry.first),
                          "<td class=\"number\">" + Digits(entry.first) +
                              "</td><td class=\"text\">" + Html(entry.second.first) + "</td>",
                          entry.second.second);
    }
    out += "</tbody>\n</table>\n";
  }
  out += "</section>\n";

  out += "</div>\n";

  if (report.skipped != 0) {
    out += "<h2>Lines skipped, torn or foreign</h2>\n<ul>\n";
    for (const LogSummary& log : report.logs) {
      if (log.skipped != 0) out += "<li>" + Html(log.path) + ": " + Number(log.skipped) + "</li>\n";
    }
    out += "</ul>\n";
  }

  // The table, with its controls (shown by the script).
  out +=
      "<h2>Computers</h2>\n<div class=\"controls\" id=\"controls\" hidden>\n"
      "<input type=\"search\" id=\"search\" placeholder=\"Search\" aria-label=\"Search the "
      "table\">\n<select id=\"filter-outcome\" aria-label=\"Outcome\">" +
      Option("", "Every outcome");
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    out += Option(ClassOf(outcome), OutcomeLabel(outcome));
  }
  out += "</select>\n<select id=\"filter-message\" aria-label=\"Error message\">" +
         Option("", "Every message");
  for (const auto& entry : messages) {
    out += Option(Digits(entry.first),
                  Html(Digits(entry.first) + ": " + Shortened(entry.second.first, 40)));
  }
  out +=
      "</select>\n<select id=\"filter-script\" aria-label=\"Script\">" + Option("", "Every script");
  for (size_t i = 0; i < scripts.size(); ++i) {
    std::string caption = scripts[i].first.second;
    out += Option(Digits(static_cast<int64_t>(i)),
                  Html(scripts[i].first.first + (caption.empty() ? "" : " (" + caption + ")")));
  }
  out +=
      "</select>\n<button type=\"button\" id=\"show-all\">Show all</button>\n"
      "<span id=\"shown\" aria-live=\"polite\"></span>\n</div>\n";

  out +=
      "<div class=\"scroll\">\n<table class=\"computers\" id=\"computers\">\n<thead><tr>"
      "<th>Computer</th><th>Outcome</th><th>Last run</th><th>User</th><th>Script</th>"
      "<th>Caption</th><th class=\"number\">Runs</th><th>Log</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < report.computers.size(); ++i) {
    const ComputerState& state = report.computers[i];
    const Run& run = state.last;
    std::string name = ClassOf(run.outcome);
    out += "<tr class=\"" + name + "\" data-o=\"" + name + "\" data-m=\"" +
           (run.outcome == Outcome::kFailed ? Digits(run.message) : "") + "\" data-s=\"" +
           Digits(static_cast<int64_t>(scriptOf[i])) + "\">";
    int64_t seconds;
    std::string key =
        Seconds(run.firstTime.View(), &seconds) ? " data-k=\"" + Digits(seconds) + "\"" : "";
    out += "<td>" + Html(run.computer) + "</td><td class=\"text outcome\" data-label=\"Outcome\">" +
           Html(OutcomeText(run)) + "</td><td class=\"when\" data-label=\"Last run\"" + key + ">" +
           Html(When(run)) + "</td><td data-label=\"User\">" + Html(User(run)) +
           "</td><td class=\"path\" data-label=\"Script\">" + Html(Script(run)) +
           "</td><td data-label=\"Caption\">" + Html(run.hasStart ? run.caption : "") +
           "</td><td class=\"number\" data-label=\"Runs\" data-k=\"" +
           Digits(static_cast<int64_t>(state.runs)) + "\">" + Number(state.runs) +
           "</td><td class=\"path\" data-label=\"Log\">" + Html(LogPath(report, run)) +
           "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n</div>\n<script>" + std::string(kPageScript) +
         "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace report
}  // namespace kestario
