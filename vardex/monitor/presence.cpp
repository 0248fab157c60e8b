#include "monitor/presence.h"

#include <algorithm>
#include <utility>

#include "monitor/match_rule.h"

namespace vardex {

bool PresenceCheck::Tick(HookComponent* hooks) {
  const std::string path = c_.txtApplicationName.Text();
  if (PathTooShort(path)) return false;

  // A failed snapshot still scans what the list reports. Without a count
  // the check cannot tell either way; it leaves every state as it is, like
  // the guard above.
  const auto scan = ScanCopies(list_, system_, path);
  if (!scan) return false;
  const bool found = scan->found;
  const std::vector<ListedCopy>& listed = scan->copies;
  bool new_copy = false;
  const std::int64_t now = system_.MonotonicMs();
  std::vector<Known> copies;
  for (const ListedCopy& copy : listed) {
    if (const Known* known = Find(copy.who)) {
      copies.push_back(*known);
      continue;
    }
    const bool own = StartedByCopy(copy, listed);
    if (!own) new_copy = true;
    copies.push_back({copy.who, now, own});
  }
  copies_ = std::move(copies);

  // A failure of the component to watch the program, or part of it, stops
  // nothing here; the tooltip shows it, so that it is seen before it ends a
  // program in use.
  const Watching watching = found && hooks ? hooks->MonitoredAppPath(path) : Watching::kNothing;
  activity_unseen_ = found && hooks && watching != Watching::kAll;
  hooked_before_ = std::move(hooked_);
  hooked_.clear();
  ++sets_;
  if (watching != Watching::kNothing) {
    if (auto threads = hooks->HookedThreads()) {
      hooked_ = std::move(*threads);
    } else if (watching == Watching::kAll) {
      // A component that cannot name its threads but watches everything.
      for (const Known& copy : copies_) hooked_.push_back({kAnyThread, copy.who.id});
    }
  }
  if (found && loaded_ == 0) {
    loaded_ = -1;
    tray_.TrayIcon(c_.picTimerOn);
    // A timer on since start-up keeps its schedule: its next tick is due
    // on it, not a period from now.
    if (!c_.tmrAppShotDown.Enabled()) idle_timer_started_ = now;
    c_.tmrAppShotDown.SetEnabled(true);
    return true;
  }
  if (!found) {
    loaded_ = 0;
    tray_.TrayIcon(c_.picTimerOff);
    c_.tmrAppShotDown.SetEnabled(false);
  }
  return new_copy;
}

void PresenceCheck::RunEnded() {
  loaded_ = 0;
  c_.tmrAppShotDown.SetEnabled(false);
}

bool PresenceCheck::Watches(const ProcessIdentity& process) const { return Find(process) != nullptr; }

std::vector<ProcessIdentity> PresenceCheck::copies() const {
  std::vector<ProcessIdentity> found;
  for (const Known& copy : copies_) found.push_back(copy.who);
  return found;
}

bool PresenceCheck::HoldsOffEnd(const std::vector<ListedCopy>& listed, std::int64_t limit_ms) const {
  const std::int64_t now = system_.MonotonicMs();
  return std::any_of(listed.begin(), listed.end(), [&](const ListedCopy& copy) {
    const Known* known = Find(copy.who);
    return known ? !known->own && now - known->first_seen < limit_ms : !StartedByCopy(copy, listed);
  });
}

bool PresenceCheck::LauncherRuns(std::int64_t within_ms) {
  const std::string path = c_.txtApplicationName.Text();
  if (PathTooShort(path)) return false;
  const auto scan = ScanCopies(list_, system_, path);
  return scan && scan->fresh && HoldsOffEnd(scan->copies, within_ms);
}

const PresenceCheck::Known* PresenceCheck::Find(const ProcessIdentity& process) const {
  const auto it =
      std::find_if(copies_.begin(), copies_.end(), [&process](const Known& copy) { return copy.who == process; });
  return it == copies_.end() ? nullptr : &*it;
}

// `copy` is one that no check has seen before, so it started after the last
// check. Its starter's identifier names the starter only while no later
// process has taken it again.
bool PresenceCheck::StartedByCopy(const ListedCopy& copy, const std::vector<ListedCopy>& listed) const {
  if (!copy.parent) return false;
  const auto created_before = [&copy](const std::optional<std::int64_t>& created) {
    return created && copy.who.created && *created <= *copy.who.created;
  };
  for (const ListedCopy& other : listed) {
    if (other.who.id != *copy.parent || other.who == copy.who) continue;
    // A copy that ran under that identifier at the last check still does,
    // so it did when this one started: its starter, whatever the dates say.
    // One as new as this one must have been created before it.
    return Find(other.who) != nullptr || created_before(other.who.created);
  }
  // The starter has ended since the last check (a worker that outlives the
  // copy that started it, a copy that hands over and exits). The copy that
  // ran under its identifier then is taken for it: another process would
  // have had to take that identifier, start the program and end, all within
  // one check period. The dates cannot tell the two apart, and a wall clock
  // set back between the starts puts them out of order. Without creation
  // times nothing vouches for it, and the copy counts as started from
  // outside, which only restarts the count.
  return copy.who.created && std::any_of(copies_.begin(), copies_.end(), [&](const Known& known) {
           return known.who.id == *copy.parent && known.who.created;
         });
}

bool PresenceCheck::Hooked(std::optional<std::int32_t> thread_id, const ProcessIdentity& process,
                           bool before_too) const {
  const auto in = [&](const std::vector<HookedThread>& hooked) {
    return std::any_of(hooked.begin(), hooked.end(), [&](const HookedThread& h) {
      return h.process_id == process.id && (h.thread_id == kAnyThread || h.thread_id == thread_id);
    });
  };
  return Watches(process) && in(hooked_) && (!before_too || in(hooked_before_));
}

}  // namespace vardex
