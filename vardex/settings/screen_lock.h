// The screen lock: a stored password disables the idle limit, the path and
// "&Browse..."; typing the password enables them again. It owns sPassword.
// Administrators' policies (settings/policy.h) come on top: a field a policy
// sets stays disabled, password or none, with "Set by your administrator"
// beside it, and the lock policy disables the password box too.
#pragma once

#include <string>

#include "components/controls.h"
#include "settings/policy.h"

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
        txtPassword(c.txtPassword()),
        lblPolicy(c.lblPolicy()) {}
  TextBox& intAppShutDownTime;
  TextBox& txtApplicationName;
  CommandButton& cmdBrowse;
  TextBox& txtPassword;
  Label& lblPolicy;
};

inline constexpr char kSetByAdministrator[] = "Set by your administrator";

class ScreenLock {
 public:
  explicit ScreenLock(const LockControls& c) : c_(c) {}

  // The password read from the file; any but the sentinel locks the screen.
  void SetPassword(const std::string& password);
  // txtPassword's change handler.
  void PasswordTyped();
  // The password's rule alone: no password stored, or it was typed.
  bool Unlocked() const { return unlocked_; }
  // The fields the policy sets are disabled from now on; those it no longer
  // sets follow the password's rule again.
  void SetPolicy(const Policy& policy);

  const std::string& password() const { return password_; }

 private:
  void Show();

  LockControls c_;
  bool unlocked_ = true;
  bool limit_set_ = false, path_set_ = false, locked_ = false;  // by the policy
  // None until a file says otherwise: an empty password is a password.
  std::string password_ = kPasswordSentinel;
};

}  // namespace vardex
