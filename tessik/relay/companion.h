// The 32-bit side of the 64-bit companion: starts the helper process on
// demand, asks it to set and remove the relay hooks on threads of 64-bit
// programs, and lets it go with the relay. See relay/companion_protocol.h.
#pragma once

#include <windows.h>

#include "relay/hooks.h"
#include "win32/result.h"
#include "win32/unique_any.h"

namespace tessik {

class Companion {
 public:
  // A set runs on the client's UI thread, which pumps no messages meanwhile:
  // whatever the helper does, one set holds it this long at most, start,
  // request and removal together.
  static constexpr DWORD kSetBudgetMs = 1000;
  // The tick count by which a set that begins now is done.
  static DWORD SetDeadline() noexcept { return ::GetTickCount() + kSetBudgetMs; }

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
  // leaves its start pending, for a later call to finish. Returns by
  // `deadline` (a tick count, see SetDeadline).
  DWORD SetHooks(const DWORD* thread_ids, DWORD count, DWORD deadline) noexcept;
  // Has the helper remove the hooks it set, if any; waits for its answer
  // until `deadline` at most, and with no time left only tells it.
  void RemoveHooks(DWORD deadline) noexcept;

 private:
  enum class State {
    kStopped,     // none started, or the last one let go
    kStarting,    // started, not ready yet: ready_ is set once it is
    kRunning,     // ready, with its window
    kBackingOff,  // the last start failed: no other before kRetryAfterMs
  };

  bool IsRunning() const noexcept;
  // SetHooks' steps; `hooked` gets how many threads got both hooks.
  HRESULT Set(const DWORD* thread_ids, DWORD count, DWORD deadline, DWORD* hooked) noexcept;
  HRESULT Start(DWORD deadline) noexcept;
  HRESULT Launch() noexcept;
  HRESULT AwaitReady(DWORD wait_ms) noexcept;
  // The one way out of every state: ends the helper we hold, if any (one
  // that did not come up or stopped answering: nothing else would end it),
  // and forgets everything about it.
  void Reset(State next) noexcept;
  HRESULT Request(const DWORD* thread_ids, DWORD count, DWORD deadline, DWORD* hooked) noexcept;
  // A request left without its own answer: the kMaxUnanswered-th in a row
  // ends the helper.
  void Unanswered() noexcept;

  State state_ = State::kStopped;
  // When the state was entered.
  DWORD since_ = 0;
  win32::unique_handle process_;
  // While starting: the event the helper sets once it is ready.
  win32::unique_handle ready_;
  // The write end of the helper's request pipe: only this process holds it.
  win32::unique_handle requests_;
  // The helper's message-only window; owned by the helper.
  HWND window_ = nullptr;
  bool hooked_ = false;
  // Requests in a row without their own answer: as many as may be in the pipe.
  int unanswered_ = 0;
  // The last request's number; its answer must carry it.
  WORD sequence_ = 0;
  // The threads of the last request, when the helper hooked every one: the
  // same threads again need no request. The helper holds each hooked
  // thread's handle, so an id seen again is the same thread, not a reuse.
  DWORD all_hooked_[kMaxHookedThreads] = {};
  DWORD all_hooked_count_ = 0;
  // Until a request is answered, each failing step is reported once.
  win32::failure_memory reports_;
};

}  // namespace tessik
