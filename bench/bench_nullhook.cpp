// bench_nullhook.dll: hook procedures that show what any hook costs under the
// platform, apart from the work Tessik's procedures do. One pair only passes
// the call on; the other also posts the relay messages, as Tessik's do, to a
// window that the process which sets them names: the floor of any hook that
// relays each message by posting it.
#include <windows.h>

#include "relay/hooks.h"

namespace {

HWND g_post_to = nullptr;

LRESULT CALLBACK PassOn(int code, WPARAM wparam, LPARAM lparam) noexcept {
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK PostKeyAndPassOn(int code, WPARAM wparam, LPARAM lparam) noexcept {
  if (code >= 0) {
    const bool going_up = (static_cast<ULONG_PTR>(lparam) & 0x80000000u) != 0;
    ::PostMessageA(g_post_to, tessik::WM_KEYRELAY, wparam, going_up ? 0 : 1);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK PostMouseAndPassOn(int code, WPARAM wparam, LPARAM lparam) noexcept {
  const auto* mouse = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lparam);
  if (code >= 0 && mouse) {
    const DWORD packed = (static_cast<DWORD>(mouse->pt.y & 0xFFFF) << 16) | static_cast<DWORD>(mouse->pt.x & 0xFFFF);
    ::PostMessageA(g_post_to, tessik::WM_MOUSERELAY, wparam, static_cast<LPARAM>(packed));
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

// Undecorated on every compiler, unlike the stdcall procedures' own names.
extern "C" __declspec(dllexport) HOOKPROC BenchPassOnHook() { return &PassOn; }

// The posting pair, posting to `window`. Only for hooks that the calling
// process sets on its own threads: the window is kept in this process's copy
// of the module.
extern "C" __declspec(dllexport) void BenchPostingHooks(HWND window, HOOKPROC* keyboard, HOOKPROC* mouse) {
  g_post_to = window;
  *keyboard = &PostKeyAndPassOn;
  *mouse = &PostMouseAndPassOn;
}
