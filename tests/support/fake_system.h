// An in-process System for tests: boxes are answered by the test and recorded, the registry is a
// map, and the program's path and the Windows directory are whatever the test says. Files,
// profile reads and processes go to the real system (tests keep them in a temporary folder).
#ifndef KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_
#define KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/system.h"

namespace kestario {

struct ShownBox {
  std::string caption;
  std::string text;
  unsigned style;
};

class FakeSystem : public System {
 public:
  FakeSystem();
  ~FakeSystem() override;  // restores the real system

  // Answers for the next boxes, in order; a box with no answer left gets kIdOk for an OK box and
  // kIdNo for a Yes/No box.
  std::deque<int> answers;
  std::vector<ShownBox> boxes;
  std::string modulePath = "/opt/kestario/updater.run";
  std::string windowsDirectory = "/etc";
  // Key path below HKEY_LOCAL_MACHINE -> value name (upper case; "" the default) -> data.
  std::map<std::string, std::map<std::string, std::string>> registry;
  int openRegistryKeys = 0;
  // A section whose reading runs out of memory (its entries are left empty); "" for none.
  std::string sectionOutOfMemory;
  int deletes = 0;
  int copies = 0;

  void SetAppPath(const std::string& application, const std::string& fullPath);
  void SetAppPathValue(const std::string& application, const std::string& pathValue);

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override;
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override;
  int LoadStringA(unsigned id, char* buffer, int size) override;
  int MessageBoxA(const char* text, const char* caption, unsigned style) override;
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override;
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override;
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override;
  long RegCloseKey(RegistryHandle key) override;
  bool DeleteFileA(const char* path) override;
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override;
  bool FindAnyMatch(const char* path) override;
  uint32_t GetFileAttributesA(const char* path) override;
  bool GetFileLocalDate(const char* path, LocalDate* date) override;
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override;
  bool WaitForProcess(ProcessHandle process) override;
  void CloseProcess(ProcessHandle process) override;

 private:
  std::vector<std::string> openKeys_;  // handle i + 1 is openKeys_[i]; "" once closed
};

}  // namespace kestario

#endif  // KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_
