// The idle countdown, one tick of tmrAppShotDown: it owns iElapsedTime, shows
// the count, the completion ratio and the dial's eighths, and ends the
// watched program past the limit: warned first, then asked to close, then
// ended when the grace period is over (monitor/closing.h). The shutdown scan
// is shared with "Show Task". Each run of the program, each copy started from
// outside it, each path and each limit gets a count of its own, and the idle
// end spares every such copy younger than the limit. Times are compared on
// the clock that only goes forward; a tick counts only when its period has
// passed. What counts as use is the ledger's (monitor/use.h), which the
// countdown asks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/process_list.h"
#include "components/tray.h"
#include "monitor/audit.h"
#include "monitor/closing.h"
#include "monitor/interval_field.h"
#include "monitor/presence.h"
#include "monitor/reopen.h"
#include "monitor/use.h"

namespace vardex {

// The controls the countdown reads and shows on.
struct CountdownControls {
  // The form's own, as the watch hands them on.
  CountdownControls(FrmMainControls& c)
      : txtApplicationName(c.txtApplicationName()),
        tmrAppShotDown(c.tmrAppShotDown()),
        LblElapsedTime(c.LblElapsedTime()),
        lblCompletionRatio(c.lblCompletionRatio()),
        picTimerOn(c.picTimerOn()),
        picTimerOff(c.picTimerOff()),
        dial(DialPictures(c)) {}
  TextBox& txtApplicationName;
  Timer& tmrAppShotDown;  // the idle timer
  Label& LblElapsedTime;
  Label& lblCompletionRatio;
  const Picture& picTimerOn;
  const Picture& picTimerOff;
  std::array<const Picture*, 7> dial;  // Picture1 .. Picture7
};

class Countdown {
 public:
  struct Rooms {
    Use& use;
    ProgramRun& run;
    IntervalFields& fields;
    Closing& closing;
    Audit& audit;
    ReopenOffer& reopen;
  };
  Countdown(const CountdownControls& c, ProcessList& list, Tray& tray, const SystemServices& system, const Rooms& rooms)
      : c_(c), list_(list), tray_(tray), system_(system), rooms_(rooms) {}

  void Tick();
  // Every second (tmrInputCheck): an idle tick a second overdue is counted;
  // use after the warning or during the grace period restarts the count and
  // calls the end off; at the grace period's end, or once every asked copy
  // has agreed to close, the asked copies that still run are ended.
  void Second();
  // Back to a count of 0; the running icon when the program is loaded. The
  // warning goes and a pending end is called off.
  void Restart();
  // A count from 0 as at start-up, for a run of the program that the presence
  // check has just found or for a new path (Use::CopyStarted, Use::Edited):
  // both readouts show 0.
  void StartAfresh();
  // The idle timer was given a new period, and starts it now: the ticks
  // counted are taken as whole periods of the new length up to now, so that
  // the next comes a period from now and no message counts an old one again.
  void PeriodChanged();
  // "Show Task": asks every listed process that matches the configured path
  // to close, and ends those still running after the grace period, setting
  // the stopped icon once per ended process. When every one was ended, the
  // run is over (ProgramRun::RunEnded). Input before the click is use taken
  // at once: it restarts the count, as at a tick, rather than call off the
  // request at the next second.
  void EndMatchingProcesses();
  // The presence check found a new run of the program: when the last end
  // was of this program, the audit learns how long its licence stayed free.
  void RunStarted();

  std::int16_t elapsed_seconds() const { return elapsed_seconds_; }
  // The last counting tick found the program at work (Use::Take), which
  // restarted the count as use does.
  bool busy() const { return busy_; }
  // Ticks whose work restarted the count.
  std::uint64_t ticks_held_by_work() const { return ticks_held_by_work_; }

 private:
  // The scan; with `limit_ms`, nothing is ended while a copy started from
  // outside the program is younger than that (Use::HoldsOffEnd),
  // and a copy whose creation time is unknown is left running and keeps the
  // run.
  void End(std::optional<std::int64_t> limit_ms);
  // The matching copies of a fresh snapshot; none when there is none or,
  // with `limit_ms`, the end is held off.
  std::optional<std::vector<ListedCopy>> MatchingCopies(std::optional<std::int64_t> limit_ms);
  // `asked_seconds`: since the copies were asked to close, 0 when not asked;
  // `away`: as Ended's `idle`.
  void Kill(const std::vector<ListedCopy>& copies, bool idle_end, std::int64_t asked_seconds, bool away);
  // Use came: a warning or a request pending is called off.
  void Used();
  // Input the ledger holds is use now: called off, and the count from 0.
  bool TakeInput();
  // The end of `copy` was refused: reported once a count, since every tick
  // past the limit tries again.
  void Refused(const ProcessIdentity& copy, const char* why);
  // `idle`: the end came because the program was idle, while the user was
  // away, and may be offered again.
  void Ended(bool idle);
  // Seconds from the count's start to this tick on its schedule, a system
  // tick early as a timer may be; none before the first count.
  std::optional<double> CountedFor() const;
  // Whether this tick of tmrAppShotDown comes a period after the last one
  // counted: a tick posted by another process, or a burst of them, counts
  // nothing.
  bool TickDue();
  // Whole periods of tmrAppShotDown from the anchor to `at` (MonotonicMs).
  std::int64_t PeriodsTo(std::int64_t at, std::int64_t period) const { return (at - *anchor_) / period; }
  void EndAsked();
  // Every asked copy is done with the request (ProcessList::AgreedToClose).
  bool AllAgreed();

  CountdownControls c_;
  ProcessList& list_;
  Tray& tray_;
  const SystemServices& system_;
  Rooms rooms_;
  std::int16_t elapsed_seconds_ = 0;  // idle seconds, as shown
  // The count unrounded: ticks of a fractional length add up exactly rather
  // than gain half a second each.
  double exact_seconds_ = 0;
  // SystemServices::MonotonicMs of the count's start: its first tick counts a
  // whole period at once, so the end also waits for the limit on the clock.
  std::optional<std::int64_t> count_began_;
  bool idle_end_ = false;  // the pending end is the idle one, not "Show Task"
  std::optional<std::int64_t> anchor_;  // SystemServices::MonotonicMs the counted ticks follow
  std::int64_t counted_ = 0;  // ticks counted since anchor_
  std::optional<std::int64_t> timer_started_;  // the start of the idle timer anchor_ follows
  bool busy_ = false;
  std::uint64_t ticks_held_by_work_ = 0;
  struct LastEnd {
    std::string path;
    std::int64_t at;  // SystemServices::MonotonicMs
  };
  std::optional<LastEnd> last_end_;
  std::vector<ProcessIdentity> refused_;  // reported since the count went back
  std::string restart_;  // a copy's restart command line, read before the end
};

}  // namespace vardex
