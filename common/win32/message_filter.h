// Lets a message through User Interface Privilege Isolation: an elevated
// process otherwise drops messages that come from a lower integrity level
// (the relay's messages, the shell's "TaskbarCreated" broadcast).
#pragma once

#include <windows.h>

namespace win32 {

// For `window` only; `allow` false takes a permission back. The filter lets
// the message through from every lower level alike: Windows tells no sender's
// level. ChangeWindowMessageFilterEx came with Windows 7 and is loaded by
// name; where it is missing (older systems, Wine) nothing filters per window,
// and nothing is done.
inline void allow_message_from_lower_integrity(HWND window, UINT message, bool allow = true) noexcept {
  using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND window, UINT message, DWORD action, void* status);
  constexpr DWORD kMessageFilterAllow = 1;     // MSGFLT_ALLOW
  constexpr DWORD kMessageFilterDisallow = 2;  // MSGFLT_DISALLOW
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  const auto filter = user32 ? reinterpret_cast<ChangeWindowMessageFilterExFn>(reinterpret_cast<void (*)()>(
                                   ::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                             : nullptr;
  if (filter) filter(window, message, allow ? kMessageFilterAllow : kMessageFilterDisallow, nullptr);
}

}  // namespace win32
