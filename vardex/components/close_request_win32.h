// Asking a process to close as Windows asks programs at sign-out: Restart
// Manager where it works, else WM_QUERYENDSESSION and WM_ENDSESSION with
// ENDSESSION_CLOSEAPP to its top-level windows, and a console program through
// its console window, as closing that window would. The answer is the
// process closing; nothing here waits for it on the caller's thread.
#pragma once

#include <windows.h>

namespace vardex {

// How long one window may take to answer; a program that asks its user
// ("Save changes?") answers when the user does, so this is the grace period's.
inline constexpr UINT kCloseAnswerTimeoutMs = 30000;

// Starts the request on a thread of its own and returns at once. `created`
// is the process's creation time, which Restart Manager checks as well.
bool RequestClose(DWORD process_id, ULONGLONG created);

}  // namespace vardex
