// The presence check, one tick of tmrAppCheck: is the watched program
// running? It owns bAppLoaded and bActivityUnseen, turns the idle timer on
// and off with the first and points the hook component at the program.
#pragma once

#include <cstdint>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/process_list.h"
#include "components/tray.h"

namespace vardex {

class PresenceCheck {
 public:
  PresenceCheck(FrmMainControls& c, ProcessList& list, Tray& tray, const SystemServices& system)
      : c_(c), list_(list), tray_(tray), system_(system) {}

  // `hooks` may be null: then the program is only looked for. True when this
  // check found the program after a check that did not: a new run of it.
  bool Tick(HookComponent* hooks);
  void Reset() { loaded_ = 0; }
  // The countdown ended every copy: not loaded and the idle timer off at
  // once, as at a check that no longer finds the program, so that no idle
  // tick ends a copy started before the next check, which finds a new run.
  void RunEnded();
  // 0 false, -1 true.
  std::int16_t loaded() const { return loaded_; }
  // Found, but the last MonitoredAppPath set failed.
  bool activity_unseen() const { return activity_unseen_; }

 private:
  FrmMainControls& c_;
  ProcessList& list_;
  Tray& tray_;
  const SystemServices& system_;
  std::int16_t loaded_ = 0;
  bool activity_unseen_ = false;
};

}  // namespace vardex
