// The screen lock: a stored password disables the idle limit, the path and
// "&Browse..."; typing the password enables them again.
#include "window/frm_main.h"

namespace vardex {

void FrmMain::LockScreen() {
  c_.intAppShutDownTime.SetEnabled(false);
  c_.txtApplicationName.SetEnabled(false);
  c_.cmdBrowse.SetEnabled(false);
}

void FrmMain::txtPassword_Change() {
  if (c_.txtPassword.Text() != vars_.sPassword) return;
  c_.intAppShutDownTime.SetEnabled(true);
  c_.txtApplicationName.SetEnabled(true);
  c_.cmdBrowse.SetEnabled(true);
  c_.txtPassword.SetText("");
}

}  // namespace vardex
