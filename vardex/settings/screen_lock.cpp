#include "settings/screen_lock.h"

namespace vardex {

void ScreenLock::SetPassword(const std::string& password) {
  password_ = password;
  if (password_ != kPasswordSentinel) {
    unlocked_ = false;
    Show();
  }
}

void ScreenLock::SetPolicy(const Policy& policy) {
  limit_set_ = policy.limit_minutes.has_value();
  path_set_ = policy.program_path.has_value();
  locked_ = policy.locked;
  Show();
}

void ScreenLock::Show() {
  const bool open = unlocked_ && !locked_;
  c_.intAppShutDownTime.SetEnabled(open && !limit_set_);
  c_.txtApplicationName.SetEnabled(open && !path_set_);
  c_.cmdBrowse.SetEnabled(open && !path_set_);
  c_.txtPassword.SetEnabled(!locked_);
  c_.lblPolicy.SetCaption(limit_set_ || path_set_ || locked_ ? kSetByAdministrator : "");
}

void ScreenLock::PasswordTyped() {
  if (c_.txtPassword.Text() != password_) return;
  unlocked_ = true;
  Show();
  c_.txtPassword.SetText("");
}

}  // namespace vardex
