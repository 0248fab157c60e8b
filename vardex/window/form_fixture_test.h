// A form with every control at its design-time value, wired to the fakes of
// components/fakes_test.h.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/fakes_test.h"
#include "monitor/monitor_fixture_test.h"
#include "settings/settings_fixture_test.h"
#include "window/frm_main.h"

namespace vardex::testing {

// A form with every control at its design-time value, wired to the fakes.
// Construct, adjust the fakes, then call Load() (Form_Load) if the test
// needs the started state.
class FormFixture : public ControlsFixture {
 protected:
  static constexpr std::int32_t kWindowHandle = 0x1234;
  static constexpr char kIniPath[] = "C:\\WINDOWS\\system32\\vardex.ini";

  // The settings file names the program at the box's design-time path: a
  // missing file watches nothing.
  FormFixture() : ControlsFixture(kAppCheckDesignInterval, kAppShotDownDesignInterval) {
    storage.files[kIniPath] = std::string("30\r\n") + kDesignPath + "\r\nunset entry\r\n";
    MakeForm(storage, system);
  }

  // A new form over the same controls, with other settings and services.
  void MakeForm(SettingsStorage& settings, SystemServices& services) {
    controls.RouteChanges(form);
    form = std::make_unique<FrmMain>(controls, FrmMainComponents{processes, tray, dialog, hooks, settings, services, input},
                                     Policy{}, Audit(&audits, kAuditUser));
    form->SetWindowHandle(kWindowHandle);
  }

  bool Load() { return form->Form_Load(); }
  // One tick of tmrAppShotDown, its period after the one before.
  void IdleTick() {
    system.monotonic_ms += tmrAppShotDown.Interval();
    form->tmrAppShotDown_Timer();
  }

  FakeAuditSink audits;
  FakeFileDialog dialog;
  FakeHookFactory hooks{log};
  FakeSettingsStorage storage{log};
  std::unique_ptr<FrmMain> form;
};

}  // namespace vardex::testing
