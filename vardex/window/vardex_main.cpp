// Vardex.exe: wires the window, the components and the form together, runs
// Form_Load, shows the window and runs the message loop until it closes.
#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <string>

#include "components/file_dialog_win32.h"
#include "components/hook_client_win32.h"
#include "components/input_watch_win32.h"
#include "components/process_list_win32.h"
#include "components/system_services_win32.h"
#include "components/tray_tooltip.h"
#include "components/tray_win32.h"
#include "settings/policy_source_win32.h"
#include "settings/settings_storage_win32.h"
#include "win32/com_apartment.h"
#include "win32/registry_watch.h"
#include "win32/result.h"
#include "win32/system_library.h"
#include "window/event_log_win32.h"
#include "window/frm_main.h"
#include "window/main_window.h"
#include "window/main_window_ids.h"
#include "window/restart_win32.h"
#include "window/single_instance_win32.h"

namespace {

constexpr int kExitNoHookComponent = 1;
constexpr int kExitNoWindow = 2;
constexpr int kExitFailed = 3;
constexpr int kExitInstanceBlockRefused = 4;

// How long a later start waits for the first instance's window: that one may
// have been started a moment before and still be loading.
constexpr DWORD kWaitForFirstInstanceMs = 20000;

// Running beside another instance unseen would split the program's activity
// between the two, and one would end the program in use: say so and stop.
void ReportRefusedInstanceBlock(const std::string& name) {
  const std::string text = "Vardex cannot start: the object that keeps it to one instance per user and session (\"" +
                           name + "\") belongs to another program, or cannot be made.\n\n"
                           "Sign out and in again; if this message comes back, another program blocks Vardex.";
  ::MessageBoxA(nullptr, text.c_str(), "Vardex", MB_OK | MB_ICONERROR);
}

// An elevated start while the user's own Vardex runs without elevation: one
// instance per user and session, so this one ends, and the user learns
// where Vardex is and how to have it elevated.
void ReportRunningWithoutElevation() {
  ::MessageBoxW(nullptr,
                L"Vardex is already running for you, without administrator rights; its window comes back now.\n\n"
                L"To run Vardex as administrator, close that window first, then start Vardex as administrator again.",
                L"Vardex", MB_OK | MB_ICONINFORMATION);
}

// Without the component no activity is seen, and the countdown would end the
// watched program while the user works in it: tell the user and stop.
void ReportMissingHookComponent(HRESULT why) {
  wchar_t text[512];
  std::swprintf(text, sizeof text / sizeof text[0],
                L"Vardex cannot start: the hook component \"%ls\" cannot be created (error 0x%08lX).\n\n"
                L"Register Tessik.dll, for instance with:\n\n    regsvr32 Tessik.dll",
                vardex::kHookProgId, static_cast<unsigned long>(why));
  ::MessageBoxW(nullptr, text, L"Vardex", MB_OK | MB_ICONERROR);
}

int Run(HINSTANCE instance) {
  const std::string instance_name = vardex::InstanceBlockName();
  vardex::InstanceBlock single(instance_name);
  switch (single.claim()) {
    case vardex::InstanceBlock::Claim::kFirst:
      break;
    case vardex::InstanceBlock::Claim::kRunning:
      single.ShowRunning(kWaitForFirstInstanceMs);
      return 0;
    case vardex::InstanceBlock::Claim::kBelow:
      if (const HWND running = single.RunningWindow(kWaitForFirstInstanceMs)) {
        ReportRunningWithoutElevation();
        vardex::InstanceBlock::Show(running);
        return 0;
      }
      ReportRefusedInstanceBlock(instance_name);
      return kExitInstanceBlockRefused;
    case vardex::InstanceBlock::Claim::kRefused:
      ReportRefusedInstanceBlock(instance_name);
      return kExitInstanceBlockRefused;
  }

  const win32::com_apartment com;
  if (!com.ok()) return kExitFailed;

  vardex::MainWindow window;
  if (!window.Create(instance)) return kExitNoWindow;
  vardex::FrmMainControls& controls = window.Controls();
  // Before the first read, so that no change after it goes unseen.
  win32::registry_watch policy_watch(HKEY_LOCAL_MACHINE, vardex::policy::kWatchedKey, window.hwnd(),
                                     vardex::kMsgPolicyChanged);

  vardex::ProcessListWin32 processes;
  vardex::TrayWin32 tray;
  vardex::FileDialogWin32 dialog;
  dialog.SetOwner(window.hwnd());
  vardex::HookComponentFactoryWin32 hooks;
  vardex::SettingsStorageWin32 settings;
  vardex::SystemServicesWin32 system;
  system.SetOwner(window.hwnd());
  vardex::InputWatchWin32 input;
  vardex::PolicySourceWin32 policies;
  const vardex::Policy policy = vardex::ReadPolicy(policies);
  // Whether the events name the user is taken at start.
  vardex::EventLogSink events(policy.names_users);
  vardex::FrmMain form(controls, {processes, tray, dialog, hooks, settings, system, input},
                       policy, vardex::Audit(&events, events.user()));

  if (!tray.Create(instance, [&form] { form.csSysTray1_RestoreEvent(); },
                   [&form] { form.csSysTray1_IconEvent(); }, [&form] { form.csSysTray1_ReopenEvent(); }))
    return kExitNoWindow;
  window.Attach(form);
  window.after_tick = [&] {
    const vardex::FrmMainState s = form.state();
    tray.SetTooltip(vardex::TrayTooltip(s.bAppLoaded != 0, controls.txtApplicationName().Text(), s.iElapsedTime,
                                        controls.intAppShutDownTime().Text(), s.bActivityUnseen, s.bClosing, s.bBusy));
  };

  window.on_policy_change = [&] {
    policy_watch.arm();
    vardex::PolicySourceWin32 now;
    form.SetPolicy(vardex::ReadPolicy(now));
    window.after_tick();
  };

  if (!form.Form_Load()) {
    ReportMissingHookComponent(hooks.last_error());
    return kExitNoHookComponent;
  }
  window.Show();
  // From here on a later start finds the window; the first activation's
  // trip to the notification area is queued before its request.
  single.Publish(window.hwnd());
  vardex::RegisterForRestart();

  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (window.PreTranslate(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // First of all: no later load may find a DLL planted in the current
  // directory or on PATH.
  win32::restrict_library_search();
  try {
    return Run(instance);
  } catch (...) {
    win32::report_exception("wWinMain");
    return kExitFailed;
  }
}
