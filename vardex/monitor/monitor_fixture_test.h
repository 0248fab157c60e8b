// The monitor's rooms over the shared fakes, wired to the fields' change
// handlers and to the presence check the way the form wires them. Start()
// leaves the timers as start-up does.
#pragma once

#include "components/fakes_test.h"
#include "monitor/activity.h"
#include "monitor/countdown.h"
#include "monitor/input_check.h"
#include "monitor/interval_field.h"
#include "monitor/presence.h"

namespace vardex::testing {

class MonitorFixture : public ControlsFixture {
 protected:
  MonitorFixture() : ControlsFixture(kAppCheckDesignInterval, kAppShotDownDesignInterval) {
    intAppShutDownTime.on_change = [this] {
      fields.intAppShutDownTime.Bound();
      countdown.StartAfresh();
    };
    intAppUseTime.on_change = [this] {
      fields.intAppUseTime.Bound();
      fields.intAppUseTime.CopyPeriodTo(tmrAppShotDown);
    };
    intAppCheckTime.on_change = [this] { fields.intAppCheckTime.Bound(); };
    txtApplicationName.on_change = [this] { countdown.StartAfresh(); };
  }

  // One presence check, as tmrAppCheck_Timer runs it.
  void CheckPresence() {
    if (presence.Tick(&hook)) countdown.StartAfresh();
  }

  // One tick of tmrAppShotDown, its period after the one before.
  void IdleTick() {
    system.monotonic_ms += tmrAppShotDown.Interval();
    countdown.Tick();
  }

  // Both timers running at their fields' periods.
  void Start() {
    fields.intAppCheckTime.StartTimer(tmrAppCheck, kAppCheckDesignInterval);
    tmrAppCheck.SetEnabled(true);
    fields.intAppUseTime.StartTimer(tmrAppShotDown, kAppShotDownDesignInterval);
    tmrAppShotDown.SetEnabled(true);
  }

  Watching watching = Watching::kAll;  // what every MonitoredAppPath put watches
  std::optional<std::vector<HookedThread>> hooked_threads;  // none: the component cannot tell
  FakeHookComponent hook{log, watching, &hooked_threads};
  IntervalFields fields{controls, system};
  ActivityMarks marks{controls};
  PresenceCheck presence{controls, processes, tray, system};
  // The end at once, as administrators may choose it: the scan's own tests.
  Closing closing{ClosingPolicy{0, 0}};
  Countdown countdown{controls, processes, tray, system, {marks, presence, fields, closing}};
  InputCheck input_check{input, presence, marks};
};

}  // namespace vardex::testing
