// The relay: keyboard and mouse hooks on the threads of the watched program,
// and the hidden window in the monitoring process that their messages reach.
// The hook procedures run inside the watched program and share nothing with
// the monitoring process but the relay block and posted messages.
#pragma once

#include <windows.h>

#include "relay/companion.h"
#include "relay/hooks.h"
#include "win32/unique_any.h"
#include "win32/window_base.h"

namespace tessik {

// Where relayed activity goes: the instance's event source.
class RelayTarget {
 public:
  virtual void FireKeyEvent(LONG lKeyCode, LONG bPressed) noexcept = 0;
  virtual void FireMouseEvent(LONG lEventCode, LONG lX, LONG lY) noexcept = 0;

 protected:
  ~RelayTarget() = default;
};

// The relay window and relay block of the one instance. The hook handles are
// module-level (one set per process). Used on one thread only: the one that
// installs, which also receives the events.
class Relay : public win32::window_base<Relay, win32::window_charset::kAnsi> {
 public:
  explicit Relay(RelayTarget& target) noexcept;
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Watches `thread_ids` (at most kMaxHookedThreads): creates the relay
  // window on the calling thread unless it exists, publishes its handle in
  // the relay block and makes both hooks sit on each thread, from this
  // module, or through the 64-bit companion, in one request, for the
  // threads of 64-bit processes. Threads hooked before and still named keep
  // their hooks, and the window stays, so a repeated set loses no input and
  // no relay message already posted. Returns how many threads have both
  // hooks; with none, everything is removed again. `hooked`, when given,
  // gets one flag per thread: set where that thread is known to have both
  // (the companion's threads only when it hooked all of them). Each exit
  // that watches nothing reports its step (win32/result.h).
  DWORD InstallHooks(const DWORD* thread_ids, DWORD count, bool* hooked = nullptr) noexcept;
  // Destroys the relay window and removes every hook, the companion's too.
  // The caller empties the stored path.
  void RemoveHooks() noexcept;
  // True unless the relay window exists and belongs to another thread: only
  // its own thread can destroy it.
  bool OnItsThread() const noexcept {
    return !hwnd() || ::GetWindowThreadProcessId(hwnd(), nullptr) == ::GetCurrentThreadId();
  }

 private:
  friend class win32::window_base<Relay, win32::window_charset::kAnsi>;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  // InstallHooks' steps; `done` gets how many threads have both hooks.
  HRESULT Install(const DWORD* thread_ids, DWORD count, bool* hooked, DWORD* done) noexcept;
  static bool RegisterRelayClass(HINSTANCE module) noexcept;
  HRESULT Publish(HWND window) noexcept;
  void RemoveHooksBy(DWORD deadline) noexcept;

  RelayTarget& target_;
  // Made by the first installation and kept until the instance goes, so that
  // repeated installations reuse one handle and one view.
  win32::unique_handle block_;
  win32::unique_mapview block_view_;
  // Started at the first 64-bit program and kept for later ones.
  Companion companion_;
  // Until a set hooks some thread, each failing step is reported once.
  win32::failure_memory reports_;
};

}  // namespace tessik
