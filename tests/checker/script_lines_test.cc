#include "tools/checker/script_lines.h"

#include <string>

#include <gtest/gtest.h>

namespace kestario {
namespace checker {
namespace {

ScriptLines Parsed(const std::string& bytes) {
  ScriptLines lines;
  lines.Parse(bytes);
  return lines;
}

TEST(ScriptLinesTest, FindsSectionHeadersAndKeysByLine) {
  ScriptLines lines = Parsed("; comment\n\n[UPDATER]\nNAME=x\nPROC=A\n\n[A]\nMODE=EXIST\n");
  EXPECT_EQ(3, lines.SectionLine("UPDATER"));
  EXPECT_EQ(4, lines.KeyLine("UPDATER", "NAME"));
  EXPECT_EQ(5, lines.KeyLine("UPDATER", "PROC"));
  EXPECT_EQ(7, lines.SectionLine("A"));
  EXPECT_EQ(8, lines.KeyLine("A", "MODE"));
}

TEST(ScriptLinesTest, CountsLinesAsAnEditorDoes) {
  // CR LF, a lone CR and LF each end one line; a byte-order mark does not add one.
  ScriptLines lines = Parsed("\xEF\xBB\xBF[A]\r\nK=1\rL=2\n\n\r\nM=3\n");
  EXPECT_EQ(1, lines.SectionLine("A"));
  EXPECT_EQ(2, lines.KeyLine("A", "K"));
  EXPECT_EQ(3, lines.KeyLine("A", "L"));
  EXPECT_EQ(6, lines.KeyLine("A", "M"));
}

TEST(ScriptLinesTest, NamesIgnoreAsciiCaseAndBlanks) {
  ScriptLines lines = Parsed("[ Check ]\n\tmode = EXIST \n");
  EXPECT_EQ(1, lines.SectionLine("CHECK"));
  EXPECT_EQ(1, lines.SectionLine(" check\t"));
  EXPECT_EQ(2, lines.KeyLine("check", "MODE"));
  const ScriptLines::Entry* mode = ScriptLines::FindEntry(*lines.FindSection("CHECK"), "Mode");
  ASSERT_NE(nullptr, mode);
  EXPECT_EQ("EXIST", mode->value);
}

TEST(ScriptLinesTest, TheFirstSectionAndTheFirstKeyWin) {
  ScriptLines lines = Parsed("[A]\nK=1\nK=2\n[a]\nL=3\n");
  EXPECT_EQ(1, lines.SectionLine("A"));
  EXPECT_EQ(2, lines.KeyLine("A", "K"));
  // A key only in the second section is not found: the line falls back to the first header.
  EXPECT_EQ(1, lines.KeyLine("A", "L"));
}

TEST(ScriptLinesTest, MissingKeyFallsBackToTheHeaderAndMissingSectionToLineOne) {
  ScriptLines lines = Parsed("\n\n[A]\nK=1\n");
  EXPECT_EQ(3, lines.KeyLine("A", "MISSING"));
  EXPECT_EQ(1, lines.KeyLine("B", "MODE"));
  EXPECT_EQ(0, lines.SectionLine("B"));
}

TEST(ScriptLinesTest, HeaderNameRunsToTheLastBracket) {
  ScriptLines lines = Parsed("[A] ; x ]\nK=1\n[B\nL=2\n[]\nM=3\n");
  ASSERT_EQ(3u, lines.sections().size());  // unnamed, "A] ; x", "" (the "[B" line is an entry)
  EXPECT_EQ("A] ; x", lines.sections()[1].name);
  EXPECT_EQ(3u, lines.sections()[1].entries.size());
  EXPECT_EQ("[B", lines.sections()[1].entries[1].name);
  EXPECT_EQ("", lines.sections()[2].name);
  EXPECT_EQ(5, lines.sections()[2].line);
}

TEST(ScriptLinesTest, EntriesKeepTheirQuotesApartFromTheValue) {
  ScriptLines lines = Parsed("[A]\nT=\" padded \"\nN\nE=\n");
  const ScriptLines::Section& a = *lines.FindSection("A");
  const ScriptLines::Entry* t = ScriptLines::FindEntry(a, "T");
  ASSERT_NE(nullptr, t);
  EXPECT_EQ("\" padded \"", t->text);
  EXPECT_EQ(" padded ", t->value);
  const ScriptLines::Entry* n = ScriptLines::FindEntry(a, "N");
  ASSERT_NE(nullptr, n);
  EXPECT_FALSE(n->hasValue);
  const ScriptLines::Entry* e = ScriptLines::FindEntry(a, "E");
  ASSERT_NE(nullptr, e);
  EXPECT_TRUE(e->hasValue);
  EXPECT_EQ("", e->value);
}

TEST(ScriptLinesTest, LinesBeforeTheFirstHeaderFormTheUnnamedSection) {
  ScriptLines lines = Parsed("MODE=EXIST\n=a\n=b\n[A]\n");
  ASSERT_EQ(2u, lines.sections().size());
  EXPECT_EQ(0, lines.sections()[0].line);
  EXPECT_EQ(2u, lines.sections()[0].entries.size());  // of two empty names in a row, the first
  EXPECT_EQ(1, lines.SectionLine(""));
  EXPECT_EQ(1, lines.KeyLine("", "MODE"));
}

TEST(ScriptLinesTest, FoldAndTrimHelpers) {
  EXPECT_TRUE(EqualNoCase("Update", "UPDATE"));
  EXPECT_FALSE(EqualNoCase("Update", "UPDATES"));
  EXPECT_EQ("a b", TrimBlanks("\t a b \x1A"));
  EXPECT_EQ("check", FoldName(" CHECK "));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
