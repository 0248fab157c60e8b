// Prints the readouts LblElapsedTime and lblCompletionRatio and the key
// label lblhKeyPressed of a running Vardex, found by its window caption, as
// "<elapsed> <ratio> <key pressed>"; exit code 1
// when no Vardex window exists. With "--message", prints the text of the
// message box that Vardex shows instead; with "--tooltip", the text of
// Vardex's notification-area tooltip as the shell holds it; with "--control
// <name>", where that control of the window lies on the screen and its text,
// as "<left> <top> <width> <height> <text>", for a click into it; with
// "--lock", "locked" or "unlocked" when the idle limit, the path and
// "&Browse..." are all disabled or all enabled, else "mixed"; with
// "--post-ticks <n>", posts n idle-timer WM_TIMER messages to the window
// within a second, as any process on the desktop can. For another program:
// with "--dialog <caption>", where the Cancel button of that program's
// dialog box lies and the box's text, as "--control" prints; with "--text
// <caption>", the text of the edit control of each top-level window
// <caption>, one a line.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "win32/text.h"
#include "win32/unique_any.h"
#include "window/main_window_ids.h"
#include "window/main_window_layout.h"

namespace {

bool ReadLabel(HWND window, const char* name, char (&text)[256]) {
  const HWND label = ::GetDlgItem(window, vardex::ControlId(vardex::TabIndexOf(name)));
  if (!label) return false;
  // WM_GETTEXT across processes: the system copies the text for us.
  ::SendMessageA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return true;
}

}  // namespace

// The message box's text control (the one ID the system gives it).
constexpr int kMessageBoxTextId = 0xFFFF;

int PrintMessageBox() {
  const HWND box = ::FindWindowW(L"#32770", L"Vardex");
  const HWND text = box ? ::GetDlgItem(box, kMessageBoxTextId) : nullptr;
  if (!text) {
    std::puts("no message box");
    return 1;
  }
  char buffer[1024] = {};
  ::SendMessageA(text, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  std::printf("%s\n", buffer);
  return 0;
}

int PrintDialog(const wchar_t* caption) {
  const HWND box = ::FindWindowW(L"#32770", caption);
  const HWND cancel = box ? ::GetDlgItem(box, IDCANCEL) : nullptr;
  const HWND text = box ? ::GetDlgItem(box, kMessageBoxTextId) : nullptr;
  RECT r{};
  if (!cancel || !text || !::GetWindowRect(cancel, &r)) {
    std::puts("no dialog box");
    return 1;
  }
  char buffer[1024] = {};
  ::SendMessageA(text, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  std::printf("%ld %ld %ld %ld %s\n", r.left, r.top, r.right - r.left, r.bottom - r.top, buffer);
  return 0;
}

int PrintEditTexts(const wchar_t* caption) {
  int printed = 0;
  for (HWND window = nullptr; (window = ::FindWindowExW(nullptr, window, nullptr, caption)) != nullptr;) {
    const HWND edit = ::FindWindowExW(window, nullptr, L"Edit", nullptr);
    if (!edit) continue;
    char buffer[1024] = {};
    ::SendMessageA(edit, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    std::printf("%s\n", buffer);
    ++printed;
  }
  if (printed == 0) std::puts("no edit control");
  return printed == 0 ? 1 : 0;
}

BOOL CALLBACK CollectTooltipWindow(HWND window, LPARAM found) noexcept {
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, ARRAYSIZE(name));
  if (::lstrcmpiW(name, TOOLTIPS_CLASSW) == 0) reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// The shell's tray keeps the icons' tips as tools of its tooltip controls.
// Tooltip messages carry pointers into the caller's memory and are not copied
// between processes, so the tool record and its text buffer are placed in the
// shell's own process. Prints the first tip that begins with "Vardex".
int PrintTooltip() {
  std::vector<HWND> tooltips;
  ::EnumWindows(CollectTooltipWindow, reinterpret_cast<LPARAM>(&tooltips));
  constexpr SIZE_T kTextChars = 1024;
  for (const HWND tooltip : tooltips) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(tooltip, &pid);
    const win32::unique_handle owner(
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!owner) continue;
    const HANDLE process = owner.get();
    const SIZE_T size = sizeof(TTTOOLINFOW) + kTextChars * sizeof(wchar_t);
    char* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    bool printed = false;
    if (remote) {
      const auto count = static_cast<int>(::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
      for (int i = 0; i < count && !printed; ++i) {
        TTTOOLINFOW info{};
        info.cbSize = sizeof info;
        info.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof info);
        std::vector<wchar_t> text(kTextChars, L'\0');
        if (!::WriteProcessMemory(process, remote, &info, sizeof info, nullptr) ||
            !::WriteProcessMemory(process, remote + sizeof info, text.data(), kTextChars * sizeof(wchar_t), nullptr) ||
            !::SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote)) ||
            !::ReadProcessMemory(process, remote + sizeof info, text.data(), kTextChars * sizeof(wchar_t), nullptr)) {
          continue;
        }
        text.back() = L'\0';
        if (std::wcsncmp(text.data(), L"Vardex", 6) == 0) {
          std::printf("%ls\n", text.data());
          printed = true;
        }
      }
      ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    if (printed) return 0;
  }
  std::puts("no tooltip");
  return 1;
}

int PrintLock(HWND window) {
  int enabled = 0;
  for (const char* name : {"intAppShutDownTime", "txtApplicationName", "cmdBrowse"}) {
    const HWND control = ::GetDlgItem(window, vardex::ControlId(vardex::TabIndexOf(name)));
    if (!control) {
      std::puts("no controls");
      return 2;
    }
    if (::IsWindowEnabled(control)) ++enabled;
  }
  std::puts(enabled == 0 ? "locked" : enabled == 3 ? "unlocked" : "mixed");
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && ::lstrcmpW(argv[1], L"--message") == 0) return PrintMessageBox();
  if (argc > 1 && ::lstrcmpW(argv[1], L"--tooltip") == 0) return PrintTooltip();
  if (argc > 2 && ::lstrcmpW(argv[1], L"--dialog") == 0) return PrintDialog(argv[2]);
  if (argc > 2 && ::lstrcmpW(argv[1], L"--text") == 0) return PrintEditTexts(argv[2]);
  const HWND window = ::FindWindowA(nullptr, vardex::kFrmMainCaption);
  if (!window) {
    std::puts("no window");
    return 1;
  }
  if (argc > 2 && ::lstrcmpW(argv[1], L"--control") == 0) {
    const std::string name = win32::wide_to_ansi(argv[2]);
    const int tab_index = vardex::TabIndexOf(name);
    const HWND control = tab_index < 0 ? nullptr : ::GetDlgItem(window, vardex::ControlId(tab_index));
    RECT r{};
    char text[256] = {};
    if (!control || !::GetWindowRect(control, &r) || !ReadLabel(window, name.c_str(), text)) {
      std::puts("no such control");
      return 2;
    }
    std::printf("%ld %ld %ld %ld %s\n", r.left, r.top, r.right - r.left, r.bottom - r.top, text);
    return 0;
  }
  if (argc > 1 && ::lstrcmpW(argv[1], L"--lock") == 0) return PrintLock(window);
  if (argc > 2 && ::lstrcmpW(argv[1], L"--post-ticks") == 0) {
    const int n = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    for (int i = 0; i < n; ++i) {
      if (!::PostMessageW(window, WM_TIMER, vardex::kTimerAppShotDown, 0)) return 1;
      ::Sleep(900 / n);
    }
    return 0;
  }
  char elapsed[256] = {};
  char ratio[256] = {};
  char key[256] = {};
  if (!ReadLabel(window, "LblElapsedTime", elapsed) || !ReadLabel(window, "lblCompletionRatio", ratio) ||
      !ReadLabel(window, "lblhKeyPressed", key)) {
    std::puts("no labels");
    return 2;
  }
  std::printf("%s %s %s\n", elapsed, ratio, key);
  return 0;
}
