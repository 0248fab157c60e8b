// The relay: keyboard and mouse hooks on one thread of the watched program,
// and the hidden window in the monitoring process that their messages reach.
// The hook procedures run inside the watched program and share nothing with
// the monitoring process but the relay block and posted messages.
#pragma once

#include <windows.h>

#include "relay/companion.h"
#include "relay/hooks.h"
#include "win32/unique_any.h"

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
// module-level (one pair per process). Used on one thread only: the one that
// installs, which also receives the events.
class Relay {
 public:
  explicit Relay(RelayTarget& target) noexcept;
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Creates the relay window on the calling thread, publishes its handle in
  // the relay block and sets both hooks on `thread_id`: from this module, or
  // through the 64-bit companion when the thread's process is 64-bit. TRUE
  // when both hooks are set; otherwise everything is removed again.
  BOOL InstallHooks(DWORD thread_id) noexcept;
  // Destroys the relay window and removes both hooks, the companion's too.
  // The caller empties the stored path.
  void RemoveHooks() noexcept;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  static bool RegisterRelayClass(HINSTANCE module) noexcept;
  bool Publish(HWND window) noexcept;

  RelayTarget& target_;
  win32::unique_hwnd window_;
  // Made by the first installation and kept until the instance goes, so that
  // repeated installations reuse one handle and one view.
  win32::unique_handle block_;
  win32::unique_mapview block_view_;
  // Started at the first 64-bit program and kept for later ones.
  Companion companion_;
};

}  // namespace tessik
