// Lets a message through User Interface Privilege Isolation: an elevated
// process otherwise drops messages that come from a lower integrity level
// (the relay's messages, the shell's "TaskbarCreated" broadcast).
#pragma once

#include <windows.h>

namespace win32 {

// For `window` only. ChangeWindowMessageFilterEx came with Windows 7 and is
// loaded by name; where it is missing (older systems, Wine) nothing filters
// per window, and nothing is done.
inline void allow_message_from_lower_integrity(HWND window, UINT message) noexcept {
  using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND window, UINT message, DWORD action, void* status);
  constexpr DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  const auto allow = user32 ? reinterpret_cast<ChangeWindowMessageFilterExFn>(reinterpret_cast<void (*)()>(
                                  ::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                            : nullptr;
  if (allow) allow(window, message, kMessageFilterAllow, nullptr);
}

}  // namespace win32
