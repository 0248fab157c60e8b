// The one rule for which process is a named program, for every module that
// watches or ends one: the whole executable path, compared as the file
// system compares names: ordinal, each character upper-cased by the system's
// table (CompareStringOrdinal), with none of the linguistic equivalences (ß
// is not "ss", a soft hyphen is a character, a fullwidth letter is not its
// ASCII one). ANSI text is converted strictly; text that does not convert
// names no program. A folder or a path cut short names no program either.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

#include "win32/text.h"

namespace win32 {

inline bool same_program_path(std::wstring_view reported, std::wstring_view configured) noexcept {
  if (reported.empty() || reported.size() > INT_MAX || configured.size() > INT_MAX) return false;
  return ::CompareStringOrdinal(reported.data(), static_cast<int>(reported.size()), configured.data(),
                                static_cast<int>(configured.size()), TRUE) == CSTR_EQUAL;
}

inline bool same_program_path(LPCSTR reported, LPCSTR configured) noexcept {
  try {
    return same_program_path(ansi_to_wide(reported), ansi_to_wide(configured));
  } catch (...) {  // out of memory: no match, the fail-safe side
    return false;
  }
}

}  // namespace win32
