// The presence check, one tick of tmrAppCheck: is the watched program
// running, and which copies of it? It owns bAppLoaded and bActivityUnseen,
// turns the idle timer on and off with the first and points the hook
// component at the program.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/process_list.h"
#include "components/tray.h"

namespace vardex {

// One process: identifiers are reused, so its creation time goes with it.
struct ProcessIdentity {
  std::int32_t id = 0;
  std::optional<std::int64_t> created;  // ms since 1601; none when unread
  bool operator==(const ProcessIdentity& other) const { return id == other.id && created == other.created; }
};

class PresenceCheck {
 public:
  PresenceCheck(FrmMainControls& c, ProcessList& list, Tray& tray, const SystemServices& system)
      : c_(c), list_(list), tray_(tray), system_(system) {}

  // `hooks` may be null: then the program is only looked for. True when this
  // check found a copy of the program that the check before did not see: a
  // new run, or another copy started beside the running ones. Starting a
  // copy is use.
  bool Tick(HookComponent* hooks);
  void Reset() { loaded_ = 0; }
  // The countdown ended every copy: not loaded and the idle timer off at
  // once, as at a check that no longer finds the program, so that no idle
  // tick ends a copy started before the next check, which finds a new run.
  void RunEnded();
  // 0 false, -1 true.
  std::int16_t loaded() const { return loaded_; }
  // Found, but the last MonitoredAppPath set did not watch every copy and
  // window thread of it.
  bool activity_unseen() const { return activity_unseen_; }
  // Whether `process` (identifier and creation time) is a copy of the
  // program that the last check found.
  bool Watches(const ProcessIdentity& process) const;
  // Whether the hooks see input on `thread_id` of `process`, a copy the last
  // check found: the last set hooked that thread. Input anywhere else in
  // the program is for the input check to see.
  bool Hooked(std::optional<std::int32_t> thread_id, const ProcessIdentity& process) const;

 private:
  FrmMainControls& c_;
  ProcessList& list_;
  Tray& tray_;
  const SystemServices& system_;
  std::int16_t loaded_ = 0;
  bool activity_unseen_ = false;
  std::vector<ProcessIdentity> copies_;  // found by the last check
  // Hooked by the last set; kAnyThread for each copy of a component that
  // watches all but cannot name its threads.
  static constexpr std::int32_t kAnyThread = -1;
  std::vector<HookedThread> hooked_;
};

}  // namespace vardex
