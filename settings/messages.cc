#include "settings/messages.h"

#include "platform/system.h"
#include "settings/run_log.h"
#include "text/message_catalog.h"

namespace kestario {
namespace {

const TextString* g_errorCaption = nullptr;

int LoadFromSystem(unsigned number, char* buffer, int size) {
  return CurrentSystem().LoadStringA(number, buffer, size);
}

// Whether boxes can be seen, asked of the system that was current then.
struct BoxAudience {
  bool decided = false;
  bool visible = true;
  uint32_t system = 0;  // SystemGeneration() when it was decided
};
BoxAudience g_audience;

// The error box shown last, for the end of the run.
struct LastError {
  int number = 0;
  TextString text;
};
LastError g_lastError;

bool BoxesCanBeSeen() {
  if (!g_audience.decided || g_audience.system != SystemGeneration()) {
    g_audience.visible = CurrentSystem().IsWindowStationVisible();
    g_audience.system = SystemGeneration();
    g_audience.decided = true;
  }
  return g_audience.visible;
}

const char* BoxKind(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconError:
      return "ERROR";
    case kMbIconWarning:
      return "WARNING";
    case kMbIconQuestion:
      return "QUESTION";
    default:
      return "INFORMATION";
  }
}

const char* AnswerName(int answer) {
  switch (answer) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    default:
      return nullptr;
  }
}

}  // namespace

void InstallMessageCatalog() { SetMessageLoader(&LoadFromSystem); }

void BindErrorCaption(const TextString* caption) { g_errorCaption = caption; }

void ForgetBoxAudience() {
  g_audience.decided = false;
  g_lastError.number = 0;
  g_lastError.text.SetText("");
}

int ShowBox(const char* text, const char* caption, unsigned style, int message,
            const UnseenAnswer& unseen) {
  bool visible = BoxesCanBeSeen();
  int answer = visible ? CurrentSystem().MessageBoxA(text, caption, style) : 0;
  // A box whose call failed counts as not shown when its MSGBOX says what to answer then; without
  // UNSEEN it answers 0, as it always has.
  bool hasUnseen = message == 0 && (unseen.answer != 0 || unseen.refused != nullptr);
  bool shown = visible && (answer != 0 || !hasUnseen);
  if (!shown && message == 0) answer = unseen.answer;
  if (IsRunLogOn()) {
    LogLine line;
    if (message != 0) {
      line.Add("error ").Number(message).Add(" ");
    } else {
      line.Add("box ").Add(BoxKind(style)).Add(" ");
    }
    line.Quoted(text);
    if (!shown) {
      line.Add(visible ? ": not shown, the box could not be displayed; answer "
                       : ": not shown, the window station is not visible; answer ");
    } else {
      line.Add(message != 0 ? ": shown" : ": answer ");
    }
    if (message == 0 || !shown) {
      const char* name = AnswerName(answer);
      if (name != nullptr) {
        line.Add(name);
      } else {
        line.Number(answer);
      }
    }
    if (!shown && unseen.refused != nullptr) {
      line.Add(" (UNSEEN ").Quoted(unseen.refused).Add(" names no button of this box)");
    } else if (!shown && answer != 0) {
      line.Add(" (UNSEEN)");
    }
    line.Write();
  }
  return answer;
}

int LastErrorNumber() { return g_lastError.number; }

const TextString& LastErrorText() { return g_lastError.text; }

void ReportError(int number, const char* first, const char* second) {
  TextString message;
  message.LoadMessage(number, first ? first : "", second ? second : "");
  const char* caption = g_errorCaption ? g_errorCaption->GetConstText() : DefaultCaption();
  g_lastError.number = number;
  if (!g_lastError.text.SetText(message.GetConstText())) g_lastError.text.SetText("");
  ShowBox(message.GetConstText(), caption, kMbOk | kMbIconError, number);
}

}  // namespace kestario
