// Reads the message boxes that are open on the desktop, for the Wine end-to-end harness.
//
// For every visible top-level dialog window (class "#32770") it prints:
//   box <window handle in hex>
//   caption <the title, UTF-8, in hexadecimal>
//   text <the message text, UTF-8, in hexadecimal>
//   buttons <the command ids of the visible buttons, comma separated: 1 OK, 6 Yes, 7 No ...>
// The texts are read as UTF-16 (WM_GETTEXT) and written as UTF-8, so they can be compared with
// the catalog's UTF-8 source whatever the ANSI code page.
//
// "box_reader.exe press ID" instead clicks the button ID (1 OK, 6 Yes, 7 No) of every open box:
// the harness's last resort when the keyboard cannot reach a box, since without a window manager
// the X input focus does not always follow.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

void PrintHexUtf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return;
  char* bytes = new char[size];
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, nullptr, nullptr);
  for (int i = 0; i + 1 < size; ++i) std::printf("%02x", static_cast<unsigned char>(bytes[i]));
  delete[] bytes;
}

// The window's text, read with WM_GETTEXT (which works across processes).
wchar_t* ReadText(HWND window) {
  LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  wchar_t* text = new wchar_t[length + 1];
  text[0] = L'\0';
  SendMessageW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text));
  return text;
}

struct BoxParts {
  wchar_t* text = nullptr;
  char buttons[128] = "";
};

BOOL CALLBACK VisitChild(HWND child, LPARAM parameter) {
  BoxParts* parts = reinterpret_cast<BoxParts*>(parameter);
  wchar_t className[64] = L"";
  GetClassNameW(child, className, 64);
  if (!IsWindowVisible(child)) return TRUE;
  if (lstrcmpiW(className, L"Static") == 0) {
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) return TRUE;
    wchar_t* text = ReadText(child);
    if (parts->text == nullptr && text[0] != L'\0') {
      parts->text = text;
    } else {
      delete[] text;
    }
  } else if (lstrcmpiW(className, L"Button") == 0) {
    char id[16];
    std::snprintf(id, sizeof(id), "%s%d", parts->buttons[0] ? "," : "", GetDlgCtrlID(child));
    lstrcatA(parts->buttons, id);
  }
  return TRUE;
}

BOOL CALLBACK VisitTop(HWND window, LPARAM /*parameter*/) {
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  if (!IsWindowVisible(window) || lstrcmpW(className, L"#32770") != 0) return TRUE;
  BoxParts parts;
  EnumChildWindows(window, VisitChild, reinterpret_cast<LPARAM>(&parts));
  wchar_t* caption = ReadText(window);
  std::printf("box %llx\ncaption ",
              static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
  PrintHexUtf8(caption);
  std::printf("\ntext ");
  if (parts.text != nullptr) PrintHexUtf8(parts.text);
  std::printf("\nbuttons %s\n", parts.buttons);
  delete[] caption;
  delete[] parts.text;
  return TRUE;
}

BOOL CALLBACK PressButton(HWND window, LPARAM id) {
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  if (!IsWindowVisible(window) || lstrcmpW(className, L"#32770") != 0) return TRUE;
  HWND button = GetDlgItem(window, static_cast<int>(id));
  if (button != nullptr) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && lstrcmpA(argv[1], "press") == 0) {
    EnumWindows(PressButton, static_cast<LPARAM>(std::atoi(argv[2])));
    return 0;
  }
  EnumWindows(VisitTop, 0);
  std::fflush(stdout);
  return 0;
}
