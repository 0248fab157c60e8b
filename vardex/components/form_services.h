// What the form needs from the system besides its controls and components.
#pragma once

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
  // Milliseconds on a clock that only goes forward, whatever is done to the
  // date and time: every comparison of times is made on it.
  virtual std::int64_t MonotonicMs() const = 0;
  // Milliseconds the machine has been awake: this clock stands still while
  // it sleeps or hibernates. A wait that the user must be awake for (the
  // grace period, which a program's own question may fill) runs on it.
  virtual std::int64_t AwakeMs() const = 0;
  // Starts the program at the whole path `path` (never searched for) with
  // `arguments` (UTF-8; "" for none) in its own folder, as the user. False
  // when it could not be started.
  virtual bool StartProgram(const std::string& path, const std::string& arguments) = 0;
  // Tells the user that the settings file could not be written.
  virtual void ShowSettingsError(const std::string& path, const std::string& reason) = 0;
};

}  // namespace vardex
