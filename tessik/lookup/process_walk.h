// Internals of the process walk, open to its tests: the libraries it loads by
// name and the platform family it walks for.
//
// On the NT family the list and the paths come from the module's process
// reader (common/processes/process_reader.h, one for all callers): one
// system-wide query in ntdll, and each process's path read once in its life
// and kept while the process runs. Where the query is absent, EnumProcesses
// gives the list and every path is read at every walk.
#pragma once

#include <windows.h>

#include <string>

#include "lookup/process_lookup.h"
#include "processes/process_query.h"
#include "processes/process_reader.h"

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

// The path of process `process_id` read now, through the walk's reader;
// empty when it cannot be read.
std::string ReadPathNow(const win32::process_libraries& libraries, DWORD process_id) noexcept;

}  // namespace tessik::detail
