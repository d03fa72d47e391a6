#include "engine/procedures.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/comma_items.h"
#include "engine/context.h"
#include "engine/run_state.h"
#include "runlog/run_log.h"
#include "settings/messages.h"
#include "settings/symbols.h"
#include "text/growable_array.h"
#include "text/hash.h"

namespace kestario {

void* ProcedureRecord::operator new(size_t size, const std::nothrow_t&) noexcept {
  return AllocateBlock(size);
}

void ProcedureRecord::operator delete(void* block) noexcept { ReleaseBlock(block); }

namespace {

// One text key of a kind: the key's name and the field it fills.
template <typename Record>
struct TextKey {
  const char* key;
  TextString Record::*field;
};

// Allocates a record of kind `Record`, names it and reads its keys in order; on a missing key
// (already shown by the settings reader) the record is destroyed and null returned. MODE is read
// too, unless the caller has just read it and passes it in `mode`.
template <typename Record, size_t kKeys>
ProcedureRecord* CreateRecord(const TextString& section, const TextString* mode,
                              const char* objectName, const TextKey<Record> (&keys)[kKeys]) {
  Record* record = new (std::nothrow) Record;
  if (record == nullptr) {
    ReportError(kMsgOutOfMemory, objectName);
    return nullptr;
  }
  record->recordType = Record::kType;
  record->name.Assign(section);
  const char* name = section.GetConstText();
  bool complete = true;
  if (mode != nullptr) {
    record->mode.Assign(*mode);
  } else {
    complete = ReadSetting(name, "MODE", &record->mode);
  }
  for (size_t i = 0; complete && i < kKeys; ++i) {
    complete = ReadSetting(name, keys[i].key, &(record->*keys[i].field));
  }
  if (!complete) {
    delete record;
    return nullptr;
  }
  return record;
}

ProcedureList EntryAt(const ByteBuffer& entries, int32_t index) {
  ProcedureList list;
  std::memcpy(&list, entries.GetConstData() + sizeof(ProcedureList) * static_cast<size_t>(index),
              sizeof list);
  return list;
}

ListStack& Stack() { return CurrentRun().listStack; }

// Name indexes of long lists. A MSGBOX with a FLAG and a SWITCH look their procedure up by name
// in the list being run; scanning the list each time made a list of n such procedures cost n
// squared. The index of a list is built at its first lookup and dropped when the list is freed;
// lists of up to kScannedLength records are still scanned. Lookups give what the scan gives: the
// first record of the name, names compared ignoring ASCII case.
constexpr int32_t kScannedLength = 16;

struct NameIndex {
  ProcedureList list;
  int32_t* slots;  // open addressing: the number of the first record of a name, or -1
  uint32_t mask;   // slot count - 1
};

// The indexes of the lists looked up so far: a few at most, one per list on the stack.
struct NameIndexes {
  GrowableArray<NameIndex> items{4};
  ~NameIndexes() {
    for (size_t i = 0; i < items.count(); ++i) std::free(items[i].slots);
  }
};
NameIndexes g_nameIndexes;

uint32_t HashName(const char* name) {
  return static_cast<uint32_t>(HashText(kHashStart, name, HashCase::kFoldAscii));
}

const NameIndex* FindIndex(ProcedureList list) {
  for (size_t i = 0; i < g_nameIndexes.items.count(); ++i) {
    if (g_nameIndexes.items[i].list == list) return &g_nameIndexes.items[i];
  }
  return nullptr;
}

void DropIndex(ProcedureList list) {
  for (size_t i = 0; i < g_nameIndexes.items.count(); ++i) {
    if (g_nameIndexes.items[i].list != list) continue;
    std::free(g_nameIndexes.items[i].slots);
    g_nameIndexes.items.RemoveAt(i);
    return;
  }
}

// Indexes `list` of `length` records; null when memory runs out (lookups then scan).
const NameIndex* BuildIndex(ProcedureList list, int32_t length) {
  // Far more records than memory could hold: keeps the slot count within 32 bits.
  if (length > (1 << 28)) return nullptr;
  if (!g_nameIndexes.items.Reserve(g_nameIndexes.items.count() + 1)) return nullptr;
  uint32_t slotCount = 32;
  while (slotCount < static_cast<uint32_t>(length) * 2) slotCount *= 2;
  int32_t* slots = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * slotCount));
  if (slots == nullptr) return nullptr;
  uint32_t mask = slotCount - 1;
  for (uint32_t i = 0; i < slotCount; ++i) slots[i] = -1;
  for (int32_t i = 0; i < length; ++i) {
    const char* name = list[i]->name.GetConstText();
    uint32_t slot = HashName(name) & mask;
    while (slots[slot] != -1 && !list[slots[slot]]->name.IsEqualNoCase(name)) {
      slot = (slot + 1) & mask;
    }
    if (slots[slot] == -1) slots[slot] = i;  // an earlier record of the name keeps its slot
  }
  g_nameIndexes.items.Append(NameIndex{list, slots, mask});  // room reserved above
  return &g_nameIndexes.items.Last();
}

// The creators of the seven kinds. `mode` is the MODE value already read for the section, or null
// to read it with the other keys.
ProcedureRecord* CreateDelete(const TextString& section, const TextString* mode) {
  static const TextKey<DeleteRecord> keys[] = {{"FILE", &DeleteRecord::file}};
  return CreateRecord(section, mode, "DELETE_INFO", keys);
}

ProcedureRecord* CreateLaunch(const TextString& section, const TextString* mode) {
  static const TextKey<LaunchRecord> keys[] = {{"FILE", &LaunchRecord::file},
                                               {"PARAM", &LaunchRecord::param}};
  ProcedureRecord* record = CreateRecord(section, mode, "LAUNCH_INFO", keys);
  if (record == nullptr) return nullptr;
  // isWait is 0 unless ISWAIT begins with a number.
  LaunchRecord* launch = static_cast<LaunchRecord*>(record);
  if (!ReadSettingInt(section.GetConstText(), "ISWAIT", &launch->isWait)) {
    DestroyRecord(record);
    return nullptr;
  }
  // HASH is optional: absent, nothing is pinned.
  if (!ReadOptionalSetting(section.GetConstText(), "HASH", &launch->hash)) launch->hash.SetText("");
  return record;
}

ProcedureRecord* CreateCopy(const TextString& section, const TextString* mode) {
  static const TextKey<CopyRecord> keys[] = {{"FROM", &CopyRecord::from}, {"TO", &CopyRecord::to}};
  ProcedureRecord* record = CreateRecord(section, mode, "COPY_INFO", keys);
  if (record == nullptr) return nullptr;
  // INUSE is optional: absent, a held destination fails as it always has.
  CopyRecord* copy = static_cast<CopyRecord*>(record);
  copy->hasInUse = ReadOptionalSetting(section.GetConstText(), "INUSE", &copy->inUse);
  if (!copy->hasInUse) copy->inUse.SetText("");
  copy->replaceInUse = copy->hasInUse && copy->inUse.IsEqualNoCase("REPLACE");
  if (!ReadOptionalSetting(section.GetConstText(), "HASH", &copy->hash)) copy->hash.SetText("");
  return record;
}

ProcedureRecord* CreateMsgbox(const TextString& section, const TextString* mode) {
  static const TextKey<MsgboxRecord> keys[] = {{"FLAG", &MsgboxRecord::flag},
                                               {"TYPE", &MsgboxRecord::type},
                                               {"TEXT", &MsgboxRecord::text},
                                               {"ISABORT", &MsgboxRecord::isAbort}};
  ProcedureRecord* record = CreateRecord(section, mode, "MSGBOX_INFO", keys);
  // UNSEEN is optional: absent, the box answers nothing when it is not shown.
  if (record != nullptr) {
    TextString& unseen = static_cast<MsgboxRecord*>(record)->unseen;
    if (!ReadOptionalSetting(section.GetConstText(), "UNSEEN", &unseen)) unseen.SetText("");
  }
  return record;
}

ProcedureRecord* CreateSwitch(const TextString& section, const TextString* mode) {
  static const TextKey<SwitchRecord> keys[] = {
      {"PROC", &SwitchRecord::proc}, {"0", &SwitchRecord::branch0}, {"1", &SwitchRecord::branch1}};
  return CreateRecord(section, mode, "SWITCH_INFO", keys);
}

ProcedureRecord* CreateDate(const TextString& section, const TextString* mode) {
  static const TextKey<DateRecord> keys[] = {{"FILE", &DateRecord::file},
                                             {"DATE", &DateRecord::date}};
  return CreateRecord(section, mode, "DATE_INFO", keys);
}

ProcedureRecord* CreateExist(const TextString& section, const TextString* mode) {
  static const TextKey<ExistRecord> keys[] = {{"FILE", &ExistRecord::file}};
  return CreateRecord(section, mode, "EXIST_INFO", keys);
}

// The seven kinds, in the order in which MODE is compared with them.
struct Kind {
  const char* mode;
  ProcedureRecord* (*create)(const TextString& section, const TextString* mode);
};
constexpr Kind kKinds[] = {
    {"EXIST", &CreateExist},   {"DATE", &CreateDate}, {"SWITCH", &CreateSwitch},
    {"MSGBOX", &CreateMsgbox}, {"COPY", &CreateCopy}, {"LAUNCH", &CreateLaunch},
    {"DELETE", &CreateDelete},
};

// Reads MODE of `section` and creates the record of that kind; null after a shown failure. The
// record takes the MODE just read: reading it again would give the same value, the script and
// the symbols being unchanged while a list is built.
ProcedureRecord* CreateRecordOfSection(const TextString& section) {
  TextString mode;
  if (!ReadSetting(section.GetConstText(), "MODE", &mode)) return nullptr;
  for (const Kind& kind : kKinds) {
    if (mode.IsEqualNoCase(kind.mode)) return kind.create(section, &mode);
  }
  ReportError(kMsgBadSymbol, mode.GetConstText());
  return nullptr;
}

}  // namespace

ProcedureRecord* CreateDeleteRecord(const TextString& section) {
  return CreateDelete(section, nullptr);
}

ProcedureRecord* CreateLaunchRecord(const TextString& section) {
  return CreateLaunch(section, nullptr);
}

ProcedureRecord* CreateCopyRecord(const TextString& section) {
  return CreateCopy(section, nullptr);
}

ProcedureRecord* CreateMsgboxRecord(const TextString& section) {
  return CreateMsgbox(section, nullptr);
}

ProcedureRecord* CreateSwitchRecord(const TextString& section) {
  return CreateSwitch(section, nullptr);
}

ProcedureRecord* CreateDateRecord(const TextString& section) {
  return CreateDate(section, nullptr);
}

ProcedureRecord* CreateExistRecord(const TextString& section) {
  return CreateExist(section, nullptr);
}

ProcedureList BuildProcedureList(const TextString& commaList, const char* sectionName,
                                 const char* keyName) {
  int32_t count = commaList.CountTokens(",");
  if (count == 0) {
    ReportError(kMsgBadItemCount, sectionName, keyName);
    return nullptr;
  }
  size_t size = (static_cast<size_t>(count) + 1) * sizeof(ProcedureRecord*);
  ProcedureList list = static_cast<ProcedureList>(AllocateBlock(size));
  if (list == nullptr) {
    ReportError(kMsgOutOfMemory, "ProcList");
    return nullptr;
  }
  std::memset(list, 0, size);
  // Every value of the list comes from the script as it is now: one look at the file, not one
  // per value.
  BeginScriptReads();
  CommaItems sections(commaList);
  TextString section;
  for (int32_t i = 0; i < count; ++i) {
    sections.Next(&section);
    list[i] = CreateRecordOfSection(section);
    if (list[i] == nullptr) {
      FreeList(list);
      return nullptr;
    }
  }
  if (!PushList(list)) {
    ReportError(kMsgOutOfMemory, "ProcListArray");
    FreeList(list);
    return nullptr;
  }
  if (IsRunLogOn()) {
    LogLine line;
    line.Add("list ").Add(sectionName).Add(" ").Add(keyName).Add(":");
    for (ProcedureRecord** record = list; *record != nullptr; ++record) {
      line.Add(record == list ? " " : ", ").Add((*record)->name);
    }
    line.Write();
  }
  return list;
}

void DestroyRecord(ProcedureRecord* record) {
  if (record == nullptr) return;
  switch (record->recordType) {
    case RecordType::kDelete:
      delete static_cast<DeleteRecord*>(record);
      return;
    case RecordType::kLaunch:
      delete static_cast<LaunchRecord*>(record);
      return;
    case RecordType::kCopy:
      delete static_cast<CopyRecord*>(record);
      return;
    case RecordType::kMsgbox:
      delete static_cast<MsgboxRecord*>(record);
      return;
    case RecordType::kSwitch:
      delete static_cast<SwitchRecord*>(record);
      return;
    case RecordType::kDate:
      delete static_cast<DateRecord*>(record);
      return;
    case RecordType::kExist:
      delete static_cast<ExistRecord*>(record);
      return;
  }
}

bool PushList(ProcedureList list) {
  if (list == nullptr) return false;
  ListStack& stack = Stack();
  size_t used = sizeof(ProcedureList) * static_cast<size_t>(stack.count);
  if (stack.entries.GetSize() >= used + sizeof list) {
    // Room left by a removal whose shrinking copy found no memory.
    std::memcpy(stack.entries.GetData() + used, &list, sizeof list);
  } else {
    // Append to a copy, so that running out of memory leaves the stack exactly as it was.
    ByteBuffer grown(stack.entries);
    if (grown.GetSize() != stack.entries.GetSize() || !grown.AppendBytes(&list, sizeof list)) {
      return false;
    }
    stack.entries.Swap(grown);
  }
  ++stack.count;
  return true;
}

ProcedureList TopList() {
  ListStack& stack = Stack();
  return stack.count == 0 ? nullptr : ListAt(stack.count - 1);
}

ProcedureList ListAt(int32_t index) {
  ListStack& stack = Stack();
  if (index < 0 || index >= stack.count) return nullptr;
  return EntryAt(stack.entries, index);
}

int32_t RemoveList(ProcedureList list) {
  ListStack& stack = Stack();
  for (int32_t i = stack.count - 1; i >= 0; --i) {
    if (EntryAt(stack.entries, i) != list) continue;
    // Move the entries above it down in place, then shrink the block to the exact size. Should
    // the shrinking copy find no memory, the block keeps one unused entry at its end, which the
    // next push fills: `count` stays right either way.
    uint8_t* data = stack.entries.GetData();
    size_t at = sizeof(ProcedureList) * static_cast<size_t>(i);
    size_t used = sizeof(ProcedureList) * static_cast<size_t>(stack.count);
    std::memmove(data + at, data + at + sizeof(ProcedureList), used - at - sizeof(ProcedureList));
    --stack.count;
    uint32_t kept = static_cast<uint32_t>(used - sizeof(ProcedureList));
    if (kept == 0) {
      stack.entries.Free();
    } else {
      ByteBuffer shrunk = stack.entries.SubBuffer(0, kept);
      if (shrunk.GetSize() == kept) stack.entries.Swap(shrunk);
    }
    break;
  }
  return stack.count;
}

int32_t FreeList(ProcedureList list) {
  if (list == nullptr) return 0;
  DropIndex(list);
  for (ProcedureRecord** record = list; *record != nullptr; ++record) DestroyRecord(*record);
  ReleaseBlock(list);
  return RemoveList(list);
}

void FreeAllLists() {
  while (FreeList(TopList()) != 0) {
  }
}

ProcedureRecord* FindProcedure(ProcedureList list, const char* name) {
  if (list == nullptr) return nullptr;
  const NameIndex* index = FindIndex(list);
  if (index == nullptr) {
    int32_t length = 0;
    for (ProcedureRecord** record = list; *record != nullptr; ++record) {
      if (length <= kScannedLength && (*record)->name.IsEqualNoCase(name)) return *record;
      if (length < INT32_MAX) ++length;
    }
    if (length <= kScannedLength) return nullptr;
    index = BuildIndex(list, length);
    if (index == nullptr) {
      for (ProcedureRecord** record = list; *record != nullptr; ++record) {
        if ((*record)->name.IsEqualNoCase(name)) return *record;
      }
      return nullptr;
    }
  }
  const char* wanted = name != nullptr ? name : "";
  for (uint32_t slot = HashName(wanted) & index->mask; index->slots[slot] != -1;
       slot = (slot + 1) & index->mask) {
    ProcedureRecord* record = list[index->slots[slot]];
    if (record->name.IsEqualNoCase(wanted)) return record;
  }
  return nullptr;
}

}  // namespace kestario
