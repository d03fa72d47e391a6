#include "settings/messages.h"

#include <cstring>

#include "platform/encoding.h"
#include "platform/stop_signals.h"
#include "platform/system.h"
#include "runlog/log_grammar.h"
#include "runlog/run_log.h"
#include "text/text_string.h"

namespace kestario {
namespace {

// A catalog text is loaded into this many units with the terminator.
constexpr int kCatalogTextSize = 256;
// The bound of a formatted message: what this many bytes of the ANSI code page hold.
constexpr uint32_t kMessageLimit = kFormatBufferSize - 1;

const WideText* g_errorCaption = nullptr;

// Whether boxes can be seen, asked of the system that was current then.
struct BoxAudience {
  bool decided = false;
  bool visible = true;
  uint32_t system = 0;  // SystemGeneration() when it was decided
};
BoxAudience g_audience;

// The error box that stopped the run, for the end of the run.
struct StoppingError {
  int number = 0;
  WideText text;
};
StoppingError g_stoppingError;

bool BoxesCanBeSeen() {
  if (!g_audience.decided || g_audience.system != SystemGeneration()) {
    g_audience.visible = CurrentSystem().IsWindowStationVisible();
    g_audience.system = SystemGeneration();
    g_audience.decided = true;
  }
  return g_audience.visible;
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

// A message made of the catalog's text and the script's texts, bounded by what kMessageLimit
// bytes of the ANSI code page hold. The part that crosses the bound is cut at its byte there,
// as formatting the message in the code page would have cut it.
class MessageBuilder {
 public:
  explicit MessageBuilder(WideText* message) : message_(message) { message_->Clear(); }

  bool ok() const { return ok_; }

  void AddProgramText(const char16_t* units, uint32_t count) {
    if (count == 0 || room_ == 0 || !ok_) return;
    TextString bytes;
    if (!CurrentSystem().WideCharToMultiByte(kCpAcp, units, count, &bytes)) {
      ok_ = false;
      return;
    }
    uint32_t length = static_cast<uint32_t>(bytes.GetLength());
    if (length <= room_) {
      room_ -= length;
      Keep(message_->Append(units, count));
      return;
    }
    AddBytes(bytes.GetConstText(), length);
  }

  void AddScriptText(const char* text) {
    if (room_ == 0 || !ok_) return;
    AddBytes(text, static_cast<uint32_t>(std::strlen(text)));
  }

 private:
  void AddBytes(const char* bytes, uint32_t length) {
    if (length > room_) length = room_;
    room_ -= length;
    WideText piece;
    Keep(AnsiToWide(bytes, length, &piece) && message_->Append(piece));
  }

  void Keep(bool done) {
    if (!done) ok_ = false;
  }

  WideText* message_;
  uint32_t room_ = kMessageLimit;
  bool ok_ = true;
};

}  // namespace

uint16_t TextLanguage() {
  // The primary language, whatever the country: Japanese is 0x11.
  constexpr uint16_t kPrimaryLanguage = 0x3FF;
  uint16_t desktop = CurrentSystem().GetUserDefaultUILanguage();
  return (desktop & kPrimaryLanguage) == (kLangJapanese & kPrimaryLanguage) ? kLangJapanese
                                                                            : kLangEnglish;
}

void BindErrorCaption(const WideText* caption) { g_errorCaption = caption; }

void ForgetBoxAudience() {
  g_audience.decided = false;
  g_stoppingError.number = 0;
  g_stoppingError.text.Clear();
}

namespace {

// The run log's line of a box, up to its text: "error N" or "box KIND", then the text.
LogLine BoxLine(int message, unsigned style, const WideText& text) {
  LogLine line;
  if (message != 0) {
    line.Add(runlog::kError).Number(message).Add(" ");
  } else {
    line.Add("box ").Add(MessageBoxKind(style)).Add(" ");
  }
  line.Quoted(text);
  return line;
}

}  // namespace

int ShowBox(const WideText& text, const WideText& caption, unsigned style, int message,
            const UnseenAnswer& unseen) {
  bool visible = BoxesCanBeSeen();
  int answer =
      visible ? CurrentSystem().MessageBoxW(text.GetUnits(), caption.GetUnits(), style) : 0;
  // A wait that a stop signal ended answers nothing, whatever UNSEEN says.
  int signal = answer == 0 && visible ? CaughtStopSignal() : 0;
  if (signal != 0) {
    if (IsRunLogOn())
      BoxLine(message, style, text).Add(": no answer, signal ").Number(signal).Write();
    return 0;
  }
  // A box whose call failed counts as not shown when its MSGBOX says what to answer then; without
  // UNSEEN it answers 0, as it always has.
  bool hasUnseen = message == 0 && (unseen.answer != 0 || unseen.refused != nullptr);
  bool shown = visible && (answer != 0 || !hasUnseen);
  if (!shown && message == 0) answer = unseen.answer;
  if (IsRunLogOn()) {
    LogLine line = BoxLine(message, style, text);
    if (!shown) {
      line.Add(runlog::kNotShown)
          .Add(visible ? "the box could not be displayed; answer "
                       : "the window station is not visible; answer ");
    } else {
      line.Add(message != 0 ? runlog::kShown : ": answer ");
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

int StoppingErrorNumber() { return g_stoppingError.number; }

const WideText& StoppingErrorText() { return g_stoppingError.text; }

bool LoadMessage(int number, const char* first, const char* second, const char* third,
                 WideText* message) {
  char16_t format[kCatalogTextSize] = {u'\0'};
  CurrentSystem().LoadStringW(TextLanguage(), static_cast<unsigned>(number), format,
                              kCatalogTextSize);
  format[kCatalogTextSize - 1] = u'\0';
  const char* texts[] = {first ? first : "", second ? second : "", third ? third : ""};
  size_t used = 0;
  MessageBuilder builder(message);
  const char16_t* run = format;  // the catalog's text not yet added
  for (const char16_t* p = format; *p != u'\0'; ++p) {
    if (p[0] != u'%' || (p[1] != u's' && p[1] != u'%')) continue;
    // "%%" is one "%" of the catalog's text; "%s" the next of the script's texts.
    builder.AddProgramText(run, static_cast<uint32_t>(p - run) + (p[1] == u'%' ? 1 : 0));
    if (p[1] == u's') builder.AddScriptText(used < 3 ? texts[used++] : "");
    run = p + 2;
    ++p;
  }
  builder.AddProgramText(run, WideLength(run));
  return builder.ok();
}

void ReportError(int number, const char* first, const char* second, const char* third) {
  WideText message;
  LoadMessage(number, first, second, third, &message);
  WideText fallback;
  if (g_errorCaption == nullptr) fallback.Assign(DefaultCaption());
  if (g_stoppingError.number == 0) {
    g_stoppingError.number = number;
    if (!g_stoppingError.text.Assign(message.GetUnits(), message.GetLength())) {
      g_stoppingError.text.Clear();
    }
  }
  ShowBox(message, g_errorCaption ? *g_errorCaption : fallback, kMbOk | kMbIconError, number);
}

}  // namespace kestario
