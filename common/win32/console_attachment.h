// Attaching to another process's console, to name its window or its clients.
// A process has one console at a time, so every attachment in the process
// takes its turn under one lock; while attached, a Ctrl event in that console
// would reach us too, and its default handling ends the process.
#pragma once

#include <windows.h>

#include "win32/scope_exit.h"
#include "win32/unique_any.h"

namespace win32 {

inline SRWLOCK& console_attachment_lock() noexcept {
  static SRWLOCK lock = SRWLOCK_INIT;
  return lock;
}

// Runs `use()` while attached to the console of `process_id`. False, and
// `use` not run, when this process has a console of its own (it would have
// to leave it first) or cannot attach (the process has none, or is gone).
template <typename Use>
bool with_console_of(DWORD process_id, Use&& use) {
  const exclusive_lock turn(console_attachment_lock());
  if (::GetConsoleWindow()) return false;
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  const auto handle_ctrl_again = scope_exit([]() noexcept { ::SetConsoleCtrlHandler(nullptr, FALSE); });
  if (!::AttachConsole(process_id)) return false;
  const auto leave = scope_exit([]() noexcept { ::FreeConsole(); });
  use();
  return true;
}

}  // namespace win32
