// The presence check, one tick of tmrAppCheck: is the watched program
// running, and which copies of it? It owns bAppLoaded and bActivityUnseen,
// turns the idle timer on and off with the first and points the hook
// component at the program. It tells the ledger of use (monitor/use.h) what
// the program's processes did, and which copies were started from outside.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/process_list.h"
#include "components/tray.h"
#include "monitor/match_rule.h"
#include "monitor/use.h"

namespace vardex {

// The controls the presence check reads and sets.
struct PresenceControls {
  // The form's own, as the watch hands them on.
  PresenceControls(FrmMainControls& c)
      : txtApplicationName(c.txtApplicationName()),
        tmrAppShotDown(c.tmrAppShotDown()),
        picTimerOn(c.picTimerOn()),
        picTimerOff(c.picTimerOff()) {}
  TextBox& txtApplicationName;
  Timer& tmrAppShotDown;  // the idle timer
  const Picture& picTimerOn;
  const Picture& picTimerOff;
};

// The run as the countdown sees it: whether the program runs, when the idle
// timer came on, and the end of the run by the countdown.
class ProgramRun {
 public:
  virtual ~ProgramRun() = default;
  // 0 false, -1 true.
  virtual std::int16_t loaded() const = 0;
  // When start-up or a check last turned the idle timer on
  // (SystemServices::MonotonicMs): its first tick is a period later.
  virtual std::optional<std::int64_t> idle_timer_started() const = 0;
  // The countdown ended every copy: not loaded and the idle timer off at
  // once, as at a check that no longer finds the program, so that no idle
  // tick ends a copy started before the next check, which finds a new run.
  virtual void RunEnded() = 0;
};

class PresenceCheck final : public CopyStarts, public ProgramRun {
 public:
  // `use` is only told, never asked, here: it may be made after this check.
  PresenceCheck(const PresenceControls& c, ProcessList& list, Tray& tray, const SystemServices& system, Use& use)
      : c_(c), list_(list), tray_(tray), system_(system), use_(use) {}

  // `hooks` may be null: then the program is only looked for. True when this
  // check found a new run of the program, or a copy that the check before did
  // not see, started beside the running ones from outside the program (by
  // the shell, a launcher, another program). Starting a copy is use; a copy
  // that a copy started (a browser's or a CAD front end's worker) is the
  // program at work, and no one's use.
  bool Tick(HookComponent* hooks);
  // Start-up, which has just turned the idle timer on.
  void Reset() {
    loaded_ = 0;
    idle_timer_started_ = system_.MonotonicMs();
  }
  void RunEnded() override;
  std::int16_t loaded() const override { return loaded_; }
  std::optional<std::int64_t> idle_timer_started() const override { return idle_timer_started_; }
  // Found, but the last MonitoredAppPath set did not watch every copy and
  // window thread of it.
  bool activity_unseen() const { return activity_unseen_; }
  // Whether `process` (identifier and creation time) is a copy of the
  // program that the last check found.
  bool Watches(const ProcessIdentity& process) const;
  // The copies that check found.
  std::vector<ProcessIdentity> copies() const;
  // Whether the hooks see input on `thread_id` of `process`, a copy the last
  // check found: the last set hooked that thread, and with `before_too` the
  // set before it as well. Input anywhere else in the program is for the
  // input check to see.
  bool Hooked(std::optional<std::int32_t> thread_id, const ProcessIdentity& process, bool before_too = false) const;
  // How many times the hooked threads were taken anew: a set in between
  // tells the input check that its input may have come before a hook.
  std::uint64_t sets() const { return sets_; }
  // One the last check found first within `ms`, or one it has not seen yet.
  bool StartedWithin(const std::vector<ListedCopy>& listed, std::int64_t ms) const override;
  // Whether a fresh snapshot holds a copy started from outside the program
  // that the last check did not find: a launcher, which may come and go
  // between two checks.
  bool LauncherRuns();

 private:
  PresenceControls c_;
  ProcessList& list_;
  Tray& tray_;
  const SystemServices& system_;
  Use& use_;
  std::int16_t loaded_ = 0;
  bool activity_unseen_ = false;
  // Hooked by the last set; kAnyThread for each copy of a component that
  // watches all but cannot name its threads.
  static constexpr std::int32_t kAnyThread = -1;
  std::vector<HookedThread> hooked_, hooked_before_;
  std::uint64_t sets_ = 0;
  std::optional<std::int64_t> idle_timer_started_;
  struct Known {
    ProcessIdentity who;
    std::int64_t first_seen;  // SystemServices::MonotonicMs
    bool own;                 // started by a copy of the program
  };
  const Known* Find(const ProcessIdentity& process) const;
  bool StartedByCopy(const ListedCopy& copy, const std::vector<ListedCopy>& listed) const;

  std::vector<Known> copies_;  // found by the last check

  // Tells the ledger what the program's processes in `scan` did since the
  // last check: every copy, and the processes the copies started (a solver,
  // a renderer, a compiler of another name), followed down the tree by parent
  // and creation time while they run, also after their starter has ended.
  void CountWork(const CopyScan& scan, const std::string& path, std::int64_t now);
  struct Worker {
    ProcessIdentity who;
    WorkDone done;  // as the last check saw it
  };
  std::vector<Worker> workers_;  // the program's processes at the last check
  std::string work_path_;        // the path they were found by
  // The other processes of the last check, sorted: one that ran then
  // outside the program never joins it (a copy that takes its starter's
  // identifier later, with a date the clock set back, did not start it).
  std::vector<std::pair<std::int32_t, std::int64_t>> outside_;
};

}  // namespace vardex
