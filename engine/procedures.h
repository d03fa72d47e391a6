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

// The type of a record, which its creator sets, for destroying it (DestroyRecord). The run knows
// a record's kind only through `mode`.
enum class RecordType : uint8_t { kDelete, kLaunch, kCopy, kMsgbox, kSwitch, kDate, kExist };

// The header that every record shares. The kind is known only through `mode`, which the run
// compares (ASCII case ignored) with the seven MODE words. Records have no virtual table: at
// 100,000 procedures its pointer alone would be 0.8 MB; DestroyRecord destroys one by `recordType`.
struct ProcedureRecord {
  // Records come from the program's one allocation path: null when memory runs out.
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* block) noexcept;
  TextString name;     // the section name, as the comma list gave it after trimming spaces
  TextString mode;     // MODE, expanded
  uint8_t result = 0;  // the result flag: 0 when built, set to 1 by a succeeding executor
  RecordType recordType = RecordType::kExist;  // set by the record's creator
};

struct DeleteRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kDelete;
  TextString file;
  uint32_t firstChange = 0;  // a rollback run: the journal's number of its first item; 0 none
};

struct LaunchRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kLaunch;
  TextString file;
  TextString param;
  TextString hash;  // HASH, expanded: the pins of FILE's items; empty when absent
  int32_t isWait = 0;
};

struct CopyRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kCopy;
  TextString from;
  TextString to;
  TextString inUse;           // INUSE, expanded; empty when absent
  TextString hash;            // HASH, expanded: the pins of FROM's items; empty when absent
  bool hasInUse = false;      // INUSE is present
  bool replaceInUse = false;  // INUSE is "REPLACE" (any case)
  uint32_t firstChange = 0;   // a rollback run: the journal's number of its first item; 0 none
};

struct MsgboxRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kMsgbox;
  TextString flag;
  TextString type;
  TextString text;
  TextString isAbort;
  TextString unseen;  // UNSEEN, optional: the answer when the box is not shown; empty when absent
};

struct SwitchRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kSwitch;
  TextString proc;
  TextString branch0;
  TextString branch1;
};

struct DateRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kDate;
  TextString file;
  TextString date;
};

struct ExistRecord : ProcedureRecord {
  static constexpr RecordType kType = RecordType::kExist;
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

// Destroys a record of any kind (its texts, then the record); nothing for null.
void DestroyRecord(ProcedureRecord* record);

// The stack of the run state (engine/run_state.h).
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
