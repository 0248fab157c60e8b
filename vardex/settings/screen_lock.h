// The screen lock: a stored password disables the idle limit, the path and
// "&Browse..."; typing the password enables them again. It owns sPassword.
#pragma once

#include <string>

#include "components/controls.h"

namespace vardex {

// The password line of a file that holds no password.
inline constexpr char kPasswordSentinel[] = "unset entry";

class ScreenLock {
 public:
  explicit ScreenLock(FrmMainControls& c) : c_(c) {}

  // The password read from the file; any but the sentinel locks the screen.
  void SetPassword(const std::string& password);
  // txtPassword's change handler.
  void PasswordTyped();
  // Unlocked: "&Browse..." is enabled.
  bool Unlocked() const { return c_.cmdBrowse().Enabled(); }

  const std::string& password() const { return password_; }

 private:
  void Lock();

  FrmMainControls& c_;
  std::string password_;
};

}  // namespace vardex
