// What the form needs from the system besides its controls and components.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vardex {

class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // Shows the open-file dialog; the chosen file's full path, or "" when the
  // user cancelled. `filter` is in the "Description|pattern" form.
  virtual std::string ShowOpen(const std::string& title, const std::string& filter) = 0;
};

class SystemServices {
 public:
  virtual ~SystemServices() = default;
  // GetSystemDirectoryA into 260 bytes; "" when the call fails.
  virtual std::string SystemDirectoryA() = 0;
  // The user's decimal separator, for writing and reading fractions.
  virtual char DecimalSeparator() const = 0;
  // Whether a process's reported executable path names the configured
  // program: the whole path, case-insensitively by the system's rules for
  // the ANSI code page, as the hook component looks the program up.
  virtual bool SameProgramPath(const std::string& reported, const std::string& configured) const = 0;
  // The current time in milliseconds since 1601-01-01 UTC, the clock of
  // ProcessList::ProcessCreationTime.
  virtual std::int64_t NowMs() const = 0;
  // Tells the user that the settings file could not be written.
  virtual void ShowSettingsError(const std::string& path, const std::string& reason) = 0;
  // A clock in milliseconds that never goes back, for periods that a change
  // of the system time must not shorten (the grace period).
  virtual std::int64_t SteadyMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
};

}  // namespace vardex
