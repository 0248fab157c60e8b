#include "window/frm_main.h"

#include "monitor/number_text.h"

namespace vardex {

FrmMain::FrmMain(const FrmMainControls& controls, const FrmMainComponents& components)
    : c_(controls),
      k_(components),
      // The fields' design-time texts are numbers; they seed the last number
      // each field is known to hold.
      use_time_{controls.intAppUseTime, ParseNumber(controls.intAppUseTime.Text()).value_or(10)},
      shut_down_time_{controls.intAppShutDownTime,
                      ParseNumber(controls.intAppShutDownTime.Text()).value_or(30)},
      check_time_{controls.intAppCheckTime, ParseNumber(controls.intAppCheckTime.Text()).value_or(5)} {}

bool FrmMain::Form_Load() {
  oMKHook = k_.hooks.Create(*this);
  if (!oMKHook) return false;

  vars_.sSystemPath = GetSystemPath() + "\\";
  c_.lblSystemPath.SetCaption(vars_.sSystemPath);
  LoadSettings();
  k_.csSysTray1.SetTrayOwner(hwnd_);

  StartTimer(c_.tmrAppCheck, check_time_, kAppCheckDesignInterval);
  c_.tmrAppCheck.SetEnabled(true);
  StartTimer(c_.tmrAppShotDown, use_time_, kAppShotDownDesignInterval);
  c_.tmrAppShotDown.SetEnabled(true);

  vars_.bAppLoaded = 0;
  k_.csSysTray1.TrayIcon(c_.picTimerOff);
  return true;
}

void FrmMain::StartTimer(Timer& timer, NumberField& seconds, std::int32_t design_interval) {
  const auto ms = RoundToInt32(ReadField(seconds) * 1000);
  if (!ms || !timer.SetInterval(*ms)) timer.SetInterval(design_interval);
}

void FrmMain::Form_Activate() {
  k_.csSysTray1.AddTrayIcon();
  k_.csSysTray1.MinimizeToTray(hwnd_);
}

void FrmMain::csSysTray1_RestoreEvent() {
  k_.csSysTray1.RestoreFromTray(hwnd_);
  LoadSettings();
  c_.txtPassword.SetText("");
}

void FrmMain::csSysTray1_IconEvent() { k_.csSysTray1.AddTrayIcon(); }

void FrmMain::Command2_Click() {
  k_.csSysTray1.MinimizeToTray(hwnd_);
  k_.csSysTray1.AddTrayIcon();
  vars_.iElapsedTime = 0;
  c_.lblCompletionRatio.SetCaption("0");
  if (vars_.bAppLoaded != 0) k_.csSysTray1.TrayIcon(c_.picTimerOn);
  SaveSettings();
}

void FrmMain::cmdBrowse_Click() {
  const std::string chosen = k_.CommonDialog1.ShowOpen(kBrowseTitle, kBrowseFilter);
  if (!chosen.empty()) c_.txtApplicationName.SetText(chosen);
}

// "Show Task" has the timers' guard too: an empty path would match every
// process, and a very short one a whole drive.
void FrmMain::Command1_Click() { EndMatchingProcesses(); }

}  // namespace vardex
