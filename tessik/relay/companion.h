// The 32-bit side of the 64-bit companion: starts the helper process on
// demand, asks it to set and remove the relay hooks on threads of 64-bit
// programs, and lets it go with the relay. See relay/companion_protocol.h.
#pragma once

#include <windows.h>

#include "relay/hooks.h"
#include "win32/unique_any.h"

namespace tessik {

class Companion {
 public:
  Companion() noexcept = default;
  // Lets a running helper go (it removes its hooks and ends) by closing its
  // pipe, and ends one that never came up; nothing waits for either.
  ~Companion();
  Companion(const Companion&) = delete;
  Companion& operator=(const Companion&) = delete;

  // True when `thread_id` belongs to a 64-bit process and this one is a
  // 32-bit process on a 64-bit system.
  static bool IsNeededFor(DWORD thread_id) noexcept;

  // Starts the helper if it is not running, then has it set both hooks on
  // each of `thread_ids`, in one request, in place of those it set before
  // (threads it hooked already keep their hooks). Returns how many threads
  // got both; 0 when the helper cannot be started. A helper slow to come up
  // leaves its start pending, for a later call to finish. One call holds the
  // calling thread about a second at most, start and request together.
  DWORD SetHooks(const DWORD* thread_ids, DWORD count) noexcept;
  // Has the helper remove the hooks it set, if any.
  void RemoveHooks() noexcept;

  // For the module's unload, under the loader lock: from now on no request
  // is sent; the helper removes its hooks as it goes.
  static void PrepareForUnload() noexcept;

 private:
  bool IsRunning() const noexcept;
  bool Start() noexcept;
  bool Launch() noexcept;
  bool AwaitReady(DWORD wait_ms) noexcept;
  void GiveUp() noexcept;
  bool Request(const DWORD* thread_ids, DWORD count, DWORD timeout_ms, DWORD_PTR* hooked) noexcept;

  win32::unique_handle process_;
  // While a start is pending: the event the helper sets once it is ready.
  // Null once it is running (or when none was started).
  win32::unique_handle pending_ready_;
  // The write end of the helper's request pipe: only this process holds it.
  win32::unique_handle requests_;
  DWORD started_at_ = 0;
  // After a failed start no other is tried before this tick count.
  bool backing_off_ = false;
  DWORD retry_at_ = 0;
  // The helper's message-only window; owned by the helper.
  HWND window_ = nullptr;
  bool hooked_ = false;
  // Requests in a row the helper did not answer in time.
  int unanswered_ = 0;
  // The threads of the last request, when the helper hooked every one: the
  // same threads again need no request. The helper holds each hooked
  // thread's handle, so an id seen again is the same thread, not a reuse.
  DWORD all_hooked_[kMaxHookedThreads] = {};
  DWORD all_hooked_count_ = 0;
};

}  // namespace tessik
