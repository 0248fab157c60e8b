// A form with every control at its design-time value, wired to the fakes of
// components/fakes_test.h.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/fakes_test.h"
#include "window/frm_main.h"

namespace vardex::testing {

// A form with every control at its design-time value, wired to the fakes.
// Construct, adjust the fakes, then call Load() (Form_Load) if the test
// needs the started state.
class FormFixture : public ::testing::Test {
 protected:
  static constexpr std::int32_t kWindowHandle = 0x1234;
  static constexpr char kIniPath[] = "C:\\WINDOWS\\system32\\vardex.ini";
  static constexpr char kDesignPath[] = "C:\\Program Files\\Navision Financials\\FIN.EXE";

  FormFixture() { MakeForm(storage, system); }

  // A new form over the same controls, with other settings and services.
  void MakeForm(SettingsStorage& settings, SystemServices& services) {
    intAppShutDownTime.on_change = [this] { form->intAppShutDownTime_Change(); };
    intAppUseTime.on_change = [this] { form->intAppUseTime_Change(); };
    intAppCheckTime.on_change = [this] { form->intAppCheckTime_Change(); };
    txtPassword.on_change = [this] { form->txtPassword_Change(); };
    form = std::make_unique<FrmMain>(controls, FrmMainComponents{processes, tray, dialog, hooks, settings, services});
    form->SetWindowHandle(kWindowHandle);
  }

  bool Load() { return form->Form_Load(); }

  // Name of the picture the tray shows ("" for none).
  std::string TrayPicture() const {
    const auto* p = dynamic_cast<const FakePicture*>(tray.icon);
    return p ? p->name : std::string();
  }
  // The configured program runs as `count` processes with ids 100, 101, ...
  void RunWatched(int count = 1, const std::string& reported = "C:\\PROGRAM FILES\\NAVISION FINANCIALS\\FIN.EXE") {
    for (int i = 0; i < count; ++i)
      processes.running.push_back({reported, 100 + static_cast<std::int32_t>(processes.running.size())});
  }

  CallLog log;
  FakeControls controls{kAppCheckDesignInterval, kAppShotDownDesignInterval};
  // The controls by their design names, as the tests use them.
  FakeTextBox& intAppShutDownTime = controls.intAppShutDownTime_;
  FakeTextBox& txtApplicationName = controls.txtApplicationName_;
  FakeTextBox& txtPassword = controls.txtPassword_;
  FakeTextBox& intAppUseTime = controls.intAppUseTime_;
  FakeTextBox& intAppCheckTime = controls.intAppCheckTime_;
  FakeButton& cmdBrowse = controls.cmdBrowse_;
  FakeLabel& LblElapsedTime = controls.LblElapsedTime_;
  FakeLabel& lblCompletionRatio = controls.lblCompletionRatio_;
  FakeLabel& lblhKeyPressed = controls.lblhKeyPressed_;
  FakeLabel& lblKeyReleased = controls.lblKeyReleased_;
  FakeLabel& lblMouseEvent = controls.lblMouseEvent_;
  FakeLabel& lblCourrentMouse = controls.lblCourrentMouse_;
  FakeLabel& lblSystemPath = controls.lblSystemPath_;
  FakeTimer& tmrAppCheck = controls.tmrAppCheck_;
  FakeTimer& tmrAppShotDown = controls.tmrAppShotDown_;
  FakeProcessList processes{log};
  FakeTray tray{log};
  FakeFileDialog dialog;
  FakeHookFactory hooks{log};
  FakeSettingsStorage storage{log};
  FakeSystem system;
  std::unique_ptr<FrmMain> form;
};

}  // namespace vardex::testing
