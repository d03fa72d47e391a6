#include "tools/checker/report_format.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "platform/encoding.h"
#include "text/byte_buffer.h"
#include "tools/checker/rules.h"

namespace kestario {
namespace checker {
namespace {

const char* SeverityName(Severity severity) {
  return severity == Severity::kError ? "error" : "warning";
}

std::string Counted(int count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string HexByte(unsigned char byte, const char* prefix) {
  char text[8];
  std::snprintf(text, sizeof text, "%s%02X", prefix, byte);
  return text;
}

// The length of the UTF-8 sequence at `at`, or 0 when the bytes there are not one.
size_t Utf8Length(const std::string& text, size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansiText) {
  ByteBuffer utf8;
  if (!ValidAnsiToUtf8(ansiText.data(), static_cast<uint32_t>(ansiText.size()), &utf8)) {
    return ansiText;
  }
  return std::string(reinterpret_cast<const char*>(utf8.GetConstData()), utf8.GetSize());
}

std::string JsonString(const std::string& ansiText) {
  // The texts are the script's bytes, in the ANSI code page (code page 932 on a Japanese
  // Windows); JSON is UTF-8.
  return JsonUtf8String(AnsiToUtf8(ansiText));
}

std::string JsonUtf8String(const std::string& text) {
  // What is not UTF-8 is escaped byte by byte.
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += HexByte(c, "\\u00");
    } else if (c >= 0x80) {
      size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += HexByte(c, "\\u00");
      } else {
        out += text.substr(i, length);
        i += length;
        continue;
      }
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + "\"";
}

namespace {

std::string ListLabel(const PlanList& list) { return "[" + list.section + "] " + list.key; }

// An empty item names the section with the empty name.
std::string ShownName(const PlanProcedure& procedure) {
  return procedure.name.empty() ? "\"\"" : procedure.name;
}

std::string KindOrProblem(const PlanProcedure& procedure) {
  return procedure.kind.empty() ? "?" : procedure.kind;
}

class PlanWriter {
 public:
  explicit PlanWriter(const Report& report) : report_(report) {}

  std::string Write() {
    if (!report_.log.empty()) out_ += "log: " + QuoteValue(report_.log) + "\n";
    if (report_.lists.empty()) {
      return out_ + "(no list can be built: UPDATER has no usable PROC)\n";
    }
    const PlanList& first = report_.lists[0];
    out_ += ListLabel(first) + ": " + first.value + "\n";
    WriteList(0, 1);
    return out_;
  }

 private:
  void WriteList(int id, int depth) {
    const PlanList& list = report_.lists[static_cast<size_t>(id)];
    std::string indent(static_cast<size_t>(depth) * 2, ' ');
    size_t nameWidth = 0;
    size_t kindWidth = 1;
    for (const PlanProcedure& procedure : list.procedures) {
      nameWidth = std::max(nameWidth, ShownName(procedure).size());
      kindWidth = std::max(kindWidth, KindOrProblem(procedure).size());
    }
    for (const PlanProcedure& procedure : list.procedures) {
      std::string name = ShownName(procedure);
      std::string line = indent + name;
      line += std::string(nameWidth - name.size() + 2, ' ');
      std::string kind = KindOrProblem(procedure);
      line += kind;
      std::string details;
      if (procedure.kind.empty()) {
        details = procedure.problem;
      } else {
        for (const auto& value : procedure.values) {
          if (procedure.kind == "SWITCH" && value.first != "PROC") continue;
          if (!details.empty()) details += ' ';
          details += value.first + "=" + QuoteValue(value.second);
        }
      }
      if (!details.empty()) line += std::string(kindWidth - kind.size() + 2, ' ') + details;
      out_ += line + "\n";
      for (const PlanProcedure::Branch& branch : procedure.branches) {
        WriteBranch(branch, depth + 1);
      }
    }
  }

  void WriteBranch(const PlanProcedure::Branch& branch, int depth) {
    std::string indent(static_cast<size_t>(depth) * 2, ' ');
    std::string line = indent + branch.key + ": ";
    if (branch.value.empty()) {
      out_ += line + "(empty)\n";
      return;
    }
    line += branch.value;
    if (branch.list < 0) {
      out_ += line + "\n";
      return;
    }
    const PlanList& target = report_.lists[static_cast<size_t>(branch.list)];
    if (branch.loop) {
      out_ += line + "  (loop: back to the running list " + ListLabel(target) + ")\n";
      return;
    }
    if (branch.repeated) {
      out_ += line + "  (the list " + ListLabel(target) + ", shown above)\n";
      return;
    }
    out_ += line + "\n";
    WriteList(branch.list, depth + 1);
  }

  const Report& report_;
  std::string out_;
};

// Text inside a record label: the record syntax characters escaped, line feeds as spaces.
std::string RecordText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t') {
      out += ' ';
    } else if (c == '{' || c == '}' || c == '|' || c == '<' || c == '>' || c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::string DotString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += (c == '\n' ? ' ' : c);
  }
  return out + "\"";
}

// What a procedure's box in the graph says: its name and kind, and for a condition or a switch
// the procedure it reads.
std::string ProcedureCaption(const PlanProcedure& procedure) {
  if (procedure.kind.empty()) return ShownName(procedure) + ": " + procedure.problem;
  std::string caption = procedure.name + ": " + procedure.kind;
  if (procedure.kind == "MSGBOX") {
    std::string flag = procedure.Value("FLAG");
    size_t comma = flag.find(',');
    if (comma != std::string::npos) {
      std::string name = flag.substr(0, comma);
      std::string rest = flag.substr(comma + 1);
      size_t next = rest.find(',');
      if (next != std::string::npos) rest = rest.substr(0, next);
      auto trim = [](std::string text) {
        size_t first = text.find_first_not_of(' ');
        size_t last = text.find_last_not_of(' ');
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
      };
      caption += " if " + trim(name) + " = " + trim(rest);
    }
  } else if (procedure.kind == "SWITCH") {
    caption += " on " + procedure.Value("PROC");
  }
  return caption;
}

}  // namespace

std::string FormatFindings(const Report& report) {
  std::string out;
  for (const Finding& finding : report.findings) {
    out += finding.file + ":" + std::to_string(finding.line) + ": " +
           SeverityName(finding.severity) + ": " + AnsiToUtf8(finding.message) + " [" +
           finding.rule + "]\n";
  }
  if (!report.log.empty())
    out += report.file + ": the run log goes to " + AnsiToUtf8(QuoteValue(report.log)) + "\n";
  out += report.file + ": " + Counted(report.errors(), "error") + ", " +
         Counted(report.warnings(), "warning") + "\n";
  return out;
}

std::string FormatJson(const Report& report) {
  if (report.findings.empty()) return "[]\n";
  std::string out = "[\n";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    out += "  {\"file\": " + JsonUtf8String(f.file) + ", \"line\": " + std::to_string(f.line) +
           ", \"column\": " + (f.column > 0 ? std::to_string(f.column) : "null") +
           ", \"severity\": \"" + SeverityName(f.severity) + "\", \"rule\": \"" + f.rule +
           "\", \"section\": " + JsonString(f.section) + ", \"key\": " + JsonString(f.key) +
           ", \"message\": " + JsonString(f.message) + "}";
    out += i + 1 < report.findings.size() ? ",\n" : "\n";
  }
  return out + "]\n";
}

namespace {

// A path as a URI reference: "/" between its parts, every byte but the unreserved ones and "/"
// percent-encoded; an absolute path ("/opt/...", "C:\...", "\\server\...") as a file URI.
std::string PathUri(const std::string& utf8Path) {
  std::string path = utf8Path;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::string uri;
  if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
    uri = "file:";  // a share: file://server/share/...
  } else if (!path.empty() && path[0] == '/') {
    uri = "file://";
  } else if (path.size() >= 2 && path[1] == ':') {
    uri = "file:///" + path.substr(0, 2);
    path = path.substr(2);
  }
  for (char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    uri += plain ? std::string(1, c) : HexByte(static_cast<unsigned char>(c), "%");
  }
  return uri;
}

std::string SarifResult(const Finding& f, bool suppressed) {
  std::string region = "{\"startLine\": " + std::to_string(f.line) +
                       (f.column > 0 ? ", \"startColumn\": " + std::to_string(f.column) : "") + "}";
  const RuleInfo* rule = FindRule(f.rule);
  std::string index =
      rule != nullptr ? ", \"ruleIndex\": " + std::to_string(rule - kRules) : std::string();
  return "        {\"ruleId\": " + JsonUtf8String(f.rule) + index + ", \"level\": \"" +
         SeverityName(f.severity) + "\", \"message\": {\"text\": " + JsonString(f.message) +
         "},\n"
         "         \"locations\": [{\"physicalLocation\": {\"artifactLocation\": {\"uri\": " +
         JsonUtf8String(PathUri(f.file)) + "}, \"region\": " + region + "}}]" +
         (suppressed ? ",\n         \"suppressions\": [{\"kind\": \"inSource\"}]" : "") + "}";
}

// The workflow command's escapes of a message, and of a property (which also ends at ":" and
// ",").
std::string GithubEscaped(const std::string& text, bool property) {
  std::string out;
  for (char c : text) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else if (property && c == ':') {
      out += "%3A";
    } else if (property && c == ',') {
      out += "%2C";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatSarif(const Report& report) {
  std::string out =
      "{\n"
      "  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
      "  \"version\": \"2.1.0\",\n"
      "  \"runs\": [\n"
      "    {\n"
      "      \"tool\": {\"driver\": {\"name\": \"updater-check\", \"version\": \"" KESTARIO_VERSION
      "\",\n"
      "                 \"rules\": [\n";
  for (size_t i = 0; i < kRuleCount; ++i) {
    const RuleInfo& rule = kRules[i];
    out += std::string("        {\"id\": \"") + rule.id +
           "\", \"shortDescription\": {\"text\": " + JsonString(rule.summary) +
           "}, \"defaultConfiguration\": {\"level\": \"" + SeverityName(rule.severity) + "\"}}" +
           (i + 1 < kRuleCount ? ",\n" : "\n");
  }
  out +=
      "      ]}},\n"
      "      \"columnKind\": \"unicodeCodePoints\",\n"
      "      \"results\": [";
  bool first = true;
  for (const std::vector<Finding>* findings : {&report.findings, &report.suppressed}) {
    for (const Finding& finding : *findings) {
      out += (first ? "\n" : ",\n") + SarifResult(finding, findings == &report.suppressed);
      first = false;
    }
  }
  return out + (first ? "]\n" : "\n      ]\n") + "    }\n  ]\n}\n";
}

std::string FormatGithub(const Report& report) {
  std::string out;
  for (const Finding& f : report.findings) {
    out += std::string("::") + SeverityName(f.severity) + " file=" + GithubEscaped(f.file, true) +
           ",line=" + std::to_string(f.line) +
           (f.column > 0 ? ",col=" + std::to_string(f.column) : "") +
           ",title=" + GithubEscaped(f.rule, true) +
           "::" + GithubEscaped(AnsiToUtf8(f.message), false) + "\n";
  }
  out += GithubEscaped(report.file, false) + ": " + Counted(report.errors(), "error") + ", " +
         Counted(report.warnings(), "warning") + "\n";
  return out;
}

std::string FormatPlan(const Report& report) { return PlanWriter(report).Write(); }

std::string FormatDot(const Report& report) {
  std::string out =
      "digraph plan {\n"
      "  graph [fontname=\"Helvetica\"];\n"
      "  node [shape=record, fontname=\"Helvetica\", fontsize=11];\n"
      "  edge [fontname=\"Helvetica\", fontsize=11];\n";
  for (size_t id = 0; id < report.lists.size(); ++id) {
    const PlanList& list = report.lists[id];
    std::string label = "{" + RecordText(ListLabel(list));
    for (size_t p = 0; p < list.procedures.size(); ++p) {
      label += "|<p" + std::to_string(p) + "> " + RecordText(ProcedureCaption(list.procedures[p]));
    }
    label += "}";
    out += "  list" + std::to_string(id) + " [label=\"" + label + "\"";
    if (id == 0) out += ", style=bold";
    out += "];\n";
  }
  for (size_t id = 0; id < report.lists.size(); ++id) {
    const PlanList& list = report.lists[id];
    for (size_t p = 0; p < list.procedures.size(); ++p) {
      std::string from = "list" + std::to_string(id) + ":p" + std::to_string(p);
      for (const PlanProcedure::Branch& branch : list.procedures[p].branches) {
        if (branch.list < 0) {
          std::string empty =
              "empty" + std::to_string(id) + "_" + std::to_string(p) + "_" + branch.key;
          out += "  " + empty + " [shape=plaintext, fontcolor=red, label=" +
                 DotString(branch.value.empty() ? "(empty)" : branch.value) + "];\n";
          out += "  " + from + " -> " + empty + " [label=" + DotString(branch.key) +
                 ", color=red, fontcolor=red];\n";
          continue;
        }
        out += "  " + from + " -> list" + std::to_string(branch.list) + " [label=";
        if (branch.loop) {
          out += DotString(branch.key + " (loop)") + ", color=red, fontcolor=red, style=dashed";
        } else {
          out += DotString(branch.key);
        }
        out += "];\n";
      }
    }
  }
  return out + "}\n";
}

}  // namespace checker
}  // namespace kestario
