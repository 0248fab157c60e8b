// FrmMain: the application's one window, as state and event procedures.
// Portable: it reaches its controls, the outside components and the system
// only through the interfaces it is given, so the same code runs behind the
// Win32 window and in the unit tests.
//
// The event procedures live beside the rooms that own them:
//   monitor/countdown.cpp        tmrAppShotDown_Timer, the match rule
//   monitor/presence.cpp         tmrAppCheck_Timer
//   monitor/activity.cpp         oMKHook_KeyEvent, oMKHook_MouseEvent
//   monitor/interval_fields.cpp  the three interval fields' change handlers
//   settings/settings_file.cpp   GetSystemPath, LoadSettings, the save
//   settings/screen_lock.cpp     txtPassword_Change, the lock
//   window/frm_main.cpp          Form_Load, Form_Activate, commands, tray events
// Every handler runs on the UI thread, one at a time; setting a text box's
// text runs that box's change handler at once, nested.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "components/hook_component.h"
#include "components/process_list.h"
#include "components/tray.h"
#include "settings/settings_storage.h"
#include "window/controls.h"
#include "window/form_services.h"

namespace vardex {

// Design-time values that the handlers fall back on.
inline constexpr std::int32_t kAppCheckDesignInterval = 1000;
inline constexpr std::int32_t kAppShotDownDesignInterval = 10000;
inline constexpr char kPasswordSentinel[] = "unset entry";
inline constexpr char kSettingsFileName[] = "vardex.ini";
inline constexpr char kBrowseTitle[] = "Select file to monitor";
inline constexpr char kBrowseFilter[] = "All files (*.*)|*.*";

struct FrmMainControls {
  TextBox& intAppShutDownTime;
  TextBox& txtApplicationName;
  TextBox& txtPassword;
  TextBox& intAppUseTime;
  TextBox& intAppCheckTime;
  CommandButton& cmdBrowse;
  Label& LblElapsedTime;
  Label& lblCompletionRatio;
  Label& lblhKeyPressed;
  Label& lblKeyReleased;
  Label& lblMouseEvent;
  Label& lblCourrentMouse;
  Label& lblSystemPath;
  Timer& tmrAppCheck;
  Timer& tmrAppShotDown;
  const Picture& picTimerOff;
  const Picture& picTimerOn;
  // Picture1 .. Picture7: one to seven eighths of the dial filled.
  std::array<const Picture*, 7> Pictures;
};

struct FrmMainComponents {
  ProcessList& ListKillProcess1;
  Tray& csSysTray1;
  FileDialog& CommonDialog1;
  HookComponentFactory& hooks;
  SettingsStorage& settings;
  SystemServices& system;
};

// The form-level variables, in declaration order. oFileSystem and
// oTextStream have no counterpart: the settings file is read and written
// whole, and no stream outlives the procedure that opened it.
struct FrmMainState {
  std::int16_t bAppLoaded = 0;    // 0 false, -1 true
  std::int16_t iElapsedTime = 0;  // idle seconds
  bool bActivityUnseen = false;   // found, but the last MonitoredAppPath set failed
  std::string sPassword;
  std::int32_t lLastKeyCode = 0;
  std::int32_t lLastMouseEvent = 0;
  std::string sSystemPath;
};

class FrmMain final : public ActivityEvents {
 public:
  FrmMain(const FrmMainControls& controls, const FrmMainComponents& components);

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

  // Timers.
  void tmrAppShotDown_Timer();
  void tmrAppCheck_Timer();

  // Hook component events.
  void oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) override;
  void oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) override;

  // Change handlers.
  void intAppCheckTime_Change();
  void intAppUseTime_Change();
  void intAppShutDownTime_Change();
  void txtPassword_Change();

  // Settings file.
  std::string GetSystemPath();
  void LoadSettings();

  const FrmMainState& state() const { return vars_; }
  bool HasHookComponent() const { return oMKHook != nullptr; }

 private:
  // An interval field's number: the text read as a number, or, while the text
  // is not one (the user is retyping it), the field's last number. Nothing
  // is clamped or rewritten for a text that is not a number.
  struct NumberField {
    TextBox& box;
    double last_valid;
  };
  double ReadField(NumberField& field);
  void BoundField(NumberField& field, double lower, double upper);

  // The guard of both timers: a path of 7 characters or fewer.
  bool PathTooShort() const;
  // The match rule: the first L characters of `reported` equal `upper_path`
  // (the configured path in upper case, L its length), case-sensitively.
  static bool Matches(const std::string& reported, const std::string& upper_path);
  // Ends every listed process that matches the configured path, setting the
  // stopped icon once per ended process. Used by the countdown and "Show Task".
  void EndMatchingProcesses();

  // Sets a timer's period from a field in seconds; a period the timer
  // refuses leaves it at its design-time interval.
  void StartTimer(Timer& timer, NumberField& seconds, std::int32_t design_interval);

  void LockScreen();
  void SaveSettings();
  std::string SettingsPath() const { return vars_.sSystemPath + kSettingsFileName; }

  FrmMainControls c_;
  FrmMainComponents k_;
  FrmMainState vars_;
  std::unique_ptr<HookComponent> oMKHook;
  NumberField use_time_;
  NumberField shut_down_time_;
  NumberField check_time_;
  std::int32_t hwnd_ = 0;
};

}  // namespace vardex
