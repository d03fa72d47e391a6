#include <windows.h>

#include <algorithm>

#include "tools/console/console_output.h"
#include "tools/report/log_files.h"

namespace kestario {
namespace report {
namespace {

// ReadFile and WriteFile take at most this many bytes at a time.
constexpr DWORD kLargestTransfer = 1u << 30;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const wchar_t* text, size_t size) {
  if (size == 0) return std::string();
  int length =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), &narrow[0], length, nullptr,
                      nullptr);
  return narrow;
}

// The system's words for error `code`, in its language, as UTF-8.
std::string Reason(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (length != 0 && text != nullptr) {
    while (length != 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                           text[length - 1] == L' ' || text[length - 1] == L'.')) {
      --length;
    }
    reason = Narrow(text, length);
  }
  if (text != nullptr) LocalFree(text);
  return reason + (reason.empty() ? "" : " ") + "(error " + std::to_string(code) + ")";
}

}  // namespace

LogFile::~LogFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool LogFile::Open(const std::string& path, std::string* error) {
  // Shared for reading, writing and deleting: the machines that append to the log go on.
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = Reason(GetLastError());
    return false;
  }
  // Only a file on a disk is read: a pipe's or a device's reading (a console, a port) waits for
  // data that may never come.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    *error = "not a file on a disk (a pipe or a device): not read";
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(handle);
  return true;
}

int64_t LogFile::Read(char* buffer, size_t size, std::string* error) {
  DWORD got = 0;
  DWORD chunk = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr)) {
    *error = Reason(GetLastError());
    return -1;
  }
  return got;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* files, std::string* error) {
  std::string prefix = folder;
  if (prefix.empty() || (prefix.back() != '\\' && prefix.back() != '/')) prefix.push_back('\\');
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW(Wide(prefix + "*").c_str(), FindExInfoBasic, &entry,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) {  // an empty folder (not even "." on a drive's root)
      files->clear();
      return true;
    }
    *error = Reason(code);
    return false;
  }
  std::vector<std::string> found;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      found.push_back(prefix + Narrow(entry.cFileName, wcslen(entry.cFileName)));
    }
  } while (FindNextFileW(find, &entry));
  DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES) {
    *error = Reason(code);
    return false;
  }
  std::sort(found.begin(), found.end());
  *files = std::move(found);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = Reason(GetLastError());
    return false;
  }
  bool written = console::WriteAll(reinterpret_cast<intptr_t>(handle), bytes.data(), bytes.size());
  DWORD code = GetLastError();
  CloseHandle(handle);
  if (!written) *error = Reason(code);
  return written;
}

std::string ShownPath(const std::string& path) { return path; }

std::string Utf8(const wchar_t* text) { return Narrow(text, wcslen(text)); }

}  // namespace report
}  // namespace kestario
