// Internals of the process walk, open to its tests: the libraries it loads by
// name, the platform family it walks for, the reading of the identifier list
// and the choice of the threads to hook.
//
// On the NT family the list comes from one system-wide query in ntdll, which
// also gives each process's creation time, and each process's path is read
// through PSAPI once in its life and kept (per module, for all callers) while
// the process runs. Where the query is absent, EnumProcesses gives the list
// and every path is read at every walk.
#pragma once

#include <windows.h>

#include <vector>

#include "lookup/process_lookup.h"
#include "win32/unique_any.h"

namespace tessik::detail {

struct WalkLibraries {
  LPCSTR psapi;     // NT family: EnumProcesses, EnumProcessModules, GetModuleFileNameExA
  LPCSTR vdmdbg;    // NT family: VDMEnumTaskWOWEx, for 16-bit tasks
  LPCSTR toolhelp;  // Windows 95 family: the process snapshot
  LPCSTR ntdll = "ntdll.dll";  // NT family: NtQuerySystemInformation, the list with creation times
};
inline constexpr WalkLibraries kSystemLibraries{"PSAPI.DLL", "VDMDBG.DLL", "Kernel32.DLL", "ntdll.dll"};

inline constexpr DWORD kPlatformWindows95 = VER_PLATFORM_WIN32_WINDOWS;  // 1
inline constexpr DWORD kPlatformNt = VER_PLATFORM_WIN32_NT;              // 2

// ForEachProcess for a given platform family and set of libraries.
BOOL ForEachProcessOn(DWORD platform_id, const WalkLibraries& libraries, ProcessVisitor visitor,
                      LPARAM user) noexcept;

using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD size, DWORD* filled);

// The process list's buffer.
using HeapBlock = win32::unique_process_heap_block;

// Fills `ids` with the process list, starting with 1024 bytes and doubling
// while a read fills the buffer completely. FALSE when the buffer cannot be
// had or the call fails.
BOOL ReadProcessIds(EnumProcessesFn enum_processes, HeapBlock& ids, DWORD* count) noexcept;

struct TopLevelWindow {
  DWORD process_id;
  DWORD thread_id;
  bool visible;
};

// FindAppThreads' rule over what it found: the matching processes in the
// walk's order and their top-level windows in window order (Z order).
DWORD ChooseAppThreads(const std::vector<DWORD>& processes, const std::vector<TopLevelWindow>& windows,
                       DWORD* threads, DWORD capacity) noexcept;

}  // namespace tessik::detail
