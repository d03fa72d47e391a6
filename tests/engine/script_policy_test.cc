// The machine's signature policy at start-up: a refused script is not read at all, whatever it
// asks for, and without the policy nothing more is asked of the system than before.
#include "engine/script_policy.h"

#include <string>

#include <gtest/gtest.h>

#include "engine/driver.h"
#include "engine/run_end.h"
#include "support/script_test.h"
#include "support/signing_keys.h"

namespace kestario {
namespace {

const char kPolicy[] = "SOFTWARE\\POLICIES\\KESTARIO\\UPDATER";
const char kScript[] =
    "[UPDATER]\nNAME=Deploy\nPROC=GO\nEXITCODE=0\nEVENTLOG=0\nLOG=<Src>/run.log\n"
    "[GO]\nMODE=COPY\nFROM=<Src>/a.txt\nTO=<Src>/b.txt\n";

// Counts the profile reads and the holds of the script.
class CountingSystem : public FakeSystem {
 public:
  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override {
    ++reads;
    FakeSystem::GetPrivateProfileStringA(section, key, defaultValue, value, file);
  }
  bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) override {
    ++holds;
    return FakeSystem::HoldPrivateProfileA(file, bytes);
  }
  int reads = 0;
  int holds = 0;
};

class ScriptPolicyTest : public ScriptTest {
 protected:
  ScriptPolicyTest() {
    SetSystem(&counting);
    counting.modulePath = system.modulePath;
    dir.Write("a.txt", "A");
    WriteScript(kScript);
  }
  ~ScriptPolicyTest() override { SetSystem(&system); }
  RunSummary Run() { return RunScript(""); }

  CountingSystem counting;
};

TEST_F(ScriptPolicyTest, WithoutThePolicyNothingMoreIsAsked) {
  RunSummary summary = Run();
  EXPECT_EQ(RunOutcome::kFinished, summary.outcome);
  EXPECT_EQ(0, counting.holds);
  EXPECT_TRUE(dir.Exists("b.txt"));
  // A policy key without values is no policy either.
  counting.registry[kPolicy];
  EXPECT_EQ(RunOutcome::kFinished, Run().outcome);
  EXPECT_EQ(0, counting.holds);
}

TEST_F(ScriptPolicyTest, RefusedScriptIsNotReadAtAll) {
  counting.registry[kPolicy]["RELEASE"] = kTestPublicKey;
  RunSummary summary = Run();
  EXPECT_EQ(0, counting.reads);  // not NAME, LOG, EXITCODE or EVENTLOG
  EXPECT_EQ(1, counting.holds);
  EXPECT_EQ(kExitFailed, summary.exitCode);
  EXPECT_FALSE(dir.Exists("b.txt"));
  EXPECT_FALSE(dir.Exists("run.log"));
  ASSERT_EQ(1u, counting.boxes.size());
  EXPECT_NE(std::string::npos, counting.boxes[0].text.find("\"no signature file\""));
  ASSERT_EQ(1u, counting.events.size());
  EXPECT_EQ(kEventScriptRefused, counting.events[0].id);
  EXPECT_EQ(kEventTypeError, counting.events[0].type);
}

TEST_F(ScriptPolicyTest, APolicyOfNoKeysAndARegistryOthersCanWriteTrustNothing) {
  counting.registry[kPolicy]["BROKEN"] = "not a key";
  EXPECT_EQ(kExitFailed, Run().exitCode);
  EXPECT_EQ(0, counting.holds);  // nothing could be trusted: the script is not even opened
  EXPECT_NE(std::string::npos, counting.boxes.back().text.find("the policy trusts no key"));

  counting.registry.erase(kPolicy);
  counting.registryWritableByOthers = true;
  EXPECT_EQ(kExitFailed, Run().exitCode);
  EXPECT_NE(std::string::npos,
            counting.boxes.back().text.find("the registry can be changed by other users"));
  EXPECT_EQ(0, counting.reads);
  EXPECT_FALSE(dir.Exists("b.txt"));
}

}  // namespace
}  // namespace kestario
