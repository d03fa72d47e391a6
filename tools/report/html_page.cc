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
#include <tuple>
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
// most about a hundred bars, and never more than 200), failures at the bottom; each part names its
// count in a tooltip.
std::string OutcomeChart(const std::vector<Point>& points, bool utc) {
  if (points.empty()) return "";
  int64_t first = points[0].seconds, last = first;
  for (const Point& point : points) {
    first = std::min(first, point.seconds);
    last = std::max(last, point.seconds);
  }
  int64_t span = last - first;
  int64_t step = span <= 4 * 86400 ? 3600 : span <= 120 * 86400 ? 86400 : 7 * 86400;
  std::string unit = step == 3600 ? "hour" : step == 86400 ? "day" : "week";
  // Times years apart (a machine whose clock is wrong): whole weeks, at most 200 bars.
  if (span / step > 200) {
    step = (span / 200 / (7 * 86400) + 1) * 7 * 86400;
    unit = Digits(step / (7 * 86400)) + " weeks";
  }
  // Weeks begin on Monday (1970-01-01 was a Thursday).
  int64_t origin = step % (7 * 86400) == 0 ? 4 * 86400 : 0;
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
  // A bucket's start as "2026-12-08 09:00" (or "12-08 09:00" under a bar) for hours,
  // "2026-12-08" (or "12-08") for days and weeks.
  auto label = [&](int64_t bucket, bool full) {
    LogTime start;
    start.known = true;
    start.clock = bucket * step + origin;
    std::string text = start.Text();
    std::string shown = step == 3600 ? text.substr(0, 13) + ":00" : text.substr(0, 10);
    if (!full) return shown.substr(5);
    return step >= 7 * 86400 ? "week of " + shown : shown;
  };

  std::string out = "<figure>\n<svg viewBox=\"0 0 " + number(width) + " " + number(height) +
                    "\" role=\"img\" aria-labelledby=\"chart-title\">\n<title id=\"chart-title\">" +
                    "Last runs per " + unit + ", by outcome</title>\n";
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
    if (outcome == Outcome::kNoRun) continue;
    out += "<li class=\"" + ClassOf(outcome) + "\">" + OutcomeLabel(outcome) + "</li>";
  }
  out += "</ul>The last run of each computer, per " + std::string(unit) + " in which it started (" +
         label(firstBucket, true) + " to " +
         label(firstBucket + static_cast<int64_t>(bars) - 1, true) +
         (utc ? ", UTC" : ", the machines' local times") + ").</figcaption>\n</figure>\n";
  return out;
}

// How many texts of one error message the breakdown shows.
constexpr size_t kTextsShown = 4;

// A breakdown row that, with the script, shows the computers it counts.
std::string BreakdownRow(const std::string& filter, const std::string& rowClass,
                         const std::string& cells, const Counts& counts) {
  return "<tr" + (rowClass.empty() ? std::string() : " class=\"" + rowClass + "\"") +
         " data-filter=\"" + filter + "\">" + cells + "<td class=\"number\">" +
         Number(counts.computers) + "</td><td class=\"number\">" + Number(counts.runs) +
         "</td></tr>\n";
}

std::string Tile(const std::string& tileClass, const std::string& count, const std::string& what) {
  return "<div class=\"tile" + (tileClass.empty() ? "" : " " + tileClass) + "\"><strong>" + count +
         "</strong><span>" + what + "</span></div>\n";
}

std::string TextOf(const MessageText& text) {
  return text.known ? text.text : "(its error line is not in the log)";
}

// A bar of the computers of a breakdown by the outcome of their last run.
std::string OutcomeBar(const uint64_t* computers) {
  uint64_t total = 0;
  for (int o = 0; o < kOutcomeCount; ++o) total += computers[o];
  if (total == 0) return "";
  std::string out = "<svg class=\"bar\" viewBox=\"0 0 100 10\" preserveAspectRatio=\"none\">";
  double x = 0;
  for (int o = 0; o < kOutcomeCount; ++o) {
    if (computers[o] == 0) continue;
    double w = 100.0 * static_cast<double>(computers[o]) / static_cast<double>(total);
    Outcome outcome = static_cast<Outcome>(o);
    char place[64];
    std::snprintf(place, sizeof place, "x=\"%.2f\" y=\"0\" width=\"%.2f\" height=\"10\"", x, w);
    out += "<rect class=\"" + ClassOf(outcome) + "\" " + place + "><title>" + Number(computers[o]) +
           " " + OutcomeLabel(outcome) + "</title></rect>";
    x += w;
  }
  return out + "</svg>";
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
  if (report.now.known) out += " Report of " + Html(report.now.Text()) + ".";
  out += "</p>\n";
  if (report.unreadable != 0) {
    out += "<p>Logs that could not be read:</p>\n<ul>\n";
    for (const LogSummary& log : report.logs) {
      if (!log.error.empty()) out += "<li>" + Html(log.path) + ": " + Html(log.error) + "</li>\n";
    }
    out += "</ul>\n";
  }

  // The summary: the computers, then a tile per outcome.
  out += "<h2>Last run of each computer</h2>\n<div class=\"tiles\">\n";
  out += Tile("", Number(report.computers.size()), "computers");
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    if (outcome == Outcome::kNoRun && report.expected == 0) continue;
    out += Tile(ClassOf(outcome), Number(report.computersByOutcome[o]), OutcomeLabel(outcome));
  }
  if (report.stale != 0) {
    out += Tile(ClassOf(Outcome::kUnfinished), Number(report.stale),
                "stale: their last line over " + Age(report.staleAfter) + " old");
  }
  out += "</div>\n";

  std::vector<Point> points;
  bool offsets = false;
  for (const ComputerState& state : report.computers) {
    const LogTime& time = state.last.firstTime;
    if (state.last.outcome == Outcome::kNoRun || !time.known) continue;
    points.push_back({time.Instant(), state.last.outcome});
    offsets = offsets || time.hasOffset;
  }
  out += OutcomeChart(points, offsets);

  // The breakdowns: by outcome, by script and caption, by error message.
  out +=
      "<div class=\"breakdowns\">\n<section>\n<h2>By outcome</h2>\n<table>\n<thead><tr><th>"
      "Outcome of the last run</th><th class=\"number\">Computers</th><th class=\"number\">"
      "All runs</th></tr></thead>\n<tbody>\n";
  for (int o = 0; o < kOutcomeCount; ++o) {
    Outcome outcome = static_cast<Outcome>(o);
    if (outcome == Outcome::kNoRun && report.expected == 0) continue;
    out += BreakdownRow("o:" + ClassOf(outcome), ClassOf(outcome),
                        "<td>" + std::string(OutcomeLabel(outcome)) + "</td>",
                        {report.computersByOutcome[o], report.runsByOutcome[o]});
  }
  out += "</tbody>\n</table>\n</section>\n";

  out +=
      "<section>\n<h2>By script and caption</h2>\n<table>\n<thead><tr><th>Script, caption and "
      "last runs</th><th class=\"number\">Computers</th><th class=\"number\">All runs</th></tr>"
      "</thead>\n<tbody>\n";
  for (size_t i = 0; i < report.scripts.size(); ++i) {
    const ScriptTotal& total = report.scripts[i];
    out += BreakdownRow("s:" + Digits(static_cast<int64_t>(i)), "",
                        "<td class=\"path\">" + Html(total.known ? total.script : Script(Run())) +
                            "<span class=\"caption\">" + Html(total.caption) + "</span>" +
                            OutcomeBar(total.computersByOutcome) + "</td>",
                        total.counts);
  }
  out += "</tbody>\n</table>\n</section>\n";

  out += "<section class=\"wide\">\n<h2>By error message</h2>\n";
  if (report.messages.empty()) {
    out += "<p>No run stopped at an error message.</p>\n";
  } else {
    out +=
        "<table>\n<thead><tr><th>Message and its texts</th><th class=\"number\">Computers</th>"
        "<th class=\"number\">All runs</th></tr></thead>\n<tbody>\n";
    for (const MessageTotal& total : report.messages) {
      std::string number = Digits(total.message);
      std::string first = total.texts.empty() ? "" : TextOf(total.texts[0]);
      out += BreakdownRow(
          "m:" + number, "",
          "<td class=\"text\"><strong>" + number + "</strong> " + Html(first) + "</td>",
          total.counts);
      // The other texts of the message (they differ by the paths they name).
      size_t shown = std::min<size_t>(total.texts.size(), kTextsShown);
      for (size_t t = 1; t < shown; ++t) {
        out += "<tr class=\"more\"><td class=\"text\">" + Html(TextOf(total.texts[t])) +
               "</td><td class=\"number\">" + Number(total.texts[t].counts.computers) +
               "</td><td class=\"number\">" + Number(total.texts[t].counts.runs) + "</td></tr>\n";
      }
      if (total.texts.size() > shown) {
        out += "<tr class=\"more\"><td colspan=\"3\">and " +
               Plural(total.texts.size() - shown, "other text", "other texts") + "</td></tr>\n";
      }
    }
    out += "</tbody>\n</table>\n";
  }
  out += "</section>\n</div>\n";

  // The expected computers that never reported.
  if (report.expected != 0) {
    uint64_t missing = report.computersByOutcome[static_cast<int>(Outcome::kNoRun)];
    out += "<h2>No run: expected, never reported (" + Number(missing) + " of " +
           Number(report.expected) + ")</h2>\n";
    if (missing != 0) {
      out += "<ul class=\"names\">\n";
      for (const ComputerState& state : report.computers) {
        if (state.last.outcome == Outcome::kNoRun)
          out += "<li>" + Html(state.last.computer) + "</li>";
      }
      out += "\n</ul>\n";
    }
    if (report.unexpected != 0) {
      out += "<p>" + Plural(report.unexpected, "computer", "computers") +
             " reported that the expected list does not name.</p>\n";
    }
  }

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
    if (outcome == Outcome::kNoRun && report.expected == 0) continue;
    out += Option(ClassOf(outcome), OutcomeLabel(outcome));
  }
  out += "</select>\n<select id=\"filter-message\" aria-label=\"Error message\">" +
         Option("", "Every message");
  for (const MessageTotal& total : report.messages) {
    std::string first = total.texts.empty() ? "" : TextOf(total.texts[0]);
    out += Option(Digits(total.message), Html(Digits(total.message) + ": " + Shortened(first, 40)));
  }
  out +=
      "</select>\n<select id=\"filter-script\" aria-label=\"Script\">" + Option("", "Every script");
  std::map<std::tuple<bool, std::string, std::string>, size_t> scriptIndex;
  for (size_t i = 0; i < report.scripts.size(); ++i) {
    const ScriptTotal& total = report.scripts[i];
    scriptIndex[std::make_tuple(total.known, total.script, total.caption)] = i;
    out += Option(Digits(static_cast<int64_t>(i)),
                  Html((total.known ? total.script : Script(Run())) +
                       (total.caption.empty() ? "" : " (" + total.caption + ")")));
  }
  out +=
      "</select>\n<button type=\"button\" id=\"show-all\">Show all</button>\n"
      "<span id=\"shown\" aria-live=\"polite\"></span>\n</div>\n";

  out +=
      "<div class=\"scroll\">\n<table class=\"computers\" id=\"computers\">\n<thead><tr>"
      "<th>Computer</th><th>Outcome</th><th>Last run</th><th>User</th><th>Script</th>"
      "<th>Caption</th><th class=\"number\">Exit code</th><th class=\"number\">Runs</th>"
      "<th>Log</th></tr></thead>\n<tbody>\n";
  for (const ComputerState& state : report.computers) {
    const Run& run = state.last;
    bool ran = run.outcome != Outcome::kNoRun;
    std::string name = ClassOf(run.outcome);
    std::string script;
    if (ran) {
      auto found = scriptIndex.find(std::make_tuple(run.hasStart, run.hasStart ? run.script : "",
                                                    run.hasStart ? run.caption : ""));
      if (found != scriptIndex.end()) script = Digits(static_cast<int64_t>(found->second));
    }
    out += "<tr class=\"" + name + "\" data-o=\"" + name + "\" data-m=\"" +
           (run.outcome == Outcome::kFailed ? Digits(run.message) : "") + "\" data-s=\"" + script +
           "\">";
    // The outcome, then in smaller type the box's text, or the last step of a run without an
    // end line and how long before the report it was logged.
    std::string outcome, more;
    if (run.outcome == Outcome::kFailed && run.hasMessageText) {
      Run bare = run;
      bare.hasMessageText = false;
      outcome = Html(OutcomeText(bare));
      more = Html(run.messageText);
    } else {
      outcome = Html(OutcomeText(run));
    }
    if (run.outcome == Outcome::kUnfinished && run.lastTime.known) {
      more = "last step: " + Html(run.lastStep.empty() ? "-" : run.lastStep) + "\n" + Age(run.age) +
             " before the report" + (run.stale ? ": stale" : "");
    }
    if (!more.empty()) outcome += "<span class=\"more\">" + more + "</span>";
    std::string when = ran && run.firstTime.known
                           ? " data-k=\"" + Digits(run.firstTime.Instant()) + "\""
                           : std::string(" data-k=\"-1e12\"");
    // The outcome sorts in the report's order, failures first.
    out += "<td>" + Html(run.computer) +
           "</td><td class=\"text outcome\" data-label=\"Outcome\" data-k=\"" +
           Digits(static_cast<int>(run.outcome)) + "\">" + outcome +
           "</td><td class=\"when\" data-label=\"Last run\"" + when + ">" +
           (ran ? Html(When(run)) : "") + "</td><td data-label=\"User\">" +
           (ran ? Html(User(run)) : "") + "</td><td class=\"path\" data-label=\"Script\">" +
           (ran ? Html(Script(run)) : "") + "</td><td data-label=\"Caption\">" +
           Html(run.hasStart ? run.caption : "") +
           "</td><td class=\"number\" data-label=\"Exit code\"" +
           (run.hasExitCode ? " data-k=\"" + Digits(run.exitCode) + "\">" + Digits(run.exitCode)
                            : std::string(" data-k=\"-1e12\">")) +
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
