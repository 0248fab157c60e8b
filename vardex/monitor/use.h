// What counts as use: the ledger the idle count asks. The rooms that see the
// program (the hooks' events, the input check, the presence check, the
// fields' edits) each tell it one kind of use; the countdown asks it at each
// tick and before an end.
//
// Use, each kind of which starts the idle count from 0, and after the
// warning or during a request to close calls the end off (work excepted):
// - a key going down or up in any copy, as Tessik's hooks relay it (Key);
// - a button or the wheel, as the hooks relay them (Mouse);
// - where no hook watches (a console program, a copy of higher integrity, a
//   64-bit copy while the companion is down, a window thread beyond the bound
//   or newer than the last set), a key or a button while such a window is in
//   front, or while the terminal or shell that started a copy in a
//   pseudo-console is (KeyOrButton), and the wheel over such a window, in
//   front or not (Wheel), sampled every second and before every idle tick
//   (monitor/input_check.h); where raw input turns out blind, the session's
//   last input stands for it, and there a move over such a window counts;
// - the front brought from another program's window to a copy by the user: a
//   key or a button in the 2 s before it (Front; the window is the input
//   watch's, components/input_watch_win32.h);
// - a run of the program, or a copy started beside it from outside the
//   program, as a presence check finds them (CopyStarted; the count starts
//   from 0 at once), or a launcher started from outside, which may
//   hand a document over and exit between two checks, that the input check
//   finds in the 10 s after a key or a button (Launcher). While such a copy
//   is younger than the limit, no copy is ended (HoldsOffEnd);
// - a change of the path or of the limit field (Edited; from 0 at once);
// - the program at work: an idle tick in which its copies and the processes
//   they started used more CPU time or moved more bytes than the policy's
//   thresholds (Worked, monitor/work.h), for at most the policy's bound since
//   the last use. Work never calls off a request to close: the program saves
//   because it was asked.
// No use: a moving mouse (a jiggler's included) where the hooks watch; a
// relayed code of 0, which the hooks never send (it neither counts nor
// erases a key before it); a move between the program's own windows, or the
// program taking the front on its own (a question it asks before it closes);
// a copy started by a running copy (a browser's or a CAD front end's
// workers), which is the program at work; housekeeping below the work
// thresholds (an idle Notepad, an autosave now and then).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "components/form_services.h"
#include "components/process_list.h"
#include "monitor/match_rule.h"
#include "monitor/work.h"

namespace vardex {

// Who tells a copy started from outside the program (PresenceCheck).
class CopyStarts {
 public:
  virtual ~CopyStarts() = default;
  // Whether `listed`, a fresh snapshot's copies, holds one started from
  // outside the program less than `ms` ago, or one no check has seen yet.
  virtual bool StartedWithin(const std::vector<ListedCopy>& listed, std::int64_t ms) const = 0;
};

class Use {
 public:
  Use(const SystemServices& system, const CopyStarts& starts, const WorkPolicy& work = {})
      : system_(system), starts_(starts), work_(work) {}

  // Each returns whether the event counts: a code of 0 is no event, a move
  // is none.
  bool Key(std::int32_t key_code);
  bool Mouse(std::int32_t event_code);
  // The input check's kinds, where no hook watches.
  void KeyOrButton() { seen_ = true; }
  void Wheel() { seen_ = true; }
  void Front() { seen_ = true; }
  void Launcher() { seen_ = true; }
  // The count starts from 0 at once (Countdown::StartAfresh): what came
  // before belongs to the run, path or limit before.
  void CopyStarted() { Forget(); }
  void Edited() { Forget(); }

  // What the program's processes did since the presence check before, at
  // the check at `at` (SystemServices::MonotonicMs); NotWorking when it has
  // no process to measure, or they are another path's.
  void Worked(const WorkDone& since, std::int64_t at);
  void NotWorking();
  // What the program did between the checks since the last call, and over
  // how long. The checks from the call on count towards the next.
  struct Work {
    WorkDone done;
    std::int64_t span_ms = 0;  // 0: no check has measured since the last call
  };
  Work TakeWork();
  // From the next tick on; the bound's start stays.
  void SetWorkPolicy(const WorkPolicy& work) { work_ = work; }

  // The countdown's question: what use came since it last asked. Input is
  // always taken; with `idle_tick` the work is too, and whether it holds the
  // end off by the policy (for the countdown to weigh against a request).
  struct Seen {
    bool input = false;
    bool work = false;
  };
  Seen Take(bool idle_tick);
  // Before an end: a copy started from outside less than `limit_ms` ago is
  // use, so no copy has been idle for the limit.
  bool HoldsOffEnd(const std::vector<ListedCopy>& listed, std::int64_t limit_ms) const {
    return starts_.StartedWithin(listed, limit_ms);
  }

  // The marks of the last key and button taken, as the form shows them.
  std::int32_t last_key_code() const { return last_key_code_; }
  std::int32_t last_mouse_event() const { return last_mouse_event_; }

 private:
  void ClearInput();
  void Forget();

  const SystemServices& system_;
  const CopyStarts& starts_;
  std::int32_t last_key_code_ = 0;
  std::int32_t last_mouse_event_ = 0;
  bool seen_ = false;  // input no hook saw
  WorkPolicy work_;
  WorkDone done_;                     // since the last TakeWork
  std::optional<std::int64_t> from_;  // when the measuring began (MonotonicMs)
  std::int64_t to_ = 0;               // the last check that measured
  std::optional<std::int64_t> held_since_;  // the first tick work held since the last use or start
};

}  // namespace vardex
