// FrmMain: the application's one window, as state and event procedures.
// Portable: it reaches its controls, the outside components and the system
// only through the interfaces it is given, so the same code runs behind the
// Win32 window and in the unit tests.
//
// Each event procedure hands the event to the room that owns the behaviour:
// monitor/ (the watch: countdown, presence check, activity marks, input check,
// interval fields) and settings/ (the settings file, the screen lock). Every handler runs on the
// UI thread, one at a time; setting a text box's text runs that box's change
// handler at once, nested.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/input_watch.h"
#include "components/process_list.h"
#include "components/tray.h"
#include "monitor/watch.h"
#include "settings/policy.h"
#include "settings/screen_lock.h"
#include "settings/settings_file.h"
#include "settings/settings_storage.h"

namespace vardex {

// The file dialog's title and filter.
inline constexpr char kBrowseTitle[] = "Select file to monitor";
inline constexpr char kBrowseFilter[] = "All files (*.*)|*.*";

struct FrmMainComponents {
  ProcessList& ListKillProcess1;
  Tray& csSysTray1;
  FileDialog& CommonDialog1;
  HookComponentFactory& hooks;
  SettingsStorage& settings;
  SystemServices& system;
  InputWatch& input;
};

// The form-level variables, in declaration order, as the rooms that own them
// hold them now. oFileSystem and oTextStream have no counterpart: the
// settings file is read and written whole, and no stream outlives the
// procedure that opened it.
struct FrmMainState {
  std::int16_t bAppLoaded = 0;    // 0 false, -1 true
  std::int16_t iElapsedTime = 0;  // idle seconds
  bool bActivityUnseen = false;   // found, but the last MonitoredAppPath set did not watch all of it,
                                  // or a copy runs in a console that cannot be told from its terminal
  std::string sPassword;
  std::int32_t lLastKeyCode = 0;
  std::int32_t lLastMouseEvent = 0;
  std::string sSystemPath;
  bool bClosing = false;  // asked the program to close; the grace period runs
  bool bBusy = false;     // the program's work holds the count
};

class FrmMain final : public ActivityEvents {
 public:
  // `policy`: what administrators set (settings/policy.h), as read at start;
  // `audit`: where the steps are reported.
  FrmMain(FrmMainControls& controls, const FrmMainComponents& components, const Policy& policy = {},
          const Audit& audit = Audit());

  // The main window's handle as the 32-bit value the tray takes.
  void SetWindowHandle(std::int32_t hwnd) { hwnd_ = hwnd; }

  // Window life and commands.
  // Returns false, having done nothing else, when the hook component cannot
  // be created; the host then tells the user and ends.
  bool Form_Load();
  void Form_Activate();
  void Command2_Click();  // "&Done"
  void cmdBrowse_Click();
  void Command1_Click();  // "Show Task"
  void csSysTray1_IconEvent();
  void csSysTray1_RestoreEvent();
  // The tray's "Reopen NAME", or a click on the offer's notification.
  void csSysTray1_ReopenEvent();

  // Timers.
  void tmrAppShotDown_Timer();
  void tmrAppCheck_Timer();
  void tmrInputCheck_Timer();

  // Hook component events.
  void oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) override;
  void oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) override;

  // Change handlers.
  void intAppCheckTime_Change();
  void intAppUseTime_Change();
  void intAppShutDownTime_Change();
  void txtApplicationName_Change();
  void txtPassword_Change();

  // Settings file.
  void LoadSettings();

  // The policy key changed: what differs takes effect now. A limit or path
  // set or lifted reloads the settings file, whose values then show where no
  // policy sets them; the closing and work values apply from the next tick.
  void SetPolicy(const Policy& policy);

  FrmMainState state() const;
  bool HasHookComponent() const { return oMKHook != nullptr; }

 private:
  FrmMainControls& c_;
  FrmMainComponents k_;
  Watch watch_;
  ScreenLock lock_;
  SettingsFile settings_;
  Policy policy_;
  // What is watched, as the audit last reported it.
  void ReportSettings(bool started);

  std::unique_ptr<HookComponent> oMKHook;
  std::string reported_path_;
  double reported_limit_ = 0;
  std::int32_t hwnd_ = 0;
};

}  // namespace vardex
