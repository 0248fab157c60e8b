// The choice of the threads to hook among what a lookup found, open to its
// tests: what the user works in now first, then the newest copies.
#pragma once

#include <windows.h>

#include <vector>

namespace tessik::detail {

struct TopLevelWindow {
  DWORD process_id;
  DWORD thread_id;
  bool visible;
};

struct MatchedProcess {
  DWORD id;
  ULONGLONG created;  // creation time as a FILETIME value; 0 when unknown
};

// FindAppThreads' rule over what it found: the matching processes in the
// walk's order, the process of the foreground window (0 for none) and the
// processes' top-level windows in window order (Z order). `found` gets how
// many threads the rule chose before the bound of `capacity`.
DWORD ChooseAppThreads(std::vector<MatchedProcess> processes, DWORD foreground_process,
                       const std::vector<TopLevelWindow>& windows, DWORD* threads, DWORD* owners, DWORD capacity,
                       DWORD* found) noexcept;

}  // namespace tessik::detail
