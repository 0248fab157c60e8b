#include "window/frm_main.h"

namespace vardex {

FrmMain::FrmMain(FrmMainControls& controls, const FrmMainComponents& components)
    : c_(controls),
      k_(components),
      fields_(controls, components.system),
      marks_(controls),
      presence_(controls, components.ListKillProcess1, components.csSysTray1, components.system),
      countdown_(controls, components.ListKillProcess1, components.csSysTray1, components.system,
                 {marks_, presence_, fields_, closing_}),
      input_check_(components.input, presence_, marks_),
      lock_(controls),
      settings_(controls, components.settings, components.system, lock_, fields_.intAppShutDownTime) {}

FrmMainState FrmMain::state() const {
  FrmMainState s;
  s.bAppLoaded = presence_.loaded();
  s.iElapsedTime = countdown_.elapsed_seconds();
  s.bActivityUnseen = presence_.activity_unseen();
  s.sPassword = lock_.password();
  s.lLastKeyCode = marks_.last_key_code();
  s.lLastMouseEvent = marks_.last_mouse_event();
  s.sSystemPath = settings_.system_path();
  s.bClosing = closing_.asking();
  return s;
}

bool FrmMain::Form_Load() {
  oMKHook = k_.hooks.Create(*this);
  if (!oMKHook) return false;
  settings_.Locate();
  LoadSettings();
  k_.csSysTray1.SetTrayOwner(hwnd_);
  fields_.intAppCheckTime.StartTimer(c_.tmrAppCheck(), kAppCheckDesignInterval);
  c_.tmrAppCheck().SetEnabled(true);
  fields_.intAppUseTime.StartTimer(c_.tmrAppShotDown(), kAppShotDownDesignInterval);
  c_.tmrAppShotDown().SetEnabled(true);
  c_.tmrInputCheck().SetInterval(kInputCheckInterval);
  c_.tmrInputCheck().SetEnabled(true);
  presence_.Reset();
  k_.csSysTray1.TrayIcon(c_.picTimerOff());
  return true;
}

void FrmMain::Form_Activate() {
  k_.csSysTray1.AddTrayIcon();
  k_.csSysTray1.MinimizeToTray(hwnd_);
}

void FrmMain::csSysTray1_RestoreEvent() {
  k_.csSysTray1.RestoreFromTray(hwnd_);
  LoadSettings();
  c_.txtPassword().SetText("");
}

void FrmMain::csSysTray1_IconEvent() { k_.csSysTray1.AddTrayIcon(); }

void FrmMain::Command2_Click() {
  k_.csSysTray1.MinimizeToTray(hwnd_);
  k_.csSysTray1.AddTrayIcon();
  countdown_.Restart();
  settings_.Save();
}

void FrmMain::cmdBrowse_Click() {
  const std::string chosen = k_.CommonDialog1.ShowOpen(kBrowseTitle, kBrowseFilter);
  if (!chosen.empty()) c_.txtApplicationName().SetText(chosen);
}

void FrmMain::Command1_Click() { countdown_.EndMatchingProcesses(); }

// The input first: input that only the input check sees, in the second
// before an idle tick, counts at that tick rather than after it.
void FrmMain::tmrAppShotDown_Timer() {
  input_check_.Tick();
  countdown_.Tick();
}

void FrmMain::tmrAppCheck_Timer() {
  // A program started again, or another copy of it, gets the whole limit,
  // not the count that ended it before or that another copy ran up.
  if (presence_.Tick(oMKHook.get())) countdown_.StartAfresh();
}

void FrmMain::tmrInputCheck_Timer() {
  input_check_.Tick();
  countdown_.Second();
}

void FrmMain::oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) { marks_.Key(lKeyCode, bPressed); }

void FrmMain::oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) {
  marks_.Mouse(lEventCode, lX, lY);
}

void FrmMain::intAppCheckTime_Change() { fields_.intAppCheckTime.Bound(); }

// A new limit is a fresh start, as a new path is: a limit typed on the way
// to another one ("4" on the way to 45) never ends a program on the way.
void FrmMain::intAppShutDownTime_Change() {
  fields_.intAppShutDownTime.Bound();
  countdown_.StartAfresh();
}

void FrmMain::intAppUseTime_Change() {
  fields_.intAppUseTime.Bound();
  fields_.intAppUseTime.CopyPeriodTo(c_.tmrAppShotDown());
}

// A new path, or one half typed, never inherits the count of the path before.
void FrmMain::txtApplicationName_Change() { countdown_.StartAfresh(); }

void FrmMain::txtPassword_Change() { lock_.PasswordTyped(); }

std::string FrmMain::GetSystemPath() { return settings_.GetSystemPath(); }

void FrmMain::LoadSettings() { settings_.Load(); }

}  // namespace vardex
