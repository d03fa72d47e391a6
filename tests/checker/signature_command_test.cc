// updater-check --key: a script's signature against one public key, signed here by openssl.
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/script_test.h"
#include "support/signing_keys.h"
#include "tools/checker/command.h"
#include "tools/checker/signature_check.h"

namespace kestario {
namespace checker {
namespace {

const char kPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEnLpH/UNWb8JRsYNv4sVgfc0OzoH5\n"
    "Z2/WVlEEQWuUVP4KvkI3IpsqDUJdf9UMgpBufemtdEA5Xj+dJFxzdXLubg==\n"
    "-----END PUBLIC KEY-----\n";
const char kOtherPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEqy2PgzrD5GtL8D62sIjSDiIWFDI1\n"
    "/T80CZzYIBCa8frBvfV67NVjPKOlsakTh4BZzUGFNt4ajIwPFuD/1Qf+Ug==\n"
    "-----END PUBLIC KEY-----\n";
const char kScript[] = "[UPDATER]\nNAME=T\nPROC=E\n[E]\nMODE=EXIST\nFILE=<Src>/a\n";

class SignatureCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("key.pem", kTestPrivateKeyPem);
    dir.Write("pub.pem", kPublicKey);
    dir.Write("other.pem", kOtherPublicKey);
    dir.Write("updater.ini", kScript);
  }
  int Run(const std::vector<std::string>& arguments) {
    out.str("");
    err.str("");
    return RunCheckCommand(arguments, out, err);
  }
  // Signs updater.ini with openssl; false when openssl is not there.
  bool Sign() {
    std::string command = "openssl dgst -sha256 -sign '" + dir.Path("key.pem") + "' -out '" +
                          dir.Path("updater.ini.sig") + "' '" + dir.Path("updater.ini") + "'";
    return std::system(command.c_str()) == 0;
  }

  TempDir dir;
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(SignatureCommandTest, SaysWhetherTheSignatureVerifies) {
  std::string script = dir.Path("updater.ini");
  EXPECT_EQ(kExitErrors, Run({"--key", dir.Path("pub.pem"), script}));
  EXPECT_NE(std::string::npos, out.str().find("not signed")) << out.str();
  if (!Sign()) GTEST_SKIP() << "no openssl";
  EXPECT_EQ(kExitClean, Run({"--key", dir.Path("pub.pem"), script})) << err.str();
  EXPECT_NE(std::string::npos, out.str().find("verifies against")) << out.str();
  EXPECT_EQ(kExitErrors, Run({"--key=" + dir.Path("other.pem"), script}));
  EXPECT_NE(std::string::npos, out.str().find("is not by")) << out.str();
  dir.Write("updater.ini", std::string(kScript) + ";\n");
  EXPECT_EQ(kExitErrors, Run({"--key", dir.Path("pub.pem"), script}));
  dir.Write("updater.ini.sig", "garbled");
  EXPECT_EQ(kExitErrors, Run({"--key", dir.Path("pub.pem"), script}));
  EXPECT_NE(std::string::npos, out.str().find("is no signature")) << out.str();
}

TEST_F(SignatureCommandTest, KeyFileMustHoldOneP256PublicKey) {
  std::string script = dir.Path("updater.ini");
  EXPECT_EQ(kExitUnreadable, Run({"--key", dir.Path("key.pem"), script}));
  EXPECT_EQ(kExitUnreadable, Run({"--key", dir.Path("missing.pem"), script}));
  EXPECT_EQ(kExitUnreadable, Run({"--key", dir.Path("pub.pem"), "--what-if", script}));
  std::string key;
  EXPECT_TRUE(PublicKeyTextOf(kPublicKey, &key));
  EXPECT_EQ(std::string("MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEnLpH/UNWb8JRsYNv4sVgfc0OzoH5") +
                "Z2/WVlEEQWuUVP4KvkI3IpsqDUJdf9UMgpBufemtdEA5Xj+dJFxzdXLubg==",
            key);
  // The one line of a registry value is a key file too.
  EXPECT_TRUE(PublicKeyTextOf(key + "\n", &key));
  EXPECT_FALSE(PublicKeyTextOf("", &key));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
