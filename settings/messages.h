// The message catalog and the error box: the one way in which a failure is shown.
//
// The program's own texts (the catalog and the default caption) are Japanese on a desktop whose
// user interface is Japanese and English on every other; they are UTF-16, and the script's texts
// (in the ANSI code page) are turned into UTF-16 to meet them, so every box reads right whatever
// the system's code page.
#ifndef KESTARIO_SETTINGS_MESSAGES_H_
#define KESTARIO_SETTINGS_MESSAGES_H_

#include <cstdint>

#include "text/wide_text.h"

namespace kestario {

// The catalog's message numbers. They never change meaning; there is no message 7.
enum MessageNumber : int {
  kMsgFileNotFound = 1,    // the script file is missing (its path)
  kMsgBadFormat = 2,       // a key is absent or "NO_DATA" (section, key)
  kMsgOutOfMemory = 3,     // an object could not be allocated (its name)
  kMsgBadItemCount = 4,    // a comma list that must have items has none (section, key)
  kMsgPathFailed = 5,      // in the catalog, shown by nothing (a file name)
  kMsgBadSymbol = 6,       // a value names nothing the program knows (the value)
  kMsgCopyFailed = 8,      // a COPY pair failed (source, destination)
  kMsgLaunchFailed = 9,    // a LAUNCH item failed to start (program, parameters)
  kMsgDeleteFailed = 10,   // a DELETE item failed (path)
  kMsgUndoFailed = 11,     // a rollback could not undo a change (path, where the old file stays)
  kMsgPinMismatch = 12,    // a pinned file's bytes differ (file, expected hash, found hash)
  kMsgScriptRefused = 13,  // the machine's signature policy refuses the script (path, reason)
};

// The language of the program's own texts: kLangJapanese when the user's desktop is Japanese
// (GetUserDefaultUILanguage), kLangEnglish otherwise.
uint16_t TextLanguage();

// The caption of every box when neither the command line nor the script names one, in
// TextLanguage().
const char16_t* DefaultCaption();

// The caption of every error box; the start-up context points it at its caption text.
void BindErrorCaption(const WideText* caption);

// What a MSGBOX box answers when it is not shown: the MSGBOX's UNSEEN. `answer` is kIdOk, kIdYes
// or kIdNo, 0 for none; `refused` is UNSEEN's value when it names no button of the box (the answer
// is then 0), for the log; null otherwise. An error box is never answered this way.
struct UnseenAnswer {
  int answer = 0;
  const char* refused = nullptr;
};

// Shows a box with no owner window under `caption` and returns the answer, unless nobody can see
// it: whether the process's window station is visible is asked once per run, and when it is not,
// no box is shown and the answer is `unseen.answer` (0 without one: "the box could not be
// shown"). A box whose call fails (answer 0) is not shown either, and answers `unseen.answer` too
// when the MSGBOX has an UNSEEN. The run log records the box with its kind, text and answer;
// `message` is the catalog number of an error box, 0 otherwise.
int ShowBox(const WideText& text, const WideText& caption, unsigned style, int message = 0,
            const UnseenAnswer& unseen = UnseenAnswer());
// Starts a run: the next box asks again whether boxes can be seen, and no error has been shown.
void ForgetBoxAudience();

// The error box that stopped this run, the first that it showed (a rollback run that cannot undo
// its changes shows another after it): its catalog number (0 when none was shown) and its text
// exactly as the box showed it (empty when memory could not hold a copy).
int StoppingErrorNumber();
const WideText& StoppingErrorText();

// Catalog message `number` in TextLanguage() into `message`, its "%s" placeholders filled in
// order with `first`, `second` and `third` (the script's texts, in the ANSI code page). The message
// holds at most what 1,023 bytes hold in the ANSI code page, the catalog's text counted as it reads
// in that code page and the script's texts byte for byte; a longer one is cut there. False when
// memory runs out.
bool LoadMessage(int number, const char* first, const char* second, const char* third,
                 WideText* message);
inline bool LoadMessage(int number, const char* first, const char* second, WideText* message) {
  return LoadMessage(number, first, second, "", message);
}

// Shows catalog message `number` (LoadMessage, with `first`, `second` and `third`; no message
// has more than three) in a box with no owner window, the bound caption and the error icon
// (through ShowBox); returns when the user has closed it.
void ReportError(int number, const char* first = "", const char* second = "",
                 const char* third = "");

}  // namespace kestario

#endif  // KESTARIO_SETTINGS_MESSAGES_H_
