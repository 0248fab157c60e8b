// SettingsStorage over ordinary Win32 file I/O.
//
// Paths and contents are bytes in the ANSI code page, exactly as the form
// hands them over; nothing is converted here. The window's controls turn
// their Unicode text into ANSI with CP_ACP and the default flags, so a
// character outside the code page arrives as its best-fit look-alike, or "?"
// when it has none. The path opened is then the best-fit name (a "?" makes
// it invalid, and the read or save fails like any other), and a password is
// stored in its best-fit form; the password box converts the same way, so
// typing the same password still matches it.
#pragma once

#include <string>

#include "settings/settings_storage.h"

namespace vardex {

class SettingsStorageWin32 final : public SettingsStorage {
 public:
  // ERROR_FILE_NOT_FOUND is kNotFound; every other failure, a missing
  // directory included, is kFailed. The file is closed before this returns.
  ReadResult Read(const std::string& path) override;
  // Writes a temporary file in the same directory, flushes it and only then
  // moves it over `path`. On failure the temporary file is gone, the old
  // file is as it was, and `reason` is the system's message.
  WriteResult Write(const std::string& path, const std::string& bytes) override;
};

// The system's message for a Win32 error code, without its line break.
std::string SystemErrorText(unsigned long error);

}  // namespace vardex
