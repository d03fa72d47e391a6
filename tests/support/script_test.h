// A test fixture with a temporary folder that holds the program's script, and the fake system
// installed; the program's path points into that folder.
#ifndef KESTARIO_TESTS_SUPPORT_SCRIPT_TEST_H_
#define KESTARIO_TESTS_SUPPORT_SCRIPT_TEST_H_

#include <string>

#include <gtest/gtest.h>

#include "support/fake_system.h"

namespace kestario {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

class ScriptTest : public ::testing::Test {
 protected:
  ScriptTest();
  ~ScriptTest() override;

  // Writes the script beside the (fake) program: updater.ini in the temporary folder.
  void WriteScript(const std::string& content) { dir.Write("updater.ini", content); }
  // Start-up's first phase and the symbols, as the program does them.
  void Prepare(const char* commandLine = "");
  // The box texts shown so far, one string per box, "caption|text".
  std::string BoxSummary() const;

  TempDir dir;
  FakeSystem system;
};

}  // namespace kestario

#endif  // KESTARIO_TESTS_SUPPORT_SCRIPT_TEST_H_
