// The command line that starts a batch file through cmd.exe: read back by an emulation of
// cmd.exe's own reading, every path and parameter comes back as written and nothing else runs.
#include "platform/batch_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestario {
namespace {

constexpr char kCmd[] = "C:\\Windows\\system32\\cmd.exe";

// Code page 932 (Shift-JIS): the first bytes of its double-byte characters.
bool Cp932Lead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0); }
bool NoLead(uint8_t /*byte*/) { return false; }

// How cmd.exe reads the text of a command line after "/c", as its documentation (cmd /?) and
// its observed behaviour describe it, with no knowledge of how the line was built:
// - more than two double quotes: the first character (a double quote) and the last double quote
//   are taken away;
// - percent pass: a "%" with another "%" after it names the variable between them; an empty
//   name leaves the first "%" as it is and goes on at the second; "cd:~," (an empty part of the
//   current folder) reads as nothing; any other name is taken as a defined variable, whose value
//   would be put in (`expanded`);
// - then, outside double quotes, "^" makes the next character plain and each of & | < > ( )
//   joins or redirects another command (`joint`); a line feed ends the command (`joint` too).
// A double-byte character is one character in both passes. `batch` receives the first word
// (which must be in double quotes), `parameters` the rest.
struct CmdReading {
  bool expanded = false;
  bool joint = false;
  std::string batch;
  std::string parameters;
};

CmdReading ReadAsCmd(const std::string& line, LeadByteTest isLead) {
  CmdReading reading;
  std::string switches = std::string("\"") + kCmd + "\" /d /e:ON /v:OFF /c ";
  EXPECT_EQ(switches, line.substr(0, switches.size()));
  std::string text = line.substr(switches.size());
  EXPECT_EQ('"', text.front());
  size_t last = text.rfind('"');
  text = text.substr(1, last - 1) + text.substr(last + 1);

  std::string percent;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isLead(static_cast<uint8_t>(text[i])) && i + 1 < text.size()) {
      percent += text.substr(i++, 2);
      continue;
    }
    size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      percent += text[i];
    } else if (close == i + 1) {
      percent += '%';
    } else if (text.compare(i + 1, close - i - 1, "cd:~,") == 0) {
      i = close;
    } else {
      reading.expanded = true;
      percent += "<value>";
      i = close;
    }
  }

  std::string plain;
  bool quoted = false;
  size_t batchEnd = std::string::npos;
  for (size_t i = 0; i < percent.size(); ++i) {
    char c = percent[i];
    if (isLead(static_cast<uint8_t>(c)) && i + 1 < percent.size()) {
      plain += percent.substr(i++, 2);
    } else if (c == '"') {
      quoted = !quoted;
      plain += c;
      if (!quoted && batchEnd == std::string::npos) batchEnd = plain.size();
    } else if (c == '\n' || (!quoted && std::string("&|<>()").find(c) != std::string::npos)) {
      reading.joint = true;
      plain += c;
    } else if (!quoted && c == '^' && i + 1 < percent.size()) {
      plain += percent[++i];
    } else {
      plain += c;
    }
  }
  EXPECT_EQ('"', plain.front());
  EXPECT_NE(std::string::npos, batchEnd);
  if (batchEnd != std::string::npos) {
    reading.batch = plain.substr(1, batchEnd - 2);
    reading.parameters = plain.substr(batchEnd);
  }
  return reading;
}

std::string Build(const std::string& batch, const std::string& parameters,
                  LeadByteTest isLead = Cp932Lead) {
  TextString line;
  if (!BuildBatchCommandLine(kCmd, batch.c_str(), parameters.c_str(), isLead, &line)) {
    return "<refused>";
  }
  return line.GetConstText();
}

TEST(BatchCommandLineTest, ShapeOfTheLine) {
  EXPECT_EQ(
      "\"C:\\Windows\\system32\\cmd.exe\" /d /e:ON /v:OFF /c "
      "\"\"C:\\Deploy\\R&D\\setup.bat\" a ^& C:\\evil.exe ^| \"q & |\" 100%%cd:~,%\"",
      Build("C:\\Deploy\\R&D\\setup.bat", " a & C:\\evil.exe | \"q & |\" 100%"));
  EXPECT_EQ("\"C:\\Windows\\system32\\cmd.exe\" /d /e:ON /v:OFF /c \"\"C:\\Deploy\\setup.bat\" \"",
            Build("C:\\Deploy\\setup.bat", " "));
}

TEST(BatchCommandLineTest, CmdReadsBackEveryPathAndParameterAndRunsNothingElse) {
  const std::vector<std::string> batches = {
      "C:\\Deploy\\setup.bat",
      "C:\\Deploy\\R&D\\setup.bat",
      "C:\\Deploy\\a (x)\\b^c\\100%\\%PATH%\\%cd:~,%\\setup.cmd",
      "C:\\Deploy\\my tools\\setup.BAT",
      "C:\\\x83\x7C\x81\x5B\x83\x5E\\\x95\x5C.bat",  // "ポータ\表.bat": trail bytes | ^ and \.
  };
  const std::vector<std::string> parameters = {
      "",
      " ",
      " /quiet /log C:\\Deploy\\log.txt",
      " a & C:\\Deploy\\evil.exe",
      " a && b || c | d > e >> f < g 2>&1",
      " (x) ) ( ^ ^^ ^& a^",
      " \"a & b\" \"c | d\" \"(e)\" \"f ^ g\" \"<h>\"",
      " a \"b & c",              // a quote left open runs to the end
      " \"a\"\" & b\" & c",      // two quotes in a row close and open again
      " \"\" \"\"\"\" x\"y\"z",  // empty quotes and quotes inside a word
      " 100% %PATH% \"%PATH%\" %% %%% %cd:~,% %%cd:~,% a%b%c%d",
      " %windir:~0,3% %PATH:a=b% \"%\" %\"%\"",
      " !PATH! !x",
      " \x83\x7C \x83\x5E \x95\x5C \x83\x7C| \"\x83\x7C & |\"",  // ポ タ 表, then a real "|"
      " \xB1| \xB1^",  // half-width katakana: a single byte, so the "|" and "^" are real
      " ,;= \t tab",
  };
  for (const std::string& batch : batches) {
    for (const std::string& tail : parameters) {
      SCOPED_TRACE("batch [" + batch + "] parameters [" + tail + "]");
      std::string line = Build(batch, tail);
      ASSERT_NE("<refused>", line);
      CmdReading reading = ReadAsCmd(line, Cp932Lead);
      EXPECT_FALSE(reading.expanded);
      EXPECT_FALSE(reading.joint);
      EXPECT_EQ(batch, reading.batch);
      EXPECT_EQ(tail, reading.parameters);

      TextString readBatch, readParameters;
      ASSERT_TRUE(ReadBatchCommandLine(line.c_str(), Cp932Lead, &readBatch, &readParameters));
      EXPECT_EQ(batch, readBatch.GetConstText());
      EXPECT_EQ(tail, readParameters.GetConstText());
    }
  }
}

TEST(BatchCommandLineTest, DoubleByteCharactersAreCopiedWhole) {
  // 0x83 0x7C is "ポ" in code page 932: no "^" may come between its bytes, or the lead byte would
  // take the "^" and leave a real "|".
  EXPECT_NE(std::string::npos, Build("C:\\x.bat", " \x83\x7C").find("\" \x83\x7C\""));
  // A lead byte takes the byte after it, whatever it is (as Windows converts the line), so that
  // byte is never escaped; in a code page without lead bytes the same "|" is.
  std::string line = Build("C:\\x.bat", " \x83|");
  EXPECT_NE(std::string::npos, line.find("\x83|\""));
  line = Build("C:\\x.bat", " \x83|", NoLead);
  EXPECT_NE(std::string::npos, line.find("\x83^|\""));
}

TEST(BatchCommandLineTest, ParametersThatCannotBePassedAreRefused) {
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " a\nb"));
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " \"a\nb\""));
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " a\rb"));
  EXPECT_EQ("<refused>", Build("C:\\x\nb.bat", " a"));
  EXPECT_EQ("<refused>", Build("C:\\x\".bat", " a"));
  // A lead byte at the end would take the closing double quote.
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " a\x83"));
  EXPECT_NE("<refused>", Build("C:\\x.bat", " a\x83", NoLead));
  // cmd.exe takes at most 8,191 characters.
  EXPECT_NE("<refused>", Build("C:\\x.bat", " " + std::string(8000, 'a')));
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " " + std::string(8200, 'a')));
  EXPECT_EQ("<refused>", Build("C:\\x.bat", " " + std::string(1100, '%')));
  TextString line("left over");
  EXPECT_FALSE(BuildBatchCommandLine(kCmd, "C:\\x.bat", " a\nb", Cp932Lead, &line));
  EXPECT_STREQ("", line.GetConstText());
}

TEST(BatchCommandLineTest, OnlyItsOwnLinesAreReadBack) {
  TextString batch, parameters;
  for (const char* line :
       {"\"C:\\x\\tool.exe\" /q", "C:\\x\\tool.exe /q", "",
        "\"C:\\Windows\\system32\\cmd.exe\" /c \"\"C:\\x.bat\" a\"",
        "\"C:\\Windows\\system32\\cmd.exe\" /d /e:ON /v:OFF /c \"\"C:\\x.bat",
        "\"C:\\Windows\\system32\\cmd.exe\" /d /e:ON /v:OFF /c \"\"C:\\x.bat\" %\""}) {
    EXPECT_FALSE(ReadBatchCommandLine(line, Cp932Lead, &batch, &parameters)) << line;
  }
}

TEST(BatchCommandLineTest, BatchFilesAreToldByTheirExtension) {
  for (const char* name : {"C:\\x\\setup.bat", "C:\\x\\SETUP.BAT", "C:\\x\\run.Cmd", "setup.bat.",
                           "C:\\x\\setup.bat . .", "a.cmd  "}) {
    EXPECT_TRUE(IsBatchFileName(name, strlen(name))) << name;
  }
  for (const char* name : {"C:\\x\\setup.exe", "C:\\x\\setup.batch", "C:\\x\\setupbat",
                           "C:\\x\\setup.ba", "bat", "C:\\x.bat\\tool.exe", ""}) {
    EXPECT_FALSE(IsBatchFileName(name, strlen(name))) << name;
  }
  // Only the given length counts.
  EXPECT_TRUE(IsBatchFileName("C:\\x\\setup.bat /q", 14));
}

}  // namespace
}  // namespace kestario
