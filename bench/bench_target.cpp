// bench_target.exe [driver window [windows]]: the watched program's stand-in.
// A plain window that, on the driver's request, injects keyboard or mouse
// input into itself with SendInput and times how long each message takes to
// come back through its own message loop (the input path the hooks sit on).
// With `windows` above 1, that many visible top-level windows in all, each
// further one on a thread of its own, made before the first.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "bench_common.h"

namespace {

HWND g_driver = nullptr;
bool g_ack = false;
LONG g_keys = 0;
LONG g_moves = 0;

void RunMessages(LONG& counter, LONG wanted) {
  MSG msg;
  while (counter < wanted) {
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 2000, QS_ALLINPUT) == WAIT_TIMEOUT) return;
    while (counter < wanted && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
}

// Alternating 'A' down/up, or alternating absolute moves between two pixels
// inside the window; one input, then the loop runs until its message has been
// handled.
void Measure(HWND window, WPARAM kind, LONG count) {
  RECT r;
  ::GetWindowRect(window, &r);
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  const double sx = 65535.0 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
  const double sy = 65535.0 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
  constexpr LONG kWarmUp = 200;
  LONG& counter = kind == bench::kKindKey ? g_keys : g_moves;
  double start = 0;
  for (LONG i = 0; i < kWarmUp + count; ++i) {
    if (i == kWarmUp) start = bench::NowUs();
    INPUT in{};
    if (kind == bench::kKindKey) {
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = 'A';
      in.ki.dwFlags = (i % 2) ? KEYEVENTF_KEYUP : 0;
    } else {
      in.type = INPUT_MOUSE;
      in.mi.dx = static_cast<LONG>((cx + i % 2) * sx + 0.5);
      in.mi.dy = static_cast<LONG>(cy * sy + 0.5);
      in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    if (i == kWarmUp) counter = 0;
    const LONG before = counter;
    ::SendInput(1, &in, sizeof in);
    RunMessages(counter, before + 1);
  }
  const double elapsed_us = bench::NowUs() - start;
  ::PostMessageW(g_driver, bench::kMsgResult, static_cast<WPARAM>(counter),
                 static_cast<LPARAM>(elapsed_us * 10.0));
}

// The hooks of bench_nullhook (bench_nullhook64 in a 64-bit build) on this
// thread: kPassOn or kPostToDriver, or none.
bool SetBenchHook(WPARAM kind) noexcept {
  static win32::unique_hmodule module;
  static win32::unique_hhook keyboard, mouse;
  keyboard.reset();
  mouse.reset();
  if (kind == bench::kNoHook) return true;
  if (!module) {
    const wchar_t* name = sizeof(void*) == 8 ? L"bench_nullhook64.dll" : L"bench_nullhook.dll";
    module.reset(::LoadLibraryW((bench::OwnDirectory() + name).c_str()));
  }
  // Through void (*)(), the one function type every compiler lets any cast go through.
  const auto address = [](HMODULE m, const char* name) {
    return reinterpret_cast<void (*)()>(m ? ::GetProcAddress(m, name) : nullptr);
  };
  HOOKPROC on_key = nullptr, on_mouse = nullptr;
  if (kind == bench::kPassOn) {
    using GetHook = HOOKPROC (*)();
    if (const auto get = reinterpret_cast<GetHook>(address(module.get(), "BenchPassOnHook")))
      on_key = on_mouse = get();
  } else {
    using GetPosting = void (*)(HWND, HOOKPROC*, HOOKPROC*);
    if (const auto get = reinterpret_cast<GetPosting>(address(module.get(), "BenchPostingHooks")))
      get(g_driver, &on_key, &on_mouse);
  }
  if (!on_key || !on_mouse) return false;
  keyboard.reset(::SetWindowsHookExW(WH_KEYBOARD, on_key, module.get(), ::GetCurrentThreadId()));
  mouse.reset(::SetWindowsHookExW(WH_MOUSE, on_mouse, module.get(), ::GetCurrentThreadId()));
  return keyboard && mouse;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
      ++g_keys;
      if (g_ack) ::PostMessageW(g_driver, bench::kMsgAck, wparam, message == WM_KEYDOWN);
      return 0;
    case WM_MOUSEMOVE:
      ++g_moves;
      return 0;
    case bench::kMsgMeasure:
      Measure(window, wparam, static_cast<LONG>(lparam));
      return 0;
    case bench::kMsgAckMode:
      g_ack = wparam != 0;
      return 0;
    case bench::kMsgBenchHook:
      return SetBenchHook(wparam) ? 1 : 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

constexpr wchar_t kExtraClass[] = L"VardexBenchTargetExtra";

DWORD WINAPI RunExtraWindow(void* created) noexcept {
  const HWND window = ::CreateWindowExW(0, kExtraClass, L"Vardex bench target", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                        150, 150, 200, 150, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SetEvent(static_cast<HANDLE>(created));
  if (!window) return 1;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

// The windows beyond the first; true once each exists.
bool StartExtraWindows(HINSTANCE instance, long count) {
  if (count <= 0) return true;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &::DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kExtraClass;
  if (!::RegisterClassW(&wc)) return false;
  for (long i = 0; i < count; ++i) {
    const win32::unique_handle created(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The threads end with the process.
    const win32::unique_handle thread(::CreateThread(nullptr, 0, RunExtraWindow, created.get(), 0, nullptr));
    if (!created || !thread || ::WaitForSingleObject(created.get(), 10000) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  wchar_t* rest = nullptr;
  g_driver = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(command_line, &rest, 10)));
  if (!StartExtraWindows(instance, std::wcstol(rest, nullptr, 10) - 1)) return 1;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &WndProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = bench::kTargetClass;
  if (!::RegisterClassW(&wc)) return 1;
  const win32::unique_hwnd window(::CreateWindowExW(0, bench::kTargetClass, L"Vardex bench target",
                                                    WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr, nullptr,
                                                    instance, nullptr));
  if (!window) return 1;
  ::ShowWindow(window.get(), SW_SHOWNORMAL);
  ::SetForegroundWindow(window.get());
  ::SetFocus(window.get());
  if (g_driver) ::PostMessageW(g_driver, bench::kMsgReady, 0, reinterpret_cast<LPARAM>(window.get()));
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}
