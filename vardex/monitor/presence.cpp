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
  CountWork(*scan, path, now);

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

void PresenceCheck::CountWork(const CopyScan& scan, const std::string& path, std::int64_t now) {
  // Another program's processes are not this one's.
  if (path != work_path_) {
    workers_.clear();
    outside_.clear();
    use_.NotWorking();
    work_path_ = path;
  }
  // Measuring began at a check that found the program's processes.
  const bool measuring = !workers_.empty();
  const auto key = [](const ListedCopy& c) { return std::make_pair(c.who.id, *c.who.created); };
  const auto known = [this](const ProcessIdentity& who) {
    return std::find_if(workers_.begin(), workers_.end(), [&who](const Worker& w) { return w.who == who; });
  };
  std::vector<const ListedCopy*> tree;
  for (const ListedCopy& copy : scan.copies)
    if (copy.work) tree.push_back(&copy);
  // A process stays the program's while it runs; one is the program's when a
  // process of the tree, created no later, holds its starter's identifier.
  // Or when its starter was of the tree at the last check, created no
  // later, and no process holds the starter's identifier now: it was started
  // in the seconds before its starter went, as a copy hands a solve to a
  // solver and exits.
  const auto running = [&scan](std::int32_t id) {
    const auto holds = [id](const ListedCopy& c) { return c.who.id == id; };
    return std::any_of(scan.copies.begin(), scan.copies.end(), holds) ||
           std::any_of(scan.others.begin(), scan.others.end(), holds);
  };
  const auto started_by_gone = [&](const ListedCopy& other) {
    return other.parent &&
           std::any_of(workers_.begin(), workers_.end(), [&](const Worker& w) {
             return w.who.id == *other.parent && w.who.created && *w.who.created <= *other.who.created;
           }) &&
           !running(*other.parent);
  };
  std::vector<bool> taken(scan.others.size());
  for (bool grew = true; grew;) {
    grew = false;
    for (std::size_t i = 0; i < scan.others.size(); ++i) {
      const ListedCopy& other = scan.others[i];
      if (taken[i]) continue;
      const bool started_in_tree = other.parent && (std::any_of(tree.begin(), tree.end(), [&](const ListedCopy* t) {
                                     return t->who.id == *other.parent && t->who.created &&
                                            *t->who.created <= *other.who.created;
                                   }) || started_by_gone(other));
      const bool member = known(other.who) != workers_.end();
      if (!member && (!started_in_tree || std::binary_search(outside_.begin(), outside_.end(), key(other)))) continue;
      tree.push_back(&other);
      taken[i] = grew = true;
    }
  }
  // A process met first counts all it did when the program started it since
  // the last check; one that ran before (at the run's first check, a copy
  // started from outside) counts from now on.
  std::vector<Worker> workers;
  std::vector<std::int32_t> whole;  // met first, started by the program since the last check
  WorkDone added;
  for (const ListedCopy* process : tree) {
    WorkDone since = *process->work;
    if (const auto before = known(process->who); before != workers_.end()) {
      since.cpu_ms -= before->done.cpu_ms;
      since.io_bytes -= before->done.io_bytes;
    } else if (measuring && process->parent &&
               (std::any_of(workers_.begin(), workers_.end(),
                            [&](const Worker& w) { return w.who.id == *process->parent; }) ||
                std::find(whole.begin(), whole.end(), *process->parent) != whole.end())) {
      whole.push_back(process->who.id);
    } else {
      since = {};
    }
    // The counts only grow; a smaller one is another reading, not work.
    added.cpu_ms += std::max<std::int64_t>(since.cpu_ms, 0);
    added.io_bytes += std::max<std::int64_t>(since.io_bytes, 0);
    workers.push_back({process->who, *process->work});
  }
  workers_ = std::move(workers);
  outside_.clear();
  for (std::size_t i = 0; i < scan.others.size(); ++i)
    if (!taken[i]) outside_.push_back(key(scan.others[i]));
  std::sort(outside_.begin(), outside_.end());
  if (workers_.empty())
    use_.NotWorking();
  else
    use_.Worked(added, now);
}

bool PresenceCheck::Watches(const ProcessIdentity& process) const { return Find(process) != nullptr; }

std::vector<ProcessIdentity> PresenceCheck::copies() const {
  std::vector<ProcessIdentity> found;
  for (const Known& copy : copies_) found.push_back(copy.who);
  return found;
}

bool PresenceCheck::StartedWithin(const std::vector<ListedCopy>& listed, std::int64_t ms) const {
  const std::int64_t now = system_.MonotonicMs();
  return std::any_of(listed.begin(), listed.end(), [&](const ListedCopy& copy) {
    const Known* known = Find(copy.who);
    return known ? !known->own && now - known->first_seen < ms : !StartedByCopy(copy, listed);
  });
}

bool PresenceCheck::LauncherRuns() {
  const std::string path = c_.txtApplicationName.Text();
  if (PathTooShort(path)) return false;
  const auto scan = ScanCopies(list_, system_, path);
  // A copy the last check found was counted by it.
  return scan && scan->fresh && StartedWithin(scan->copies, 0);
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
