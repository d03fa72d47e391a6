#include "engine/context.h"

#include <string>

#include <gtest/gtest.h>

#include "settings/messages.h"
#include "support/script_test.h"

namespace kestario {
namespace {

class ContextTest : public ScriptTest {
 protected:
  std::string CaptionFor(const char* commandLine) {
    PrepareContext(commandLine);
    return ShownText(g_appContext.caption);
  }
  std::string ScriptFor(const std::string& modulePath) {
    system.modulePath = modulePath;
    PrepareContext("");
    return g_appContext.scriptPath.GetConstText();
  }
};

TEST_F(ContextTest, CaptionComesFromTheFirstWordOfTheCommandLine) {
  const std::string fallback = ShownText(DefaultCaption());
  EXPECT_EQ(fallback, CaptionFor(""));
  EXPECT_EQ("Setup", CaptionFor("Setup /x"));
  EXPECT_EQ("My Updater", CaptionFor("\"My Updater\" /x"));
  EXPECT_EQ(fallback, CaptionFor("\"\""));
  EXPECT_EQ(fallback, CaptionFor("\"\"\" rest"));
  EXPECT_EQ("My Updater /x", CaptionFor("\"My Updater /x\""));
  EXPECT_EQ("My Updater /x", CaptionFor("\"My Updater /x"));
  EXPECT_EQ(fallback, CaptionFor("\" x"));
  EXPECT_EQ("ab\"c", CaptionFor("ab\"c\"\" d"));
  EXPECT_EQ("a\tb", CaptionFor("a\tb c"));
}

TEST_F(ContextTest, CommandLineIsKeptAsGiven) {
  PrepareContext("\"My App\" /x");
  EXPECT_STREQ("\"My App\" /x", g_appContext.commandLine.GetConstText());
  PrepareContext("");
  EXPECT_STREQ("", g_appContext.commandLine.GetConstText());
}

TEST_F(ContextTest, ScriptIsTheProgramPathWithItsLastExtensionMadeIni) {
  EXPECT_EQ("C:\\Tools\\upd.ini", ScriptFor("C:\\Tools\\upd.exe"));
  EXPECT_EQ("C:\\Tools\\upd.beta.ini", ScriptFor("C:\\Tools\\upd.beta.exe"));
  EXPECT_EQ("C:\\T.ini", ScriptFor("C:\\T.d\\upd"));
  EXPECT_EQ("/opt/kestario/updater.ini", ScriptFor("/opt/kestario/updater.run"));
  EXPECT_EQ("/opt/k.ini", ScriptFor("/opt/k.d/updater"));
  EXPECT_EQ("ini", ScriptFor("/opt/updater"));
  EXPECT_STREQ("/opt/updater", g_appContext.modulePath.GetConstText());
}

TEST_F(ContextTest, LongProgramPathsAreReadWhole) {
  std::string path = "/" + std::string(600, 'd') + "/updater.run";
  EXPECT_EQ("/" + std::string(600, 'd') + "/updater.ini", ScriptFor(path));
}

}  // namespace
}  // namespace kestario
