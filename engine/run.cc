#include "engine/run.h"

#include "engine/comma_items.h"
#include "engine/context.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system.h"
#include "settings/messages.h"

namespace kestario {
namespace {

RunObserver* g_runObserver = nullptr;

// Item `index` of a comma list, without the spaces at its ends (tabs stay).
TextString TrimmedItem(const TextString& list, int32_t index) {
  TextString item = list.GetToken(index, ",");
  item.Trim(" ");
  return item;
}

// The count of a comma list that must have items; 0 after showing message 4.
int32_t RequiredItemCount(const ProcedureRecord& record, const TextString& list, const char* key) {
  int32_t count = list.CountTokens(",");
  if (count == 0) ReportError(kMsgBadItemCount, record.name.GetConstText(), key);
  return count;
}

bool Dispatch(ProcedureRecord* record) {
  const TextString& mode = record->mode;
  if (mode.IsEqualNoCase("EXIST")) return ExecuteExist(static_cast<ExistRecord*>(record));
  if (mode.IsEqualNoCase("DATE")) return ExecuteDate(static_cast<DateRecord*>(record));
  if (mode.IsEqualNoCase("SWITCH")) return ExecuteSwitch(static_cast<SwitchRecord*>(record));
  if (mode.IsEqualNoCase("MSGBOX")) return ExecuteMsgBox(static_cast<MsgboxRecord*>(record));
  if (mode.IsEqualNoCase("COPY")) return ExecuteCopy(static_cast<CopyRecord*>(record));
  if (mode.IsEqualNoCase("LAUNCH")) return ExecuteLaunch(static_cast<LaunchRecord*>(record));
  if (mode.IsEqualNoCase("DELETE")) return ExecuteDelete(static_cast<DeleteRecord*>(record));
  ReportError(kMsgBadSymbol, mode.GetConstText());
  return false;
}

// The MSGBOX TYPE words and their box styles.
struct BoxType {
  const char* name;
  unsigned style;
};
constexpr BoxType kBoxTypes[] = {
    {"ERROR", kMbIconError | kMbOk},
    {"INFORMATION", kMbIconInformation | kMbOk},
    {"WARNING", kMbIconWarning | kMbYesNo},
    {"QUESTION", kMbIconQuestion | kMbYesNo},
};

}  // namespace

RunObserver::~RunObserver() = default;

void SetRunObserver(RunObserver* observer) { g_runObserver = observer; }

bool RunProcedureList(ProcedureList list) {
  if (list == nullptr) return true;
  for (ProcedureRecord** record = list; *record != nullptr; ++record) {
    if (g_runObserver != nullptr) g_runObserver->ProcedureStarting(**record);
    bool succeeded = Dispatch(*record);
    if (g_runObserver != nullptr) g_runObserver->ProcedureEnded(**record, succeeded);
    if (!succeeded) return false;
  }
  return true;
}

bool ExecuteDelete(DeleteRecord* record) {
  int32_t count = RequiredItemCount(*record, record->file, "FILE");
  if (count == 0) return false;
  CommaItems paths(record->file);
  TextString path;
  for (int32_t i = 0; i < count; ++i) {
    paths.Next(&path);
    if (!CurrentSystem().DeleteFileA(path.GetConstText())) {
      ReportError(kMsgDeleteFailed, path.GetConstText());
      return false;
    }
  }
  record->result = 1;
  return true;
}

bool ExecuteLaunch(LaunchRecord* record) {
  int32_t count = RequiredItemCount(*record, record->file, "FILE");
  if (count == 0) return false;
  CommaItems programs(record->file);
  CommaItems parameterLists(record->param);
  TextString program;
  TextString parameters;
  for (int32_t i = 0; i < count; ++i) {
    programs.Next(&program);
    parameterLists.Next(&parameters);
    if (!LaunchProgram(program.GetConstText(), parameters.GetConstText(), record->isWait)) {
      ReportError(kMsgLaunchFailed, program.GetConstText(), parameters.GetConstText());
      return false;
    }
  }
  record->result = 1;
  return true;
}

bool ExecuteCopy(CopyRecord* record) {
  int32_t count = RequiredItemCount(*record, record->from, "FROM");
  if (count == 0) return false;
  CommaItems sources(record->from);
  CommaItems destinations(record->to);
  TextString source;
  TextString destination;
  for (int32_t i = 0; i < count; ++i) {
    sources.Next(&source);
    destinations.Next(&destination);
    if (!CurrentSystem().CopyFileA(source.GetConstText(), destination.GetConstText(), false)) {
      ReportError(kMsgCopyFailed, source.GetConstText(), destination.GetConstText());
      return false;
    }
  }
  record->result = 1;
  return true;
}

bool ExecuteMsgBox(MsgboxRecord* record) {
  if (record->flag.CountTokens(",") >= 2) {
    TextString name = TrimmedItem(record->flag, 0);
    ProcedureRecord* condition = FindProcedure(TopList(), name.GetConstText());
    if (condition == nullptr) {
      ReportError(kMsgBadSymbol, record->flag.GetConstText());
      return false;
    }
    if (record->flag.GetToken(1, ",").ToInt() != condition->result) return true;
  }

  const BoxType* type = nullptr;
  for (const BoxType& candidate : kBoxTypes) {
    if (record->type.IsEqualNoCase(candidate.name)) {
      type = &candidate;
      break;
    }
  }
  if (type == nullptr) {
    ReportError(kMsgBadSymbol, record->type.GetConstText());
    return false;
  }

  int answer = CurrentSystem().MessageBoxA(record->text.GetConstText(),
                                           g_appContext.caption.GetConstText(), type->style);
  int32_t abort;
  if (answer == kIdOk || answer == kIdYes) {
    record->result = 1;
    abort = record->isAbort.GetToken(0, ",").ToInt();
  } else if (answer == kIdCancel || answer == kIdNo) {
    abort = record->isAbort.GetToken(1, ",").ToInt();
  } else {
    return true;  // no answer (the box could not be shown)
  }
  return abort == 0;
}

bool ExecuteSwitch(SwitchRecord* record) {
  TextString name = record->proc;
  name.Trim(" ");
  ProcedureRecord* chooser = FindProcedure(TopList(), name.GetConstText());
  if (chooser == nullptr) {
    ReportError(kMsgBadSymbol, record->proc.GetConstText());
    return false;
  }
  bool takeOne = chooser->result != 0;
  // A script whose branches lead back into themselves would otherwise nest without end.
  if (g_updaterState.listStack.count >= kMaxListDepth) {
    ReportError(kMsgOutOfMemory, record->name.GetConstText());
    return false;
  }
  ProcedureList branch = BuildProcedureList(takeOne ? record->branch1 : record->branch0,
                                            record->name.GetConstText(), takeOne ? "1" : "0");
  if (branch == nullptr) return false;
  if (!RunProcedureList(TopList())) return false;
  FreeList(TopList());
  return true;
}

bool ExecuteDate(DateRecord* record) {
  int32_t count = RequiredItemCount(*record, record->file, "FILE");
  if (count == 0) return false;
  CommaItems paths(record->file);
  TextString path;
  for (int32_t i = 0; i < count; ++i) {
    paths.Next(&path);
    if (!IsFileDateOnOrAfter(path.GetConstText(), record->date.GetConstText())) {
      record->result = 1;
      return true;
    }
  }
  return true;
}

bool ExecuteExist(ExistRecord* record) {
  int32_t count = RequiredItemCount(*record, record->file, "FILE");
  if (count == 0) return false;
  CommaItems paths(record->file);
  TextString path;
  for (int32_t i = 0; i < count; ++i) {
    paths.Next(&path);
    if (!FileExists(path.GetConstText())) return true;
  }
  record->result = 1;
  return true;
}

}  // namespace kestario
