// The one rule for which process is a named program, for every module that
// watches or ends one: the whole executable path, compared
// case-insensitively by the system's rules for the ANSI code page. A folder
// or a path cut short names no program.
#pragma once

#include <windows.h>

namespace win32 {

inline bool same_program_path(LPCSTR reported, LPCSTR configured) noexcept {
  return ::lstrcmpiA(reported, configured) == 0;
}

}  // namespace win32
