// Asking a process to close as Windows asks programs at sign-out: Restart
// Manager where it works, else WM_QUERYENDSESSION and WM_ENDSESSION with
// ENDSESSION_CLOSEAPP to its top-level windows, and a console program that
// is its console's only client through its console window, as closing that
// window would. The answer is the process closing, or agreeing; nothing here
// waits for it on the caller's thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "win32/unique_any.h"

namespace vardex {

// How long one window may take to answer; a program that asks its user
// ("Save changes?") answers when the user does, so this is the grace period's.
inline constexpr UINT kCloseAnswerTimeoutMs = 30000;

// One request to one process. Its handle pins the process: while the request
// holds it, the identifier names no other process, and a window gets a
// message only while the process runs and owns that window, checked before
// each send.
class CloseRequest {
 public:
  // `process` with SYNCHRONIZE and PROCESS_QUERY_LIMITED_INFORMATION.
  CloseRequest(win32::unique_handle process, DWORD id) : process_(std::move(process)), id_(id) {}

  // Restart Manager's request, else the messages'; waits for the answers.
  void Ask() noexcept;
  // The messages alone: the windows of the process, or its console.
  void AskThroughMessages();

  // Answered yes and returned from being told that the session ends (every
  // window), or Restart Manager closed it.
  bool agreed() const { return agreed_; }
  // Agreed, or closed: nothing is left to wait for.
  bool done() const { return agreed_ || !Running(); }
  bool Running() const { return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

 private:
  bool Owns(HWND window) const;
  void AskThroughConsole();

  win32::unique_handle process_;
  DWORD id_;
  std::atomic<bool> agreed_{false};
};

// Starts the request on the system's thread pool and returns at once; null
// when it could not be queued (the grace period's end still comes).
std::shared_ptr<CloseRequest> RequestClose(win32::unique_handle process, DWORD id);

}  // namespace vardex
