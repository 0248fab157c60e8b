#include "settings/screen_lock.h"

namespace vardex {

void ScreenLock::SetPassword(const std::string& password) {
  password_ = password;
  if (password_ != kPasswordSentinel) Lock();
}

void ScreenLock::Lock() {
  c_.intAppShutDownTime.SetEnabled(false);
  c_.txtApplicationName.SetEnabled(false);
  c_.cmdBrowse.SetEnabled(false);
}

void ScreenLock::PasswordTyped() {
  if (c_.txtPassword.Text() != password_) return;
  c_.intAppShutDownTime.SetEnabled(true);
  c_.txtApplicationName.SetEnabled(true);
  c_.cmdBrowse.SetEnabled(true);
  c_.txtPassword.SetText("");
}

}  // namespace vardex
