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

void ForgetBoxAudience() { g_audience.decided = false; }

int ShowBox(const char* text, const char* caption, unsigned style, int message) {
  bool shown = BoxesCanBeSeen();
  int answer = shown ? CurrentSystem().MessageBoxA(text, caption, style) : 0;
  if (IsRunLogOn()) {
    LogLine line;
    if (message != 0) {
      line.Add("error ").Number(message).Add(" ");
    } else {
      line.Add("box ").Add(BoxKind(style)).Add(" ");
    }
    line.Quoted(text);
    if (!shown) {
      line.Add(": not shown, the window station is not visible; answer 0");
    } else if (message != 0) {
      line.Add(": shown");
    } else {
      const char* name = AnswerName(answer);
      line.Add(": answer ");
      if (name != nullptr) {
        line.Add(name);
      } else {
        line.Number(answer);
      }
    }
    line.Write();
  }
  return answer;
}

void ReportError(int number, const char* first, const char* second) {
  TextString message;
  message.LoadMessage(number, first ? first : "", second ? second : "");
  const char* caption = g_errorCaption ? g_errorCaption->GetConstText() : DefaultCaption();
  NoteReportedMessage(number);
  ShowBox(message.GetConstText(), caption, kMbOk | kMbIconError, number);
}

}  // namespace kestario
