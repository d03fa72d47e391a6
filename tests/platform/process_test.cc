// Command-line splitting, starting programs without a shell, and the portable LaunchProgram.
#include "platform/process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/command_line_posix.h"
#include "platform/system_posix.h"
#include "tests/platform/temp_folder.h"

namespace kestario {
namespace {

using kestario_test::Exists;
using kestario_test::ReadFile;
using kestario_test::TempFolder;
using kestario_test::WriteFile;
using kestario_test::WriteFileWithMode;

std::vector<std::string> Split(const char* line) {
  char** argv = nullptr;
  std::vector<std::string> result;
  if (SplitCommandLine(line, &argv)) {
    for (char** item = argv; *item; ++item) result.push_back(*item);
    FreeArgumentVector(argv);
  } else {
    result.push_back("<failed>");
  }
  return result;
}

using Words = std::vector<std::string>;

TEST(CommandLineTest, ProgramIsTheFirstWord) {
  EXPECT_EQ(Words({"/bin/prog", "a", "b"}), Split("/bin/prog a  b "));
  EXPECT_EQ(Words({"/bin/prog"}), Split("  /bin/prog "));
  EXPECT_EQ(Words({"<failed>"}), Split(""));
  EXPECT_EQ(Words({"<failed>"}), Split(" \t "));
  // Nothing is searched: the words after the first are arguments, whatever files exist.
  EXPECT_EQ(Words({"/bin/sh", "-c", "true"}), Split("/bin/sh -c true"));
}

TEST(CommandLineTest, SplitsInTimeProportionalToTheLine) {
  // 4 MB in 400,000 words: quadratic work would take minutes.
  std::string line = "/bin/prog";
  for (int i = 0; i < 400000; ++i) line += " word" + std::to_string(i % 100000);
  char** argv = nullptr;
  ASSERT_TRUE(SplitCommandLine(line.c_str(), &argv));
  size_t count = 0;
  while (argv[count]) ++count;
  EXPECT_EQ(400001u, count);
  FreeArgumentVector(argv);
}

TEST(CommandLineTest, QuotedProgram) {
  EXPECT_EQ(Words({"/opt/My Apps/tool", "x", "y"}), Split("\"/opt/My Apps/tool\" x y"));
  EXPECT_EQ(Words({"/opt/unclosed tool"}), Split("\"/opt/unclosed tool"));
}

TEST(CommandLineTest, ArgumentsFollowShellQuotingWithoutExpansion) {
  EXPECT_EQ(Words({"/p", "a b", "c \"d\" $HOME \\n", "e f", "*.txt", "$x", "~", ";", "|", ">", "&&",
                   "$(id)", "`id`"}),
            Split("/p 'a b' \"c \\\"d\\\" $HOME \\n\" e\\ f *.txt $x ~ ; | > && $(id) `id`"));
  EXPECT_EQ(Words({"/p", "", "ab", "x'y", "it's"}), Split("/p '' a''b \"x'y\" it\\'s"));
  EXPECT_EQ(Words({"/p", "tab", "sep", "line"}), Split("/p tab\tsep\nline"));
  EXPECT_EQ(Words({"/p", "unclosed rest"}), Split("/p 'unclosed rest"));
  EXPECT_EQ(Words({"/p", "end\\"}), Split("/p end\\"));
  EXPECT_EQ(Words({"/p", "ab"}), Split("/p a\\\nb"));
}

TEST(DirectoryPartTest, TextBeforeTheLastSeparator) {
  TextString directory;
  EXPECT_TRUE(GetDirectoryPart("/opt/tool/run", &directory));
  EXPECT_STREQ("/opt/tool", directory.GetConstText());
  EXPECT_TRUE(GetDirectoryPart("/opt/run", &directory));
  EXPECT_STREQ("/opt", directory.GetConstText());
  EXPECT_TRUE(GetDirectoryPart("rel/dir/", &directory));
  EXPECT_STREQ("rel/dir", directory.GetConstText());
  EXPECT_TRUE(GetDirectoryPart("a//b", &directory));
  EXPECT_STREQ("a/", directory.GetConstText());
  EXPECT_FALSE(GetDirectoryPart("/run", &directory));
  EXPECT_FALSE(GetDirectoryPart("run", &directory));
  EXPECT_FALSE(GetDirectoryPart("", &directory));
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, mkdir((folder_ / "my tools").c_str(), 0755));
    // Writes its folder and its arguments, one a line, into files of its folder.
    helper_ = folder_ / "my tools/helper";
    ASSERT_TRUE(WriteFileWithMode(
        helper_, "#!/bin/sh\npwd -P > cwd.txt\nprintf '%s\\n' \"$@\" > args.txt\n", 0755));
    // A shorter prefix of the helper's path that must never run.
    ASSERT_TRUE(WriteFileWithMode(folder_ / "my", "#!/bin/sh\ntouch \"$0.hijacked\"\n", 0755));
    char* real = realpath((folder_ / "my tools").c_str(), nullptr);
    ASSERT_NE(nullptr, real);
    realTools_ = real;
    free(real);
  }
  TempFolder folder_;
  std::string helper_;
  std::string realTools_;
};

TEST_F(LaunchTest, RunsInItsOwnFolderWithLiteralArguments) {
  EXPECT_TRUE(LaunchProgram(helper_.c_str(), "one 'two words' * $HOME ; > x", 1));
  EXPECT_EQ(realTools_ + "\n", ReadFile(folder_ / "my tools/cwd.txt"));
  EXPECT_EQ("one\ntwo words\n*\n$HOME\n;\n>\nx\n", ReadFile(folder_ / "my tools/args.txt"));
  EXPECT_FALSE(Exists(folder_ / "my tools/x"));
  EXPECT_FALSE(Exists(folder_ / "my.hijacked"));
}

TEST_F(LaunchTest, QuotedPathWithSpacesIsTheProgram) {
  PosixSystem system;
  std::string line = "\"" + helper_ + "\" a 'b c'";
  std::string tools = folder_ / "my tools";
  ProcessHandle process = kNoProcess;
  ASSERT_TRUE(system.CreateProcessA(&line[0], tools.c_str(), &process));
  EXPECT_NE(kNoProcess, process);
  EXPECT_TRUE(system.WaitForProcess(process));
  system.CloseProcess(process);
  EXPECT_EQ(realTools_ + "\n", ReadFile(tools + "/cwd.txt"));
  EXPECT_EQ("a\nb c\n", ReadFile(tools + "/args.txt"));
  EXPECT_FALSE(Exists(folder_ / "my.hijacked"));
}

TEST_F(LaunchTest, ShellWithQuotedScript) {
  std::string out = folder_ / "out.txt";
  std::string parameters = "-c 'echo \"$0\" hi > \"" + out + "\"' zero";
  EXPECT_TRUE(LaunchProgram("/bin/sh", parameters.c_str(), 1));
  EXPECT_EQ("zero hi\n", ReadFile(out));
  // The exit code is not examined.
  EXPECT_TRUE(LaunchProgram("/bin/sh", "-c 'exit 3'", 1));
  EXPECT_TRUE(LaunchProgram("/bin/sh", "-c 'exit 0'", 0));
}

TEST_F(LaunchTest, CommandLineTheSystemCannotPassFails) {
  // 3 MB of arguments is over what execve takes (E2BIG); 1 MB passes.
  std::string out = folder_ / "count.txt";
  std::string small = "-c 'echo $# > \"" + out + "\"' x";
  for (int i = 0; i < 100000; ++i) small += " w" + std::to_string(1000000 + i);
  EXPECT_TRUE(LaunchProgram("/bin/sh", small.c_str(), 1));
  EXPECT_EQ("100000\n", ReadFile(out));
  std::string large;
  for (int i = 0; i < 300000; ++i) large += " w" + std::to_string(1000000 + i);
  EXPECT_FALSE(LaunchProgram("/bin/sh", large.c_str(), 1));
}

// The children of this process that have ended and were not reaped.
int ZombieChildren() {
  int zombies = 0;
  std::string self = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  while (struct dirent* entry = readdir(proc)) {
    std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) continue;
    // "pid (name) STATE PPID ..."
    char state = stat[close + 2];
    std::string parent = stat.substr(close + 4, stat.find(' ', close + 4) - (close + 4));
    if (parent == self && state == 'Z') ++zombies;
  }
  closedir(proc);
  return zombies;
}

TEST_F(LaunchTest, ChildrenStartedWithoutAWaitAreReapedAsTheyEnd) {
  // Some end at once, some a little later, after their handle was closed.
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(LaunchProgram("/bin/sh", i % 2 ? "-c 'sleep 0.2'" : "-c true", 0));
  }
  int zombies = -1;
  for (int attempt = 0; attempt < 100 && zombies != 0; ++attempt) {
    usleep(50000);
    zombies = ZombieChildren();
  }
  EXPECT_EQ(0, zombies);
  // A child that is waited for is not taken by the reaper.
  EXPECT_TRUE(LaunchProgram("/bin/sh", "-c 'sleep 0.1'", 1));
}

TEST_F(LaunchTest, StandardInputOfTheProgramIsEmpty) {
  // The program's standard input is /dev/null, whatever the updater's is.
  std::string out = folder_ / "read.txt";
  int answers[2];
  ASSERT_EQ(0, pipe(answers));
  ASSERT_EQ(4, write(answers[1], "yes\n", 4));
  close(answers[1]);
  int saved = dup(STDIN_FILENO);
  ASSERT_EQ(STDIN_FILENO, dup2(answers[0], STDIN_FILENO));
  std::string parameters = "-c 'cat > \"" + out + "\"'";
  bool started = LaunchProgram("/bin/sh", parameters.c_str(), 1);
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(answers[0]);
  EXPECT_TRUE(started);
  EXPECT_EQ("", ReadFile(out));
}

TEST_F(LaunchTest, FailuresAreReported) {
  std::string plain = folder_ / "plain.sh";
  ASSERT_TRUE(WriteFileWithMode(plain, "#!/bin/sh\ntouch ran\n", 0644));
  EXPECT_FALSE(LaunchProgram(plain.c_str(), "", 1));  // not executable
  EXPECT_FALSE(Exists(folder_ / "ran"));
  EXPECT_FALSE(LaunchProgram((folder_ / "missing").c_str(), "", 1));
  EXPECT_FALSE(LaunchProgram((folder_ / "my tools").c_str(), "", 1));  // a folder
  EXPECT_FALSE(LaunchProgram("sh", "-c true", 1));                     // no folder part
  EXPECT_FALSE(LaunchProgram("/sh", "-c true", 1));                    // separator first
  PosixSystem system;
  char line[] = "/bin/true";
  ProcessHandle process = kNoProcess;
  EXPECT_FALSE(system.CreateProcessA(line, (folder_ / "no such folder").c_str(), &process));
  EXPECT_EQ(kNoProcess, process);
  EXPECT_FALSE(system.WaitForProcess(kNoProcess));
  EXPECT_FALSE(system.WaitForProcess(1));  // not our child
}

}  // namespace
}  // namespace kestario

namespace kestario {
namespace {

// Records what LaunchProgram asks of the system instead of starting anything.
class RecordingSystem : public PosixSystem {
 public:
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override {
    line = commandLine;
    directory = currentDirectory;
    if (!createWorks) return false;
    *process = 4242;
    return true;
  }
  bool WaitForProcess(ProcessHandle process) override {
    waited.push_back(process);
    return waitWorks;
  }
  void CloseProcess(ProcessHandle process) override { closed.push_back(process); }

  std::string line;
  std::string directory;
  bool createWorks = true;
  bool waitWorks = true;
  std::vector<ProcessHandle> waited;
  std::vector<ProcessHandle> closed;
};

class LaunchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystem(&system_); }
  void TearDown() override { SetSystem(nullptr); }
  RecordingSystem system_;
  TempFolder folder_;
};

TEST_F(LaunchProgramTest, CommandLineIsProgramSpaceParameters) {
  EXPECT_TRUE(LaunchProgram("/opt/tool/run", "", 0));
  EXPECT_EQ("/opt/tool/run ", system_.line);
  EXPECT_EQ("/opt/tool", system_.directory);
  EXPECT_TRUE(system_.waited.empty());
  EXPECT_EQ(std::vector<ProcessHandle>({4242}), system_.closed);
  EXPECT_TRUE(LaunchProgram("/opt/tool/run", "-a \"b c\"", 1));
  EXPECT_EQ("/opt/tool/run -a \"b c\"", system_.line);
  EXPECT_EQ(std::vector<ProcessHandle>({4242}), system_.waited);
}

TEST_F(LaunchProgramTest, ProgramWithABlankIsQuoted) {
  ASSERT_EQ(0, mkdir((folder_ / "my tools").c_str(), 0755));
  std::string program = folder_ / "my tools/run";
  ASSERT_TRUE(WriteFile(program, ""));
  EXPECT_TRUE(LaunchProgram(program.c_str(), "x", 0));
  EXPECT_EQ("\"" + program + "\" x", system_.line);
  EXPECT_EQ(folder_ / "my tools", system_.directory);
  // One that does not exist is quoted too, so that no shorter prefix is ever started for it.
  std::string missing = folder_ / "my tools/none";
  EXPECT_TRUE(LaunchProgram(missing.c_str(), "x", 0));
  EXPECT_EQ("\"" + missing + "\" x", system_.line);
  // No way to quote a program with a blank and a double quote.
  EXPECT_FALSE(LaunchProgram((folder_ / "my tools/a\"b").c_str(), "", 0));
}

// Which part of a FILE item is the program.
class ProgramInItemTest : public LaunchProgramTest {
 protected:
  void SetUp() override {
    LaunchProgramTest::SetUp();
    ASSERT_EQ(0, mkdir((folder_ / "my tools").c_str(), 0755));
    ASSERT_TRUE(WriteFile(folder_ / "my", "decoy"));
    ASSERT_TRUE(WriteFile(folder_ / "tool", "program"));
    ASSERT_TRUE(WriteFile(folder_ / "tool --quiet", "decoy"));
    ASSERT_TRUE(WriteFile(folder_ / "my tools/prog", "program"));
  }
  // The program part of the item, or "<ambiguous>".
  std::string Program(const std::string& item) {
    size_t length = 0;
    if (!FindProgramInItem(item.c_str(), &length)) return "<ambiguous>";
    return item.substr(0, length);
  }
};

TEST_F(ProgramInItemTest, WholeItemThatNamesAFileIsTheProgram) {
  EXPECT_EQ(folder_ / "my tools/prog", Program(folder_ / "my tools/prog"));
  EXPECT_EQ(folder_ / "tool --quiet", Program(folder_ / "tool --quiet"));
  // PARAM never joins the name: "tool" with "--quiet" starts "tool".
  EXPECT_TRUE(LaunchProgram((folder_ / "tool").c_str(), "--quiet", 1));
  EXPECT_EQ(folder_ / "tool" + " --quiet", system_.line);
}

TEST_F(ProgramInItemTest, ParametersAfterAnExistingProgramInTheItem) {
  EXPECT_EQ(folder_ / "tool", Program(folder_ / "tool -x 1"));
  EXPECT_EQ(folder_ / "my tools/prog", Program(folder_ / "my tools/prog a b"));
  EXPECT_EQ(folder_ / "tool", Program(folder_ / "tool " + folder_ / "data.txt"));
  EXPECT_EQ(folder_ / "tool", Program(folder_ / "tool --out=a/b"));
  EXPECT_TRUE(LaunchProgram((folder_ / "my tools/prog  a").c_str(), "b", 1));
  EXPECT_EQ("\"" + folder_ / "my tools/prog" + "\"  a b", system_.line);
  EXPECT_EQ(folder_ / "my tools", system_.directory);
}

TEST_F(ProgramInItemTest, AnItemThatGoesOnAsAPathIsAmbiguous) {
  // "my tools/none" is missing and "my" exists: "my" is never started.
  EXPECT_EQ("<ambiguous>", Program(folder_ / "my tools/none"));
  EXPECT_EQ("<ambiguous>", Program(folder_ / "my tools"));  // a folder
  // The folder is missing too, but the next word is the rest of a path.
  EXPECT_EQ("<ambiguous>", Program(folder_ / "my stuff/prog"));
  system_.line.clear();
  EXPECT_FALSE(LaunchProgram((folder_ / "my tools/none").c_str(), "", 1));
  EXPECT_EQ("", system_.line);
  // Nothing names a file: the whole item, which then fails to start.
  EXPECT_EQ(folder_ / "none at all", Program(folder_ / "none at all"));
}

TEST_F(ProgramInItemTest, LongItemsAreDecidedInTimeProportionalToTheirLength) {
  std::string item = folder_ / "tool";
  for (int i = 0; i < 200000; ++i) item += " w" + std::to_string(i);
  EXPECT_EQ(folder_ / "tool", Program(item));
  std::string missing = folder_ / "none";
  for (int i = 0; i < 200000; ++i) missing += " w" + std::to_string(i);
  EXPECT_EQ(missing, Program(missing));
}

TEST_F(LaunchProgramTest, FailuresCloseWhatWasOpened) {
  system_.createWorks = false;
  EXPECT_FALSE(LaunchProgram("/opt/tool/run", "", 1));
  EXPECT_TRUE(system_.waited.empty());
  EXPECT_TRUE(system_.closed.empty());
  system_.createWorks = true;
  system_.waitWorks = false;
  EXPECT_FALSE(LaunchProgram("/opt/tool/run", "", 1));
  EXPECT_EQ(std::vector<ProcessHandle>({4242}), system_.closed);
  system_.line.clear();
  EXPECT_FALSE(LaunchProgram("run", "", 1));
  EXPECT_FALSE(LaunchProgram("/run", "", 1));
  EXPECT_EQ("", system_.line);  // nothing was started
}

}  // namespace
}  // namespace kestario
