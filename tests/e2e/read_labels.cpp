// Prints the readouts LblElapsedTime and lblCompletionRatio and the key
// label lblhKeyPressed of a running Vardex, found by its window caption, as
// "<elapsed> <ratio> <key pressed>"; exit code 1
// when no Vardex window exists. With "--message", prints the text of the
// message box that Vardex shows instead.
#include <windows.h>

#include <cstdio>

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

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && ::lstrcmpW(argv[1], L"--message") == 0) return PrintMessageBox();
  const HWND window = ::FindWindowA(nullptr, vardex::kFrmMainCaption);
  if (!window) {
    std::puts("no window");
    return 1;
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
