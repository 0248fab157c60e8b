// The 32-bit side of the 64-bit companion: starts the helper process on
// demand, asks it to set and remove the relay hooks on threads of 64-bit
// programs, and lets it go with the relay. See companion/protocol.h.
#pragma once

#include <windows.h>

#include "win32/unique_any.h"

namespace tessik {

class Companion {
 public:
  Companion() noexcept = default;
  // Asks the helper to remove its hooks and end; nothing waits for it.
  ~Companion();
  Companion(const Companion&) = delete;
  Companion& operator=(const Companion&) = delete;

  // True when `thread_id` belongs to a 64-bit process and this one is a
  // 32-bit process on a 64-bit system.
  static bool IsNeededFor(DWORD thread_id) noexcept;

  // Starts the helper if it is not running, then has it set both hooks on
  // each of `thread_ids`, in one request, in place of those it set before.
  // Returns how many threads got both; 0 when the helper cannot be started.
  DWORD SetHooks(const DWORD* thread_ids, DWORD count) noexcept;
  // Has the helper remove the hooks it set, if any.
  void RemoveHooks() noexcept;

 private:
  bool IsRunning() const noexcept;
  bool Start() noexcept;
  bool Ask(UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) noexcept;

  win32::unique_handle process_;
  // The helper's message-only window; owned by the helper.
  HWND window_ = nullptr;
  bool hooked_ = false;
};

}  // namespace tessik
