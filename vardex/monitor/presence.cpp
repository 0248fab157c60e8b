#include "monitor/presence.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "monitor/match_rule.h"

namespace vardex {

bool PresenceCheck::Tick(HookComponent* hooks) {
  const std::string path = c_.txtApplicationName().Text();
  if (PathTooShort(path)) return false;

  // Each step is on its own: a failed snapshot still scans what the list
  // reports, and an entry that cannot be read does not count as found.
  list_.ListProcesses();
  bool found = false, new_copy = false;
  const auto count = list_.ProcessCount();
  // Without a count the check cannot tell either way; it leaves every state
  // as it is, like the guard above.
  if (!count || *count > std::numeric_limits<std::int16_t>::max()) return false;
  std::vector<ProcessIdentity> copies;
  for (std::int32_t i = 1; i <= *count; ++i) {
    if (!list_.ProcessIndex(static_cast<std::int16_t>(i))) continue;
    const auto reported = list_.ProcessPath();
    if (!reported || !Matches(system_, *reported, path)) continue;
    found = true;
    // A copy without an identifier cannot be told from the ones seen before.
    const auto id = list_.ProcessID();
    if (!id) continue;
    const ProcessIdentity copy{*id, list_.ProcessCreationTime()};
    if (std::find(copies_.begin(), copies_.end(), copy) == copies_.end()) new_copy = true;
    copies.push_back(copy);
  }
  copies_ = std::move(copies);

  // A failure of the component to watch the program, or part of it, stops
  // nothing here; the tooltip shows it, so that it is seen before it ends a
  // program in use.
  const Watching watching = found && hooks ? hooks->MonitoredAppPath(path) : Watching::kNothing;
  activity_unseen_ = found && hooks && watching != Watching::kAll;
  hooked_.clear();
  if (watching != Watching::kNothing) {
    if (auto threads = hooks->HookedThreads()) {
      hooked_ = std::move(*threads);
    } else if (watching == Watching::kAll) {
      // A component that cannot name its threads but watches everything.
      for (const ProcessIdentity& copy : copies_) hooked_.push_back({kAnyThread, copy.id});
    }
  }
  if (found && loaded_ == 0) {
    loaded_ = -1;
    tray_.TrayIcon(c_.picTimerOn());
    c_.tmrAppShotDown().SetEnabled(true);
    return true;
  }
  if (!found) {
    loaded_ = 0;
    tray_.TrayIcon(c_.picTimerOff());
    c_.tmrAppShotDown().SetEnabled(false);
  }
  return new_copy;
}

void PresenceCheck::RunEnded() {
  loaded_ = 0;
  c_.tmrAppShotDown().SetEnabled(false);
}

bool PresenceCheck::Watches(const ProcessIdentity& process) const {
  return std::any_of(copies_.begin(), copies_.end(), [&process](const ProcessIdentity& copy) { return copy == process; });
}

bool PresenceCheck::Hooked(std::optional<std::int32_t> thread_id, const ProcessIdentity& process) const {
  return Watches(process) && std::any_of(hooked_.begin(), hooked_.end(), [&](const HookedThread& hooked) {
           return hooked.process_id == process.id && (hooked.thread_id == kAnyThread || hooked.thread_id == thread_id);
         });
}

}  // namespace vardex
