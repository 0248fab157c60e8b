// InputWatch over Win32: GetLastInputInfo and the foreground window's owner.
//
// A console window is drawn by the console host. On Windows the host names
// the console's program as the window's owner (conhost sets it), so the
// owner is already the program. Under Wine the owner is the host itself,
// conhost.exe, which the console's program started (or whoever made the
// console for it): there the owner is taken to be the host's parent, when
// that process is older than the host, so that an identifier reused since
// never stands in for it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "components/input_watch.h"
#include "win32/unique_any.h"

namespace vardex {

class InputWatchWin32 final : public InputWatch {
 public:
  InputWatchWin32();
  InputSample Sample() override;

  // The program behind process `owner` of a foreground window: the console
  // host's parent for a console host, else `owner` itself; none when a
  // console host's program cannot be told.
  std::optional<DWORD> ProgramOf(DWORD owner) const;

 private:
  win32::unique_hmodule ntdll_;  // NtQueryInformationProcess, for a host's parent
};

}  // namespace vardex
