// Internals of the process walk, open to its tests: the libraries it loads by
// name, the platform family it walks for and the choice of the threads to
// hook.
//
// On the NT family the list and the paths come from the module's process
// reader (common/win32/process_reader.h, one for all callers): one
// system-wide query in ntdll, and each process's path read once in its life
// and kept while the process runs. Where the query is absent, EnumProcesses
// gives the list and every path is read at every walk.
#pragma once

#include <windows.h>

#include <vector>

#include "lookup/process_lookup.h"
#include "win32/process_query.h"

namespace tessik::detail {

struct WalkLibraries {
  LPCSTR psapi;     // NT family: EnumProcesses, GetModuleFileNameExA
  LPCSTR vdmdbg;    // NT family: VDMEnumTaskWOWEx, for 16-bit tasks
  LPCSTR toolhelp;  // Windows 95 family: the process snapshot
  LPCSTR ntdll = win32::kNtdll;  // NT family: NtQuerySystemInformation, the list with creation times
};
inline constexpr WalkLibraries kSystemLibraries{win32::kPsapi, win32::kVdmdbg, win32::kKernel32, win32::kNtdll};

inline constexpr DWORD kPlatformWindows95 = VER_PLATFORM_WIN32_WINDOWS;  // 1
inline constexpr DWORD kPlatformNt = VER_PLATFORM_WIN32_NT;              // 2

// ForEachProcess for a given platform family and set of libraries.
BOOL ForEachProcessOn(DWORD platform_id, const WalkLibraries& libraries, ProcessVisitor visitor,
                      LPARAM user) noexcept;

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
