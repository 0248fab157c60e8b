#include "window/frm_main.h"

namespace vardex {

FrmMain::FrmMain(FrmMainControls& controls, const FrmMainComponents& components, const Policy& policy,
                 const Audit& audit)
    : c_(controls),
      k_(components),
      watch_(controls, components.ListKillProcess1, components.csSysTray1, components.system, components.input,
             policy.closing, policy.work, audit, policy.reopen_minutes),
      lock_(controls),
      settings_(controls, components.settings, components.system, lock_, watch_.fields().intAppShutDownTime),
      policy_(policy) {
  settings_.SetPolicy(policy_);
  lock_.SetPolicy(policy_);
}

void FrmMain::SetPolicy(const Policy& policy) {
  if (policy.SameAs(policy_)) return;
  const bool fields_changed =
      policy.limit_minutes != policy_.limit_minutes || policy.program_path != policy_.program_path;
  policy_ = policy;
  watch_.closing().SetPolicy(policy_.closing);
  watch_.use().SetWorkPolicy(policy_.work);
  watch_.reopen().SetMinutes(policy_.reopen_minutes);
  settings_.SetPolicy(policy_);
  if (fields_changed) LoadSettings();
  lock_.SetPolicy(policy_);
  ReportSettings(false);
}

FrmMainState FrmMain::state() const {
  FrmMainState s;
  s.bAppLoaded = watch_.presence().loaded();
  s.iElapsedTime = watch_.countdown().elapsed_seconds();
  s.bActivityUnseen = watch_.presence().activity_unseen() || watch_.input_check().console_unseen();
  s.sPassword = lock_.password();
  s.lLastKeyCode = watch_.marks().last_key_code();
  s.lLastMouseEvent = watch_.marks().last_mouse_event();
  s.sSystemPath = settings_.system_path();
  s.bClosing = watch_.closing().asking();
  s.bBusy = watch_.countdown().busy();
  return s;
}

bool FrmMain::Form_Load() {
  oMKHook = k_.hooks.Create(*this);
  if (!oMKHook) return false;
  settings_.Locate();
  LoadSettings();
  k_.csSysTray1.SetTrayOwner(hwnd_);
  watch_.Start();
  ReportSettings(true);
  return true;
}

void FrmMain::ReportSettings(bool started) {
  const std::string path = c_.txtApplicationName().Text();
  const double limit = watch_.fields().intAppShutDownTime.Read();
  const bool by_policy = policy_.limit_minutes || policy_.program_path;
  if (started)
    watch_.audit().WatchingStarted(path, limit, by_policy ? kFromPolicy : settings_.source());
  else if (path != reported_path_ || limit != reported_limit_)
    watch_.audit().SettingsChanged(path, limit, by_policy ? kFromPolicy : kFromSettingsFile);
  reported_path_ = path;
  reported_limit_ = limit;
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

void FrmMain::csSysTray1_ReopenEvent() { watch_.Reopen(k_.system); }

void FrmMain::csSysTray1_IconEvent() { k_.csSysTray1.AddTrayIcon(); }

void FrmMain::Command2_Click() {
  k_.csSysTray1.MinimizeToTray(hwnd_);
  k_.csSysTray1.AddTrayIcon();
  watch_.Restart();
  settings_.Save();
  ReportSettings(false);
}

void FrmMain::cmdBrowse_Click() {
  const std::string chosen = k_.CommonDialog1.ShowOpen(kBrowseTitle, kBrowseFilter);
  // A policy may have set the path while the dialog was open.
  if (!chosen.empty() && !policy_.program_path) c_.txtApplicationName().SetText(chosen);
}

void FrmMain::Command1_Click() { watch_.EndMatchingProcesses(oMKHook.get()); }

void FrmMain::tmrAppShotDown_Timer() { watch_.IdleTick(); }

void FrmMain::tmrAppCheck_Timer() { watch_.AppCheckTick(oMKHook.get()); }

void FrmMain::tmrInputCheck_Timer() { watch_.Second(); }

void FrmMain::oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) { watch_.Key(lKeyCode, bPressed); }

void FrmMain::oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) {
  watch_.Mouse(lEventCode, lX, lY);
}

void FrmMain::intAppCheckTime_Change() { watch_.CheckTimeChanged(); }

void FrmMain::intAppShutDownTime_Change() { watch_.ShutDownTimeChanged(); }

void FrmMain::intAppUseTime_Change() { watch_.UseTimeChanged(); }

void FrmMain::txtApplicationName_Change() { watch_.PathChanged(); }

void FrmMain::txtPassword_Change() { lock_.PasswordTyped(); }


void FrmMain::LoadSettings() { settings_.Load(); }

}  // namespace vardex
