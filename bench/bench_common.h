// What the benchmark programs share: the messages between the driver and the
// watched stand-in, a microsecond clock, child processes that the driver owns,
// and the median/min/max summary every figure is reported with.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "win32/unique_any.h"

namespace bench {

// Driver <-> bench_target.exe. The target posts kMsgReady (lParam: its
// window) once it is the foreground window.
inline constexpr UINT kMsgReady = WM_APP + 10;
// wParam: kKindKey or kKindMouse, lParam: number of messages. The target
// injects that many inputs into itself and answers kMsgResult with wParam =
// messages handled and lParam = total time in 100 ns units.
inline constexpr UINT kMsgMeasure = WM_APP + 11;
inline constexpr UINT kMsgResult = WM_APP + 12;
// wParam: 1 to post kMsgAck to the driver for every key message, 0 to stop.
inline constexpr UINT kMsgAckMode = WM_APP + 13;
inline constexpr UINT kMsgAck = WM_APP + 14;
// Sent: the target sets hooks of the bench_nullhook module beside it on its
// own thread (a 32-bit driver cannot hook a 64-bit target), wParam:
// kPassOn, the pass-through pair; kPostToDriver, the pair that also posts the
// relay messages to the driver's window; kNoHook removes them. Result 1 when set.
inline constexpr UINT kMsgBenchHook = WM_APP + 15;
inline constexpr WPARAM kNoHook = 0;
inline constexpr WPARAM kPassOn = 1;
inline constexpr WPARAM kPostToDriver = 2;

inline constexpr WPARAM kKindKey = 1;
inline constexpr WPARAM kKindMouse = 2;

inline constexpr wchar_t kTargetClass[] = L"VardexBenchTarget";
inline constexpr wchar_t kTrayClass[] = L"VardexBenchTray";

inline double NowUs() noexcept {
  static const double per_us = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1e6;
  }();
  LARGE_INTEGER c;
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / per_us;
}

struct Summary {
  double median = 0, min = 0, max = 0, p99 = 0;
  size_t n = 0;
};

inline Summary Summarize(std::vector<double> v) {
  Summary s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.min = v.front();
  s.max = v.back();
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  s.p99 = v[std::min(v.size() - 1, static_cast<size_t>(static_cast<double>(v.size()) * 0.99))];
  return s;
}

// "median (min..max)" with the given precision.
inline std::string Cell(const Summary& s, int decimals = 1) {
  char text[96];
  std::snprintf(text, sizeof text, "%.*f (%.*f..%.*f)", decimals, s.median, decimals, s.min, decimals, s.max);
  return text;
}

inline std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

inline void Row(const char* figure, const std::string& baseline, const std::string& measured,
                const std::string& note) {
  std::printf("| %s | %s | %s | %s |\n", figure, baseline.c_str(), measured.c_str(), note.c_str());
  std::fflush(stdout);
}

// The directory of this executable, with a trailing backslash.
inline std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

// A process this program started; ended by the driver only through its own
// handle.
struct Child {
  win32::unique_handle process;
  DWORD id = 0;

  bool Start(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return false;
    const win32::unique_handle thread(pi.hThread);
    process.reset(pi.hProcess);
    id = pi.dwProcessId;
    return true;
  }
  // Asks the process to end through `window` and waits; ends it if it does
  // not go within the time given.
  void Stop(HWND window, DWORD wait_ms = 5000) {
    if (!process) return;
    if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.get(), window ? wait_ms : 0) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), wait_ms);
    }
    process.reset();
  }
};

// Ends `children` through their handles when it goes out of scope, however
// the benchmark leaves.
struct StopAll {
  std::vector<Child>& children;
  ~StopAll() {
    for (Child& child : children) child.Stop(nullptr);
  }
};

// Runs the calling thread's messages until `done` holds or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD timeout_ms) {
  const ULONGLONG end = ::GetTickCount64() + timeout_ms;
  MSG msg;
  while (!done()) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      continue;
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
  return true;
}

// A message-only window whose messages go to `handler`.
template <typename Handler>
class MessageWindow {
 public:
  explicit MessageWindow(Handler handler) : handler_(std::move(handler)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VardexBenchDriver";
    ::RegisterClassW(&wc);
    window_.reset(::CreateWindowExW(0, wc.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wc.hInstance, this));
  }
  HWND hwnd() const noexcept { return window_.get(); }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<MessageWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message >= WM_APP) {
      self->handler_(message, wparam, lparam);
      return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

  Handler handler_;
  win32::unique_hwnd window_;
};

}  // namespace bench
