// One Vardex per user session. The first Vardex of a user in a session makes
// the instance block, a named 4-byte block in the session's namespace whose
// name carries the user's SID, and writes its main window's handle into it.
// A later start of the same user in that session finds the block, has that
// window brought back as a double click on the tray icon brings it, and ends:
// two instances would each see only part of the program's activity (both
// write their relay window into the one relay block), and one of them would
// end the program while it is in use.
//
// The block has the relay block's security (common/win32/object_security.h):
// only this user and SYSTEM may use it, and its label is the creator's
// level. A block of that name made by another owner is refused: Vardex then
// does not start and says why, rather than run twice unseen. One of this
// user's, labelled below this process's level, is what an elevated start
// finds while the user's own Vardex runs without elevation: it is that
// Vardex only when the window it names belongs to this very program (any
// program of the user at that level could have made the block). Other
// users' and other sessions' Vardex are untouched: their blocks have other
// names.
#pragma once

#include <windows.h>

#include <string>

#include "win32/unique_any.h"

namespace vardex {

// "Local\Vardex.Instance.<the user's SID>"; empty when the SID cannot be read.
std::string InstanceBlockName();

// The message that a later start posts to the first instance's main window.
UINT ShowWindowMessage() noexcept;

class InstanceBlock {
 public:
  enum class Claim {
    kFirst,    // no Vardex of this user runs in this session: this one is it
    kRunning,  // one runs: bring it back and end
    kBelow,    // one of this user's at a lower level (not elevated) may run: see RunningWindow
    kRefused,  // the name is held by someone else's block, or no block could be had
  };

  explicit InstanceBlock(const std::string& name = InstanceBlockName()) noexcept;
  Claim claim() const noexcept { return claim_; }

  // The first instance names its main window, from when the window takes
  // the show message on.
  bool Publish(HWND window) noexcept;
  // A later start: the first instance's main window, once it names one (it
  // may be starting too; waits up to `wait_ms`), or null. Below this level,
  // only a window of a process running this program's executable counts.
  HWND RunningWindow(DWORD wait_ms) const noexcept;
  // Posts the show message to `window` (from RunningWindow). False for null.
  static bool Show(HWND window) noexcept;
  bool ShowRunning(DWORD wait_ms) const noexcept { return Show(RunningWindow(wait_ms)); }

 private:
  win32::unique_handle block_;
  win32::unique_mapview view_;
  Claim claim_ = Claim::kRefused;
};

}  // namespace vardex
