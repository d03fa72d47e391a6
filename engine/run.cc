#include "engine/run.h"

#include "engine/comma_items.h"
#include "engine/context.h"
#include "engine/restart_copies.h"
#include "engine/rollback.h"
#include "engine/run_state.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/sha256.h"
#include "platform/stop_signals.h"
#include "platform/system.h"
#include "runlog/run_log.h"
#include "settings/messages.h"

namespace kestario {
namespace {

RunObserver* g_runObserver = nullptr;
// What stopped this run: its part of the run state.
StopReason& g_stop = CurrentRun().stop;

// The run log's line for a procedure that starts: its section, MODE and the values of its keys,
// expanded. The caller adds the keys and writes it.
LogLine ProcedureLine(const ProcedureRecord& record) {
  LogLine line;
  line.Add("run ").Add(record.name).Add(": MODE=").Quoted(record.mode);
  return line;
}

LogLine OutcomeLine(const ProcedureRecord& record) {
  LogLine line;
  line.Add(record.name).Add(": ");
  return line;
}

// Sets the result flag and logs it.
void SetResult(ProcedureRecord* record) {
  record->result = 1;
  if (IsRunLogOn()) OutcomeLine(*record).Add("flag 1").Write();
}

// Item `index` of a comma list, without the spaces at its ends (tabs stay).
TextString TrimmedItem(const TextString& list, int32_t index) {
  TextString item = list.GetToken(index, ",");
  item.Trim(" ");
  return item;
}

// A procedure's comma list that must have items (FILE, FROM), walked item by item in one pass,
// with the item at the same place of its paired list (PARAM, TO), which may have fewer.
class ItemWalk {
 public:
  // The lists must stay unchanged (and alive) while they are walked.
  explicit ItemWalk(const TextString& list, const TextString* paired = nullptr)
      : items_(list),
        pairs_(paired != nullptr ? *paired : list),
        paired_(paired != nullptr),
        count_(list.CountTokens(",")) {}

  // False, after showing message 4, when the list has no items.
  bool HasItems(const ProcedureRecord& record, const char* key) const {
    if (count_ == 0) ReportError(kMsgBadItemCount, record.name.GetConstText(), key);
    return count_ != 0;
  }
  // Moves to the next item (and its pair): false past the last one.
  bool Next() {
    if (next_ == count_) return false;
    ++next_;
    items_.Next(&item);
    if (paired_) pairs_.Next(&pair);
    return true;
  }
  // The index of the current item.
  int32_t Index() const { return next_ - 1; }
  // How many items the list has.
  int32_t Count() const { return count_; }

  TextString item;
  TextString pair;  // empty for a list without a pair

 private:
  CommaItems items_;
  CommaItems pairs_;
  bool paired_;
  int32_t count_;
  int32_t next_ = 0;
};

// A step that failed: shows `number` with its texts, unless a stop signal cut the step short (a
// stopped run shows no box; a program that was started runs on). False, for the procedure.
bool StepFailed(int number, const TextString& first, const TextString& second = TextString()) {
  if (!StopSignalled()) ReportError(number, first.GetConstText(), second.GetConstText());
  return false;
}

// The pin of one HASH item (spaces trimmed): `*pinned` is false for an empty item, which pins
// nothing. An item that is not 64 hexadecimal digits never counts as no pin: false after message 2
// with the section and "HASH".
bool ReadPin(const ProcedureRecord& record, const TextString& item, ContentPin* pin, bool* pinned) {
  *pinned = item.GetLength() != 0;
  if (!*pinned || ParseSha256Hex(item.GetConstText(), item.GetLength(), &pin->expected)) {
    return true;
  }
  ReportError(kMsgBadFormat, record.name.GetConstText(), "HASH");
  return false;
}

// A procedure's HASH items, walked in step with the items they pin (FROM or FILE).
class PinWalk {
 public:
  // `hashes` must stay unchanged (and alive) while it is walked.
  PinWalk(const ProcedureRecord& record, const TextString& hashes)
      : record_(record), hashes_(hashes), items_(hashes) {}

  // Checks the items paired with the first `count` items before any of them is acted on, so that
  // a mistyped pin changes nothing; false after message 2. Items past `count` are not used.
  bool AllValid(int32_t count) const {
    if (hashes_.GetLength() == 0) return true;
    CommaItems items(hashes_);
    TextString item;
    ContentPin pin;
    bool pinned;
    for (int32_t i = 0; i < count; ++i) {
      items.Next(&item);
      if (!ReadPin(record_, item, &pin, &pinned)) return false;
    }
    return true;
  }
  // The pin of the next item (see ReadPin).
  bool Next(ContentPin* pin, bool* pinned) {
    items_.Next(&item_);
    return ReadPin(record_, item_, pin, pinned);
  }

 private:
  const ProcedureRecord& record_;
  const TextString& hashes_;
  CommaItems items_;
  TextString item_;
};

// A pin's two digests as the log and message 12 write them.
struct PinTexts {
  explicit PinTexts(const ContentPin& pin) {
    FormatSha256Hex(pin.found, found);
    FormatSha256Hex(pin.expected, expected);
  }
  char found[kSha256HexLength + 1];
  char expected[kSha256HexLength + 1];
};

// The log's words for a pinned file whose bytes differ.
LogLine& AddPinMismatch(LogLine& line, const ContentPin& pin) {
  PinTexts texts(pin);
  return line.Add(": its SHA-256 is ")
      .Add(texts.found)
      .Add(", not the pinned ")
      .Add(texts.expected);
}

// A step whose pinned file had other bytes: shows message 12 naming it, unless a stop signal cut
// the step short. False, for the procedure.
bool PinStepFailed(const TextString& file, const ContentPin& pin) {
  PinTexts texts(pin);
  if (!StopSignalled()) {
    ReportError(kMsgPinMismatch, file.GetConstText(), texts.expected, texts.found);
  }
  return false;
}

// Whether `destination` already holds exactly the pinned bytes (the hash of the local file), so
// that its copy can be left as it is without opening the source.
bool IsAlreadyCurrent(const TextString& destination, const ContentPin& pin) {
  Sha256Digest local;
  return destination.GetLength() != 0 &&
         HashFile(CurrentSystem(), destination.GetConstText(), &local) && local == pin.expected;
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

void LogLaunch(const LaunchRecord& record, const LaunchOutcome& outcome, bool launched,
               const ContentPin& pin) {
  LogLine line = OutcomeLine(record);
  if (!outcome.started) {
    line.Add("not started ").Quoted(outcome.commandLine);
    if (pin.differs) AddPinMismatch(line, pin);
    line.Write();
    return;
  }
  line.Add("started ").Quoted(outcome.commandLine);
  if (!launched && CaughtStopSignal() != 0) {
    line.Add(", the wait for its end given up for the stop signal");
  } else if (!launched) {
    line.Add(", the wait for its end failed");
  } else if (!outcome.waited) {
    line.Add(", not waited for");
  } else if (outcome.exitCodeKnown) {
    line.Add(", waited, exit code ").Number(outcome.exitCode);
  } else {
    line.Add(", waited, exit code unknown");
  }
  if (IsRollbackOn()) line.Add("; what it changes is not undone");
  line.Write();
}

// The run log's line for a COPY pair that was made.
void LogCopied(const CopyRecord& record, const TextString& source, const TextString& destination,
               CopyOutcome outcome, const TextString& kept) {
  LogLine line = OutcomeLine(record);
  line.Add("copied ").Quoted(source).Add(" to ").Quoted(destination);
  if (outcome == CopyOutcome::kAtRestart) {
    line.Add(" at restart: it is held, the new file waits as ").Quoted(kept);
  } else if (outcome == CopyOutcome::kSetAside) {
    line.Add("; it was in use, the old file set aside as ").Quoted(kept);
  } else if (kept.GetLength() != 0) {
    line.Add(", the old file kept as ").Quoted(kept);
  }
  line.Write();
}

}  // namespace

RunObserver::~RunObserver() = default;

bool StopSignalled() {
  int signal = CaughtStopSignal();
  if (signal == 0) return false;
  if (g_stop.loggedSignal != signal && IsRunLogOn()) {
    LogLine().Add("signal ").Number(signal).Add(": the run stops").Write();
  }
  g_stop.loggedSignal = signal;
  return true;
}

const char* StoppedByAnswer() { return g_stop.byAnswer; }

void SetRunObserver(RunObserver* observer) { g_runObserver = observer; }

int UnseenAnswerFor(const TextString& unseen, unsigned style) {
  if ((style & kMbTypeMask) == kMbYesNo) {
    if (unseen.IsEqualNoCase("YES")) return kIdYes;
    if (unseen.IsEqualNoCase("NO")) return kIdNo;
    return 0;
  }
  return unseen.IsEqualNoCase("OK") ? kIdOk : 0;
}

bool RunProcedureList(ProcedureList list) {
  if (list == nullptr) return true;
  if (IsRollbackOn()) RecordPlannedChanges(list);
  for (ProcedureRecord** record = list; *record != nullptr; ++record) {
    if (StopSignalled()) return false;
    if (g_runObserver != nullptr) g_runObserver->ProcedureStarting(**record);
    bool succeeded = Dispatch(*record);
    if (g_runObserver != nullptr) g_runObserver->ProcedureEnded(**record, succeeded);
    if (!succeeded) return false;
  }
  return true;
}

bool ExecuteDelete(DeleteRecord* record) {
  if (IsRunLogOn()) ProcedureLine(*record).Key("FILE", record->file).Write();
  ItemWalk paths(record->file);
  if (!paths.HasItems(*record, "FILE")) return false;
  const TextString& path = paths.item;
  bool keep = IsRollbackOn();
  TextString kept;
  while (paths.Next()) {
    if (StopSignalled()) return false;
    ReleaseRunLogFile(path);
    bool deleted = keep ? DeleteKeepingFile(*record, paths.Index(), path, &kept)
                        : CurrentSystem().DeleteFileA(path.GetConstText());
    if (!deleted) {
      ResumeRunLog();
      if (IsRunLogOn()) OutcomeLine(*record).Add("not deleted ").Quoted(path).Write();
      return StepFailed(kMsgDeleteFailed, path);
    }
    if (IsRunLogOn()) {
      LogLine line = OutcomeLine(*record);
      line.Add("deleted ").Quoted(path);
      if (keep) line.Add(", kept as ").Quoted(kept);
      line.Write();
    }
  }
  SetResult(record);
  return true;
}

bool ExecuteLaunch(LaunchRecord* record) {
  if (IsRunLogOn()) {
    LogLine line = ProcedureLine(*record);
    line.Key("FILE", record->file)
        .Key("PARAM", record->param)
        .Add(" ISWAIT=")
        .Number(record->isWait);
    if (record->hash.GetLength() != 0) line.Key("HASH", record->hash);
    line.Write();
  }
  ItemWalk programs(record->file, &record->param);
  PinWalk pins(*record, record->hash);
  if (!programs.HasItems(*record, "FILE") || !pins.AllValid(programs.Count())) return false;
  const TextString& program = programs.item;
  const TextString& parameters = programs.pair;
  while (programs.Next()) {
    if (StopSignalled()) return false;
    ContentPin pin;
    bool pinned = false;
    if (!pins.Next(&pin, &pinned)) return false;
    LaunchOutcome outcome;
    bool launched = LaunchProgram(program.GetConstText(), parameters.GetConstText(), record->isWait,
                                  IsRunLogOn() ? &outcome : nullptr, pinned ? &pin : nullptr);
    if (IsRunLogOn()) LogLaunch(*record, outcome, launched, pin);
    // A stop signal gives up the wait for a program's end: the program runs on.
    if (pin.differs) return PinStepFailed(program, pin);
    if (!launched) return StepFailed(kMsgLaunchFailed, program, parameters);
  }
  SetResult(record);
  return true;
}

bool ExecuteCopy(CopyRecord* record) {
  if (IsRunLogOn()) {
    LogLine line = ProcedureLine(*record);
    line.Key("FROM", record->from).Key("TO", record->to);
    if (record->hasInUse) line.Key("INUSE", record->inUse);
    if (record->hash.GetLength() != 0) line.Key("HASH", record->hash);
    line.Write();
  }
  ItemWalk sources(record->from, &record->to);
  PinWalk pins(*record, record->hash);
  if (!sources.HasItems(*record, "FROM") || !pins.AllValid(sources.Count())) return false;
  const TextString& source = sources.item;
  const TextString& destination = sources.pair;
  bool keep = IsRollbackOn() || record->replaceInUse;
  TextString kept;
  while (sources.Next()) {
    if (StopSignalled()) return false;
    ContentPin pin;
    bool pinned = false;
    if (!pins.Next(&pin, &pinned)) return false;
    // A destination that already holds the pinned bytes is left as it is: the source is not even
    // opened, so a rerun costs a local hash, not a copy over the network.
    if (pinned && IsAlreadyCurrent(destination, pin)) {
      if (IsRunLogOn()) {
        OutcomeLine(*record)
            .Quoted(destination)
            .Add(" already current, ")
            .Quoted(source)
            .Add(" not read")
            .Write();
      }
      if (g_runObserver != nullptr) g_runObserver->CopyAlreadyCurrent(source, destination);
      TextString none;
      SupersedeRestartCopies(*record, destination, none);
      continue;
    }
    ReleaseRunLogFile(destination);
    CopyOutcome outcome = CopyOutcome::kFailed;
    KeptAs as = KeptAs::kNone;
    if (keep) {
      outcome = CopyKeepingFile(*record, sources.Index(), source, destination,
                                pinned ? &pin : nullptr, &kept);
    } else if (pinned) {
      outcome = CurrentSystem().CopyFileOverA(source.GetConstText(), destination.GetConstText(),
                                              nullptr, 0, &pin, &as);
    } else if (CurrentSystem().CopyFileA(source.GetConstText(), destination.GetConstText(),
                                         false)) {
      outcome = CopyOutcome::kCopied;
    }
    bool copied = outcome != CopyOutcome::kFailed;
    if (!copied) ResumeRunLog();
    if (IsRunLogOn()) {
      if (copied) {
        LogCopied(*record, source, destination, outcome, kept);
      } else {
        LogLine line = OutcomeLine(*record);
        line.Add("not copied ").Quoted(source).Add(" to ").Quoted(destination);
        if (pin.differs) AddPinMismatch(line, pin);
        line.Write();
      }
    }
    if (copied) {
      TextString none;
      SupersedeRestartCopies(*record, destination,
                             outcome == CopyOutcome::kAtRestart ? kept : none);
    }
    // A copy that a stop signal cut short left nothing behind.
    if (pin.differs) return PinStepFailed(source, pin);
    if (!copied) return StepFailed(kMsgCopyFailed, source, destination);
  }
  SetResult(record);
  return true;
}

bool ExecuteMsgBox(MsgboxRecord* record) {
  if (IsRunLogOn()) {
    LogLine line = ProcedureLine(*record);
    line.Key("FLAG", record->flag)
        .Key("TYPE", record->type)
        .Key("TEXT", record->text)
        .Key("ISABORT", record->isAbort);
    if (record->unseen.GetLength() != 0) line.Key("UNSEEN", record->unseen);
    line.Write();
  }
  if (record->flag.CountTokens(",") >= 2) {
    TextString name = TrimmedItem(record->flag, 0);
    ProcedureRecord* condition = FindProcedure(TopList(), name.GetConstText());
    if (condition == nullptr) {
      ReportError(kMsgBadSymbol, record->flag.GetConstText());
      return false;
    }
    int32_t expected = record->flag.GetToken(1, ",").ToInt();
    if (expected != condition->result) {
      if (IsRunLogOn()) {
        OutcomeLine(*record)
            .Add("flag of ")
            .Add(condition->name)
            .Add(" is ")
            .Number(condition->result)
            .Add(", not ")
            .Number(expected)
            .Add(": no box")
            .Write();
      }
      return true;
    }
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

  UnseenAnswer unseen;
  unseen.answer = UnseenAnswerFor(record->unseen, type->style);
  if (unseen.answer == 0 && record->unseen.GetLength() != 0) {
    unseen.refused = record->unseen.GetConstText();
  }
  WideText text;
  AnsiToWide(record->text.GetConstText(), &text);
  int answer = ShowBox(text, g_appContext.caption, type->style, 0, unseen);
  if (StopSignalled()) return false;  // the wait for the answer gave way to a stop signal
  int32_t abort;
  if (answer == kIdOk || answer == kIdYes) {
    SetResult(record);
    abort = record->isAbort.GetToken(0, ",").ToInt();
  } else if (answer == kIdCancel || answer == kIdNo) {
    abort = record->isAbort.GetToken(1, ",").ToInt();
  } else {
    return true;  // no answer (the box could not be shown)
  }
  if (abort == 0) return true;
  // Stopped by an answer even when memory cannot keep the section's name (it is then empty).
  if (!g_stop.answerSection.SetText(record->name.GetConstText())) g_stop.answerSection.SetText("");
  g_stop.byAnswer = g_stop.answerSection.GetConstText();
  if (IsRunLogOn()) OutcomeLine(*record).Add("the answer stops the run").Write();
  return false;
}

bool ExecuteSwitch(SwitchRecord* record) {
  if (IsRunLogOn()) {
    ProcedureLine(*record)
        .Key("PROC", record->proc)
        .Key("1", record->branch1)
        .Key("0", record->branch0)
        .Write();
  }
  TextString name = record->proc;
  name.Trim(" ");
  ProcedureRecord* chooser = FindProcedure(TopList(), name.GetConstText());
  if (chooser == nullptr) {
    ReportError(kMsgBadSymbol, record->proc.GetConstText());
    return false;
  }
  bool takeOne = chooser->result != 0;
  if (IsRunLogOn()) {
    OutcomeLine(*record)
        .Add("flag of ")
        .Add(chooser->name)
        .Add(" is ")
        .Number(chooser->result)
        .Add(", branch ")
        .Add(takeOne ? "1: " : "0: ")
        .Add(takeOne ? record->branch1 : record->branch0)
        .Write();
  }
  // A script whose branches lead back into themselves would otherwise nest without end.
  if (CurrentRun().listStack.count >= kMaxListDepth) {
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
  if (IsRunLogOn()) {
    ProcedureLine(*record).Key("FILE", record->file).Key("DATE", record->date).Write();
  }
  ItemWalk paths(record->file);
  if (!paths.HasItems(*record, "FILE")) return false;
  const TextString& path = paths.item;
  while (paths.Next()) {
    LocalDate date = {};
    bool opened = false;
    bool onOrAfter =
        IsFileDateOnOrAfter(path.GetConstText(), record->date.GetConstText(), &date, &opened);
    if (IsRunLogOn()) {
      LogLine line = OutcomeLine(*record);
      line.Quoted(path);
      if (opened) {
        line.Add(" dated ")
            .Number(date.year)
            .Add("/")
            .Number(date.month)
            .Add("/")
            .Number(date.day)
            .Add(onOrAfter ? ", on or after " : ", older than ");
      } else {
        line.Add(" cannot be opened, counts as older than ");
      }
      line.Quoted(record->date).Write();
    }
    if (!onOrAfter) {
      SetResult(record);
      return true;
    }
  }
  return true;
}

bool ExecuteExist(ExistRecord* record) {
  if (IsRunLogOn()) ProcedureLine(*record).Key("FILE", record->file).Write();
  ItemWalk paths(record->file);
  if (!paths.HasItems(*record, "FILE")) return false;
  const TextString& path = paths.item;
  while (paths.Next()) {
    bool exists = FileExists(path.GetConstText());
    if (IsRunLogOn())
      OutcomeLine(*record).Add(exists ? "exists " : "missing ").Quoted(path).Write();
    if (!exists) return true;
  }
  SetResult(record);
  return true;
}

}  // namespace kestario
