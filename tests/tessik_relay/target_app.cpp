// A program to be watched in the tests: one top-level window on its main
// thread that reports the keys and clicks it receives on standard output, so
// that a test can see that its input still works.
//   --hidden        the window is never shown
//   --no-window     no window at all, only a running process
//   --ready NAME    sets the named event once the window exists
//   --title TEXT    the window's caption (default "Tessik Target")
//   --at X Y        the window's position (default 100 100)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/unique_any.h"

namespace {

constexpr char kClassName[] = "TessikTarget";

LRESULT CALLBACK TargetWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_KEYDOWN:
      std::printf("key %u\n", static_cast<unsigned>(wParam));
      std::fflush(stdout);
      return 0;
    case WM_LBUTTONDOWN:
      std::printf("click\n");
      std::fflush(stdout);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool hidden = false;
  bool no_window = false;
  const char* ready = nullptr;
  const char* title = "Tessik Target";
  int x = 100;
  int y = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hidden") == 0) {
      hidden = true;
    } else if (std::strcmp(argv[i], "--no-window") == 0) {
      no_window = true;
    } else if (std::strcmp(argv[i], "--ready") == 0 && i + 1 < argc) {
      ready = argv[++i];
    } else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
      title = argv[++i];
    } else if (std::strcmp(argv[i], "--at") == 0 && i + 2 < argc) {
      x = std::atoi(argv[++i]);
      y = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: tessik_target [--hidden] [--no-window] [--ready NAME] [--title TEXT] [--at X Y]\n");
      return 2;
    }
  }

  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  HWND window = nullptr;
  if (!no_window) {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = TargetWindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszClassName = kClassName;
    if (!::RegisterClassExA(&window_class)) return 1;
    window = ::CreateWindowExA(0, kClassName, title, WS_OVERLAPPEDWINDOW, x, y, 320, 240, nullptr, nullptr,
                               instance, nullptr);
    if (!window) return 1;
    if (!hidden) {
      ::ShowWindow(window, SW_SHOWNORMAL);
      ::UpdateWindow(window);
    }
  }
  std::printf("ready %lu\n", ::GetCurrentThreadId());
  std::fflush(stdout);
  if (ready) {
    const win32::unique_handle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, ready));
    if (event) ::SetEvent(event.get());
  }
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}
