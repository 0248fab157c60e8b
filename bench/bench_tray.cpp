// bench_tray.exe: the start-up baseline. The least a program can do to put
// an icon into the notification area: a hidden window and Shell_NotifyIconW.
#include <windows.h>
#include <shellapi.h>

#include "bench_common.h"

namespace {

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &WndProc;
  wc.hInstance = instance;
  wc.lpszClassName = bench::kTrayClass;
  if (!::RegisterClassW(&wc)) return 1;
  const win32::unique_hwnd window(::CreateWindowExW(0, bench::kTrayClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                                    nullptr, instance, nullptr));
  if (!window) return 1;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window.get();
  data.uID = 1;
  data.uFlags = NIF_ICON | NIF_TIP;
  data.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  ::lstrcpynW(data.szTip, L"bench", 64);
  if (!::Shell_NotifyIconW(NIM_ADD, &data)) return 1;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  return 0;
}
