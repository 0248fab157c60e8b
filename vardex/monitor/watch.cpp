#include "monitor/watch.h"

namespace vardex {

Watch::Watch(FrmMainControls& c, ProcessList& list, Tray& tray, const SystemServices& system, InputWatch& input,
             const ClosingPolicy& policy, const WorkPolicy& work, const Audit& audit)
    : c_(c),
      tray_(tray),
      audit_(audit),
      fields_(c, system),
      presence_(c, list, tray, system, use_),
      use_(system, presence_, work),
      marks_(c, use_),
      closing_(policy),
      countdown_(c, list, tray, system, {use_, presence_, fields_, closing_, audit_}),
      input_check_(input, presence_, use_, system) {}

void Watch::Start() {
  fields_.intAppCheckTime.StartTimer(c_.tmrAppCheck(), kAppCheckDesignInterval);
  c_.tmrAppCheck().SetEnabled(true);
  fields_.intAppUseTime.StartTimer(c_.tmrAppShotDown(), kAppShotDownDesignInterval);
  c_.tmrAppShotDown().SetEnabled(true);
  c_.tmrInputCheck().SetInterval(kInputCheckInterval);
  c_.tmrInputCheck().SetEnabled(true);
  presence_.Reset();
  tray_.TrayIcon(c_.picTimerOff());
}

void Watch::AppCheckTick(HookComponent* hooks) {
  // A program started again, or another copy of it, gets the whole limit,
  // not the count that ended it before or that another copy ran up.
  const bool loaded = presence_.loaded() != 0;
  if (presence_.Tick(hooks)) {
    if (!loaded) countdown_.RunStarted();
    use_.CopyStarted();
    countdown_.StartAfresh();
  }
}

// The input first: input that only the input check sees, in the second
// before an idle tick, counts at that tick rather than after it.
void Watch::IdleTick() {
  input_check_.Tick();
  countdown_.Tick();
}

void Watch::Second() {
  input_check_.Tick();
  countdown_.Second();
}

void Watch::UseTimeChanged() {
  fields_.intAppUseTime.Bound();
  fields_.intAppUseTime.CopyPeriodTo(c_.tmrAppShotDown());
}

// A new limit is a fresh start, as a new path is: a limit typed on the way
// to another one ("4" on the way to 45) never ends a program on the way.
void Watch::ShutDownTimeChanged() {
  fields_.intAppShutDownTime.Bound();
  use_.Edited();
  countdown_.StartAfresh();
}

}  // namespace vardex
