// Procedure records, the lists built from comma lists of section names, and the stack of the
// lists being run.
#ifndef KESTARIO_ENGINE_PROCEDURES_H_
#define KESTARIO_ENGINE_PROCEDURES_H_

#include <cstddef>
#include <cstdint>
#include <new>

#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {

// The header that every record shares. The kind is known only through `mode`, which the run
// compares (ASCII case ignored) with the seven MODE words.
struct ProcedureRecord {
  virtual ~ProcedureRecord();
  // Records come from the program's one allocation path: null when memory runs out.
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* block) noexcept;
  TextString name;     // the section name, as the comma list gave it after trimming spaces
  TextString mode;     // MODE, expanded
  uint8_t result = 0;  // the result flag: 0 when built, set to 1 by a succeeding executor
};

struct DeleteRecord : ProcedureRecord {
  TextString file;
};

struct LaunchRecord : ProcedureRecord {
  TextString file;
  TextString param;
  int32_t isWait = 0;
};

struct CopyRecord : ProcedureRecord {
  TextString from;
  TextString to;
};

struct MsgboxRecord : ProcedureRecord {
  TextString flag;
  TextString type;
  TextString text;
  TextString isAbort;
};

struct SwitchRecord : ProcedureRecord {
  TextString proc;
  TextString branch0;
  TextString branch1;
};

struct DateRecord : ProcedureRecord {
  TextString file;
  TextString date;
};

struct ExistRecord : ProcedureRecord {
  TextString file;
};

// n + 1 record pointers: the records in the order of the comma list, then null. Never empty.
using ProcedureList = ProcedureRecord**;

// The lists being run, bottom first; the top is the list being run now.
struct ListStack {
  int32_t count = 0;
  ByteBuffer entries;  // one ProcedureList pointer per list
};

// How many lists may lie on the stack at once: far beyond any real script, and well within the
// call stack that each nested SWITCH run takes.
constexpr int32_t kMaxListDepth = 256;

// Builds the list named by `commaList` (every section read and expanded now) and pushes it.
// `sectionName` and `keyName` say where the comma list came from, for message 4. Returns null
// after showing the failure; a list is built whole or not at all.
ProcedureList BuildProcedureList(const TextString& commaList, const char* sectionName,
                                 const char* keyName);

ProcedureRecord* CreateDeleteRecord(const TextString& section);
ProcedureRecord* CreateLaunchRecord(const TextString& section);
ProcedureRecord* CreateCopyRecord(const TextString& section);
ProcedureRecord* CreateMsgboxRecord(const TextString& section);
ProcedureRecord* CreateSwitchRecord(const TextString& section);
ProcedureRecord* CreateDateRecord(const TextString& section);
ProcedureRecord* CreateExistRecord(const TextString& section);

// The stack of the global UpdaterState.
bool PushList(ProcedureList list);
ProcedureList TopList();
ProcedureList ListAt(int32_t index);
int32_t RemoveList(ProcedureList list);
int32_t FreeList(ProcedureList list);
void FreeAllLists();

// The first record of `list` named `name` (ASCII case ignored), or null.
ProcedureRecord* FindProcedure(ProcedureList list, const char* name);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_PROCEDURES_H_
