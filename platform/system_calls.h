// Every call of System as a list, for the systems that implement or pass on all of them: each
// role's list applies CALL(result type, name, (parameters), (arguments)) to each of its calls, in
// the order of its header, where the calls are documented. ForwardingSystem makes its calls from
// it, and a complete system may declare its own with DECLARE_SYSTEM_CALL (the Linux one and the
// fuzz targets' in-memory one do), so that a call the interface gains is added to those by one
// entry here, beside its declaration in its role's header.
#ifndef KESTARIO_PLATFORM_SYSTEM_CALLS_H_
#define KESTARIO_PLATFORM_SYSTEM_CALLS_H_

#include "platform/system.h"

// The calls of ProfileCalls (profile_calls.h).
#define PROFILE_SYSTEM_CALLS(CALL)                                                                 \
  CALL(void, GetPrivateProfileStringA,                                                             \
       (const char* section, const char* key, const char* defaultValue, TextString* value,         \
        const char* file),                                                                         \
       (section, key, defaultValue, value, file))                                                  \
  CALL(void, GetPrivateProfileSectionA,                                                            \
       (const char* section, ByteBuffer* entries, const char* file), (section, entries, file))     \
  CALL(void, FlushPrivateProfile, (const char* file), (file))                                      \
  CALL(bool, HoldPrivateProfileA, (const char* file, ByteBuffer* bytes), (file, bytes))            \
  CALL(void, ReleasePrivateProfileA, (const char* file), (file))                                   \
  CALL(long, RegOpenKeyExA,                                                                        \
       (RegistryHandle root, const char* subKey, uint32_t access, RegistryHandle* result),         \
       (root, subKey, access, result))                                                             \
  CALL(long, RegQueryValueExA,                                                                     \
       (RegistryHandle key, const char* valueName, uint8_t* data, uint32_t* size),                 \
       (key, valueName, data, size))                                                               \
  CALL(long, RegCloseKey, (RegistryHandle key), (key))                                             \
  CALL(                                                                                            \
      long, RegEnumValueA,                                                                         \
      (RegistryHandle key, uint32_t index, TextString * name, uint32_t * type, TextString * data), \
      (key, index, name, type, data))                                                              \
  CALL(bool, RegistryWritableByOthers, (), ())

// The calls of UiCalls (ui_calls.h).
#define UI_SYSTEM_CALLS(CALL)                                                                \
  CALL(uint16_t, GetUserDefaultUILanguage, (), ())                                           \
  CALL(int, LoadStringW, (uint16_t language, unsigned id, char16_t* buffer, int size),       \
       (language, id, buffer, size))                                                         \
  CALL(int, MessageBoxW, (const char16_t* text, const char16_t* caption, unsigned style),    \
       (text, caption, style))                                                               \
  CALL(bool, MultiByteToWideChar,                                                            \
       (unsigned codePage, uint32_t flags, const char* text, uint32_t size, WideText* wide), \
       (codePage, flags, text, size, wide))                                                  \
  CALL(bool, WideCharToMultiByte,                                                            \
       (unsigned codePage, const char16_t* text, uint32_t size, TextString* bytes),          \
       (codePage, text, size, bytes))                                                        \
  CALL(bool, IsDBCSLeadByte, (uint8_t byte), (byte))                                         \
  CALL(bool, IsWindowStationVisible, (), ())

// The calls of MachineCalls (machine_calls.h).
#define MACHINE_SYSTEM_CALLS(CALL)                                                    \
  CALL(uint32_t, GetModuleFileNameA, (char* buffer, uint32_t size), (buffer, size))   \
  CALL(uint32_t, GetWindowsDirectoryA, (char* buffer, uint32_t size), (buffer, size)) \
  CALL(bool, GetSystemDirectoryA, (TextString * folder), (folder))                    \
  CALL(bool, GetComputerNameA, (TextString * name), (name))                           \
  CALL(bool, GetUserNameA, (TextString * name), (name))                               \
  CALL(void, GetLocalTime, (LocalTime * time), (time))                                \
  CALL(uint32_t, GetCurrentProcessId, (), ())                                         \
  CALL(bool, WriteEventLogEntry,                                                      \
       (const char* source, uint16_t type, uint32_t id, const char* const* strings,   \
        uint16_t count, const char* text),                                            \
       (source, type, id, strings, count, text))

// The calls of FileCalls (file_calls.h).
#define FILE_SYSTEM_CALLS(CALL)                                                                   \
  CALL(bool, DeleteFileA, (const char* path), (path))                                             \
  CALL(bool, MoveFileAsideA, (const char* path, const KeptFileNames& names, KeptAs* as),          \
       (path, names, as))                                                                         \
  CALL(bool, CopyFileA, (const char* from, const char* to, bool failIfExists),                    \
       (from, to, failIfExists))                                                                  \
  CALL(CopyOutcome, CopyFileOverA,                                                                \
       (const char* from, const char* to, const KeptFileNames* names, uint32_t flags,             \
        ContentPin* pin, KeptAs* as),                                                             \
       (from, to, names, flags, pin, as))                                                         \
  CALL(bool, MoveFileExA, (const char* from, const char* to, uint32_t flags), (from, to, flags))  \
  CALL(bool, SetFileAttributesA, (const char* path, uint32_t attributes), (path, attributes))     \
  CALL(bool, GetFinalPathNameA, (const char* path, TextString* finalPath), (path, finalPath))     \
  CALL(bool, GetFileStampA, (const char* path, FileStamp* stamp), (path, stamp))                  \
  CALL(bool, ListFilesA, (const char* folder, const char* suffix, ByteBuffer* names),             \
       (folder, suffix, names))                                                                   \
  CALL(bool, PendingRenamesOntoA,                                                                 \
       (const char* to, const char* pattern, const char* keep, bool cancel, ByteBuffer* sources), \
       (to, pattern, keep, cancel, sources))                                                      \
  CALL(bool, GetDiskFreeSpaceExA, (const char* folder, uint64_t* available, uint64_t* volume),    \
       (folder, available, volume))                                                               \
  CALL(bool, GetPrivateDataFolderA, (const char* name, TextString* folder, bool create),          \
       (name, folder, create))                                                                    \
  CALL(bool, AnyFileMatchesA, (const char* path), (path))                                         \
  CALL(uint32_t, GetFileAttributesA, (const char* path), (path))                                  \
  CALL(bool, GetFullPathNameA, (const char* path, TextString* full), (path, full))                \
  CALL(bool, GetFileLocalDate, (const char* path, LocalDate* date), (path, date))                 \
  CALL(bool, AccessCheckA, (const char* path, uint32_t access), (path, access))                   \
  CALL(bool, GetBinaryTypeA, (const char* path, uint32_t* type), (path, type))

// The calls of FileHandleCalls (file_handle_calls.h).
#define FILE_HANDLE_SYSTEM_CALLS(CALL)                                                         \
  CALL(FileHandle, CreateFileA, (const char* path, FileAccess access), (path, access))         \
  CALL(bool, ReadFile,                                                                         \
       (FileHandle file, uint64_t offset, char* buffer, uint32_t size, uint32_t* done),        \
       (file, offset, buffer, size, done))                                                     \
  CALL(bool, WriteFile,                                                                        \
       (FileHandle file, uint64_t offset, const char* bytes, uint32_t length, uint32_t* done), \
       (file, offset, bytes, length, done))                                                    \
  CALL(bool, FlushFileBuffers, (FileHandle file), (file))                                      \
  CALL(bool, LockFileEx, (FileHandle file, uint32_t flags, uint64_t offset, uint64_t length),  \
       (file, flags, offset, length))                                                          \
  CALL(bool, UnlockFileEx, (FileHandle file, uint64_t offset, uint64_t length),                \
       (file, offset, length))                                                                 \
  CALL(bool, GetFileSizeEx, (FileHandle file, uint64_t * size), (file, size))                  \
  CALL(bool, GetFileInformationByHandle, (FileHandle file, FileIdentity * identity),           \
       (file, identity))                                                                       \
  CALL(bool, SetEndOfFile, (FileHandle file, uint64_t size), (file, size))                     \
  CALL(void, CloseHandle, (FileHandle file), (file))                                           \
  CALL(FileHandle, OpenFolderA, (const char* path, FileIdentity* identity), (path, identity))  \
  CALL(bool, GetFileStampInFolderA, (FileHandle folder, const char* name, FileStamp* stamp),   \
       (folder, name, stamp))                                                                  \
  CALL(bool, MoveFileInFolderA,                                                                \
       (FileHandle folder, const char* from, const char* to, uint32_t flags),                  \
       (folder, from, to, flags))                                                              \
  CALL(bool, DeleteFileInFolderA, (FileHandle folder, const char* name), (folder, name))       \
  CALL(bool, ClearFileAttributesInFolderA,                                                     \
       (FileHandle folder, const char* name, uint32_t attributes), (folder, name, attributes))

// The calls of ProcessCalls (process_calls.h).
#define PROCESS_SYSTEM_CALLS(CALL)                                                           \
  CALL(bool, CreateProcessA,                                                                 \
       (char* commandLine, const char* currentDirectory, ProcessHandle* process),            \
       (commandLine, currentDirectory, process))                                             \
  CALL(bool, CreateProcessPinnedA,                                                           \
       (char* commandLine, const char* currentDirectory, const char* image, ContentPin* pin, \
        ProcessHandle* process),                                                             \
       (commandLine, currentDirectory, image, pin, process))                                 \
  CALL(bool, WaitForProcess, (ProcessHandle process), (process))                             \
  CALL(bool, GetExitCodeProcess, (ProcessHandle process, uint32_t * code), (process, code))  \
  CALL(void, CloseProcess, (ProcessHandle process), (process))

// Every call of System, role by role.
#define ALL_SYSTEM_CALLS(CALL)   \
  PROFILE_SYSTEM_CALLS(CALL)     \
  UI_SYSTEM_CALLS(CALL)          \
  MACHINE_SYSTEM_CALLS(CALL)     \
  FILE_SYSTEM_CALLS(CALL)        \
  FILE_HANDLE_SYSTEM_CALLS(CALL) \
  PROCESS_SYSTEM_CALLS(CALL)

// Declares a call as an override, for a class body: ALL_SYSTEM_CALLS(DECLARE_SYSTEM_CALL).
#define DECLARE_SYSTEM_CALL(type, name, parameters, arguments) type name parameters override;

#endif  // KESTARIO_PLATFORM_SYSTEM_CALLS_H_
