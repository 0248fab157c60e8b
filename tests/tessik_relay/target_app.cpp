// A program to be watched in the tests: one top-level window on its main
// thread that reports the keys and clicks it receives on standard output, so
// that a test can see that its input still works.
//   --hidden        the window is never shown
//   --no-window     no window at all, only a running process
//   --ready NAME    sets the named event once the window exists
//   --title TEXT    the window's caption (default "Tessik Target")
//   --at X Y        the window's position (default 100 100)
//   --helper-window also a hidden top-level window on a background thread,
//                   made before the main window and put ahead of it in the
//                   window order, as GDI+ and .NET helper windows are; prints
//                   "helper TID" and "first TID", the thread of the process's
//                   first window in EnumWindows order
//   --palette       also a visible topmost window, "TITLE Palette", on a thread
//                   of its own, right of the main window (first in the window
//                   order, as a tool palette is); its keys print as "palette
//                   key CODE"; prints "palette TID" and "first TID"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/unique_any.h"

namespace {

constexpr char kClassName[] = "TessikTarget";
constexpr char kHelperClassName[] = "TessikTargetHelper";
constexpr char kPaletteClassName[] = "TessikTargetPalette";

struct Helper {
  win32::unique_handle created{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HWND window = nullptr;
  DWORD thread_id = 0;
};

DWORD WINAPI RunHelperWindow(void* parameter) noexcept {
  auto* helper = static_cast<Helper*>(parameter);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = ::DefWindowProcA;
  window_class.hInstance = ::GetModuleHandleA(nullptr);
  window_class.lpszClassName = kHelperClassName;
  ::RegisterClassExA(&window_class);
  helper->window = ::CreateWindowExA(0, kHelperClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     window_class.hInstance, nullptr);
  ::SetEvent(helper->created.get());
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
  return 0;
}

LRESULT CALLBACK PaletteWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_KEYDOWN) {
    std::printf("palette key %u\n", static_cast<unsigned>(wParam));
    std::fflush(stdout);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

struct Palette {
  win32::unique_handle created{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  char title[300] = "";
  int x = 0;
  int y = 0;
  HWND window = nullptr;
};

DWORD WINAPI RunPalette(void* parameter) noexcept {
  auto* palette = static_cast<Palette*>(parameter);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = PaletteWindowProc;
  window_class.hInstance = ::GetModuleHandleA(nullptr);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszClassName = kPaletteClassName;
  ::RegisterClassExA(&window_class);
  palette->window = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kPaletteClassName, palette->title,
                                      WS_POPUP | WS_CAPTION | WS_VISIBLE, palette->x, palette->y, 160, 160,
                                      nullptr, nullptr, window_class.hInstance, nullptr);
  ::SetEvent(palette->created.get());
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}

BOOL CALLBACK FirstOwnWindow(HWND window, LPARAM user) noexcept {
  DWORD process_id = 0;
  const DWORD thread_id = ::GetWindowThreadProcessId(window, &process_id);
  if (process_id != ::GetCurrentProcessId()) return TRUE;
  *reinterpret_cast<DWORD*>(user) = thread_id;
  return FALSE;
}

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
  bool helper_window = false;
  bool palette_window = false;
  const char* ready = nullptr;
  const char* title = "Tessik Target";
  int x = 100;
  int y = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hidden") == 0) {
      hidden = true;
    } else if (std::strcmp(argv[i], "--helper-window") == 0) {
      helper_window = true;
    } else if (std::strcmp(argv[i], "--palette") == 0) {
      palette_window = true;
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
      std::fprintf(stderr, "usage: tessik_target [--hidden] [--no-window] [--ready NAME] [--title TEXT] [--at X Y] [--helper-window] [--palette]\n");
      return 2;
    }
  }

  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  Helper helper;
  win32::unique_handle helper_thread;
  if (helper_window) {
    helper_thread.reset(::CreateThread(nullptr, 0, RunHelperWindow, &helper, 0, &helper.thread_id));
    if (!helper_thread || ::WaitForSingleObject(helper.created.get(), 10000) != WAIT_OBJECT_0 || !helper.window)
      return 1;
  }
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
  if (helper_window) {
    ::SetWindowPos(helper.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    std::printf("helper %lu\n", helper.thread_id);
  }
  Palette palette;
  win32::unique_handle palette_thread;
  if (palette_window) {
    ::wsprintfA(palette.title, "%.200s Palette", title);
    palette.x = x + 340;
    palette.y = y;
    DWORD palette_id = 0;
    palette_thread.reset(::CreateThread(nullptr, 0, RunPalette, &palette, 0, &palette_id));
    if (!palette_thread || ::WaitForSingleObject(palette.created.get(), 10000) != WAIT_OBJECT_0 || !palette.window)
      return 1;
    std::printf("palette %lu\n", palette_id);
  }
  if (helper_window || palette_window) {
    DWORD first = 0;
    ::EnumWindows(FirstOwnWindow, reinterpret_cast<LPARAM>(&first));
    std::printf("first %lu\n", first);
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
