#include "monitor/watch.h"

namespace vardex {

Watch::Watch(FrmMainControls& c, ProcessList& list, Tray& tray, const SystemServices& system, InputWatch& input,
             const ClosingPolicy& policy, const WorkPolicy& work, const Audit& audit, std::int32_t reopen_minutes)
    : c_(c),
      tray_(tray),
      system_(system),
      audit_(audit),
      reopen_(reopen_minutes),
      fields_(c, system),
      presence_(c, list, tray, system, use_),
      use_(system, presence_, work),
      marks_(c, use_),
      closing_(policy),
      countdown_(c, list, tray, system, {use_, presence_, fields_, closing_, audit_, reopen_}),
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
    if (!loaded) {
      countdown_.RunStarted();
      if (reopen_.Started()) Withdraw();
    }
    StartAfresh(&Use::CopyStarted);
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
  Offer();
}

void Watch::Offer() {
  const std::int64_t now = system_.MonotonicMs();
  switch (reopen_.Second(now, input_check_.input_after(), presence_.loaded() != 0)) {
    case ReopenOffer::Change::kOffered: {
      const ReopenTarget& target = *reopen_.standing();
      tray_.ShowNote(ReopenOfferTitle(target.path), ReopenOfferText(target.path));
      tray_.SetReopenItem(ReopenMenuItem(target.path));
      audit_.ReopenOffered(target.path, (now - target.ended_at) / 60000);
      break;
    }
    case ReopenOffer::Change::kWithdrawn:
      Withdraw();
      break;
    case ReopenOffer::Change::kNone:
      break;
  }
}

// The note goes with the offer; a warning shown since stays.
void Watch::Withdraw() {
  tray_.SetReopenItem("");
  if (!closing_.warned()) tray_.HideWarning();
}

void Watch::Reopen(SystemServices& system) {
  const ReopenTarget* target = reopen_.standing();
  if (!target || !system.StartProgram(target->path, target->arguments)) return;
  audit_.Reopened(target->path, (system.MonotonicMs() - target->ended_at) / 60000,
                  target->arguments.empty() ? kReopenedWithPath : kReopenedWithRestartCommand);
  reopen_.Taken();
  Withdraw();
}

void Watch::UseTimeChanged() {
  fields_.intAppUseTime.Bound();
  if (fields_.intAppUseTime.CopyPeriodTo(c_.tmrAppShotDown())) countdown_.PeriodChanged();
}

// A new limit is a fresh start, as a new path is: a limit typed on the way
// to another one ("4" on the way to 45) never ends a program on the way.
void Watch::ShutDownTimeChanged() {
  fields_.intAppShutDownTime.Bound();
  StartAfresh(&Use::Edited);
}

}  // namespace vardex
