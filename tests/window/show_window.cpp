// Shows Vardex's window as it looks at start-up, with "secret" typed into the
// password box, for the screenshot; with "policy", as a policy that sets the
// idle limit shows it. Prints the window's screen rectangle and client size,
// then closes the window after the given milliseconds.
//   show_window <milliseconds> [policy]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/screen_lock.h"
#include "window/main_window.h"

int main(int argc, char** argv) {
  const UINT lifetime = argc > 1 ? static_cast<UINT>(std::atoi(argv[1])) : 10000;
  vardex::MainWindow window;
  if (!window.Create(::GetModuleHandleW(nullptr))) {
    std::fprintf(stderr, "show_window: the window could not be created (%lu)\n", ::GetLastError());
    return 1;
  }
  window.txtPassword().SetText("secret");
  vardex::ScreenLock lock(window.Controls());
  if (argc > 2 && std::strcmp(argv[2], "policy") == 0) {
    vardex::Policy policy;
    policy.limit_minutes = 30;
    lock.SetPolicy(policy);
  }
  window.Show();

  RECT frame{}, client{};
  ::GetWindowRect(window.hwnd(), &frame);
  ::GetClientRect(window.hwnd(), &client);
  std::printf("window %ld %ld %ld %ld client %ld %ld dpi %d\n", frame.left, frame.top,
              frame.right - frame.left, frame.bottom - frame.top, client.right, client.bottom, window.dpi());
  std::fflush(stdout);

  // A thread timer: the window's own timer IDs belong to its two timers.
  const UINT_PTR close_timer = ::SetTimer(nullptr, 0, lifetime, nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == close_timer) {
      ::DestroyWindow(window.hwnd());
      continue;
    }
    if (window.PreTranslate(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::KillTimer(nullptr, close_timer);
  return 0;
}
