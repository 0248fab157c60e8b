// The relay: keyboard and mouse hooks on one thread of the watched program,
// and the hidden window in the monitoring process that their messages reach.
// The hook procedures run inside the watched program and share nothing with
// the monitoring process but the relay block and posted messages.
#pragma once

#include <windows.h>

#include "win32/unique_any.h"
#include "win32/window_base.h"

namespace tessik {

// Message numbers and the relay block's name are fixed: every copy of the
// module on the machine, in every process, uses them.
inline constexpr UINT WM_KEYRELAY = WM_USER + 1000;    // 2024
inline constexpr UINT WM_MOUSERELAY = WM_USER + 1001;  // 2025
inline constexpr char kRelayBlockName[] = "FILEMAPPING:7925-4ef2-9d13-0d9d7eab4dca";

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
class Relay : public win32::window_base<Relay, win32::window_charset::kAnsi> {
 public:
  explicit Relay(RelayTarget& target) noexcept;
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Creates the relay window on the calling thread, publishes its handle in
  // the relay block and sets both hooks on `thread_id`. TRUE when both hooks
  // are set; otherwise everything is removed again.
  BOOL InstallHooks(DWORD thread_id) noexcept;
  // Destroys the relay window and removes both hooks. The caller empties the
  // stored path.
  void RemoveHooks() noexcept;

 private:
  friend class win32::window_base<Relay, win32::window_charset::kAnsi>;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  static bool RegisterRelayClass(HINSTANCE module) noexcept;
  bool Publish(HWND window) noexcept;

  RelayTarget& target_;
  // Made by the first installation and kept until the instance goes, so that
  // repeated installations reuse one handle and one view.
  win32::unique_handle block_;
  win32::unique_mapview block_view_;
};

// The hook procedures (they run inside the watched program).
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;
LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace tessik
