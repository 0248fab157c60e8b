// The watch over the program's run: the interval fields, the ledger of use
// (monitor/use.h: what counts as use), the activity marks, the presence
// check, the warning and grace period, the idle countdown and the input
// check, wired to one another. The form's timers, change handlers
// and hook events each hand their event to one call here.
#pragma once

#include <cstdint>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/input_watch.h"
#include "components/process_list.h"
#include "components/tray.h"
#include "monitor/activity.h"
#include "monitor/audit.h"
#include "monitor/closing.h"
#include "monitor/countdown.h"
#include "monitor/input_check.h"
#include "monitor/interval_field.h"
#include "monitor/presence.h"
#include "monitor/reopen.h"
#include "monitor/use.h"
#include "monitor/work.h"

namespace vardex {

class Watch {
 public:
  Watch(FrmMainControls& c, ProcessList& list, Tray& tray, const SystemServices& system, InputWatch& input,
        const ClosingPolicy& policy = {}, const WorkPolicy& work = {}, const Audit& audit = Audit(),
        std::int32_t reopen_minutes = kReopenOfferMinutes);
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Start-up: the three timers on at their periods, no program loaded yet,
  // the stopped icon in the tray.
  void Start();

  void AppCheckTick(HookComponent* hooks);  // tmrAppCheck
  void IdleTick();                          // tmrAppShotDown
  void Second();                            // tmrInputCheck
  void Key(std::int32_t key_code, std::int32_t pressed) { marks_.Key(key_code, pressed); }
  void Mouse(std::int32_t event_code, std::int32_t x, std::int32_t y) { marks_.Mouse(event_code, x, y); }

  // The change handlers.
  void CheckTimeChanged() { fields_.intAppCheckTime.Bound(); }
  void UseTimeChanged();
  void ShutDownTimeChanged();
  // A new path, or one half typed, never inherits the count of the path before.
  void PathChanged() { StartAfresh(&Use::Edited); }

  // "&Done": the count starts again.
  void Restart() { countdown_.Restart(); }
  // "Show Task". A presence check first, so that the copies asked are the
  // watch's own: input into them after the click calls the end off, and
  // finding them is no new start. Then the input, as at an idle tick: what
  // only the input check sees, from before the click, is use taken then, not
  // a call-off of the request a second later.
  void EndMatchingProcesses(HookComponent* hooks) {
    AppCheckTick(hooks);
    input_check_.Tick();
    countdown_.EndMatchingProcesses();
  }
  // The user chose the offer to reopen the program: it is started, and the
  // offer goes. Nothing when none stands; it stays when the start failed.
  void Reopen(SystemServices& system);

  IntervalFields& fields() { return fields_; }
  Use& use() { return use_; }
  ActivityMarks& marks() { return marks_; }
  PresenceCheck& presence() { return presence_; }
  Closing& closing() { return closing_; }
  Countdown& countdown() { return countdown_; }
  InputCheck& input_check() { return input_check_; }
  const PresenceCheck& presence() const { return presence_; }
  const InputCheck& input_check() const { return input_check_; }
  const ActivityMarks& marks() const { return marks_; }
  const Closing& closing() const { return closing_; }
  const Countdown& countdown() const { return countdown_; }
  Audit& audit() { return audit_; }
  ReopenOffer& reopen() { return reopen_; }

 private:
  // The offer to reopen, made, withdrawn or taken.
  void Offer();
  void Withdraw();
  // The count from 0 at once, for a copy started from outside or an edit:
  // `kind` tells the use ledger which.
  void StartAfresh(void (Use::*kind)()) {
    (use_.*kind)();
    countdown_.StartAfresh();
  }

  FrmMainControls& c_;
  Tray& tray_;
  const SystemServices& system_;
  Audit audit_;
  ReopenOffer reopen_;
  IntervalFields fields_;
  PresenceCheck presence_;  // tells use_, made after it
  Use use_;
  ActivityMarks marks_;
  Closing closing_;
  Countdown countdown_;
  InputCheck input_check_;
};

}  // namespace vardex
