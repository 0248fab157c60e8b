// Libraries loaded by name come from the system directory only: the current
// directory and PATH, where anyone may plant a DLL of the same name, are never
// searched. Also the process-wide setting that takes them out of the search.
#pragma once

#include <windows.h>

namespace win32 {
namespace detail {

// The LOAD_LIBRARY_SEARCH_* flags came with AddDllDirectory (Windows 8, or
// KB2533623 on Vista and 7); a system without it rejects the flags.
inline FARPROC kernel32_proc(LPCSTR name) noexcept {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
}

}  // namespace detail

// The library `name` (a file name, no folder) from the system directory, or
// null. The caller owns the reference (unique_hmodule).
inline HMODULE load_system_library(LPCSTR name) noexcept {
  if (detail::kernel32_proc("AddDllDirectory")) return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  char path[MAX_PATH];
  const UINT folder = ::GetSystemDirectoryA(path, MAX_PATH);
  const int length = ::lstrlenA(name);
  if (folder == 0 || folder + 1 + static_cast<UINT>(length) >= MAX_PATH) return nullptr;
  path[folder] = '\\';
  ::lstrcpyA(path + folder + 1, name);
  return ::LoadLibraryA(path);
}

// From here on, loads in this process search only the program's folder, the
// system directory and folders added on purpose. Call first thing at start-up;
// where the system lacks the setting, nothing changes.
inline void restrict_library_search() noexcept {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
  const auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void (*)()>(detail::kernel32_proc("SetDefaultDllDirectories")));
  if (set) set(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

}  // namespace win32
