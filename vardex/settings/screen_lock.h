// The screen lock: a stored password disables the idle limit, the path and
// "&Browse..."; typing the password enables them again. It owns sPassword.
#pragma once

#include <string>

#include "components/controls.h"

namespace vardex {

// The password line of a file that holds no password.
inline constexpr char kPasswordSentinel[] = "unset entry";

// The controls the lock disables, and the password box.
struct LockControls {
  // The form's own, as the form hands them on.
  LockControls(FrmMainControls& c)
      : intAppShutDownTime(c.intAppShutDownTime()),
        txtApplicationName(c.txtApplicationName()),
        cmdBrowse(c.cmdBrowse()),
        txtPassword(c.txtPassword()) {}
  TextBox& intAppShutDownTime;
  TextBox& txtApplicationName;
  CommandButton& cmdBrowse;
  TextBox& txtPassword;
};

class ScreenLock {
 public:
  explicit ScreenLock(const LockControls& c) : c_(c) {}

  // The password read from the file; any but the sentinel locks the screen.
  void SetPassword(const std::string& password);
  // txtPassword's change handler.
  void PasswordTyped();
  // Unlocked: "&Browse..." is enabled.
  bool Unlocked() const { return c_.cmdBrowse.Enabled(); }

  const std::string& password() const { return password_; }

 private:
  void Lock();

  LockControls c_;
  // None until a file says otherwise: an empty password is a password.
  std::string password_ = kPasswordSentinel;
};

}  // namespace vardex
