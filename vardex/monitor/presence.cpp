#include "monitor/presence.h"

#include <limits>

#include "monitor/match_rule.h"

namespace vardex {

bool PresenceCheck::Tick(HookComponent* hooks) {
  const std::string path = c_.txtApplicationName().Text();
  if (PathTooShort(path)) return false;
  const std::string upper = system_.UpperCase(path);

  // Each step is on its own: a failed snapshot still scans what the list
  // reports, and an entry that cannot be read does not count as found.
  list_.ListProcesses();
  bool found = false;
  const auto count = list_.ProcessCount();
  // Without a count the check cannot tell either way; it leaves every state
  // as it is, like the guard above.
  if (!count || *count > std::numeric_limits<std::int16_t>::max()) return false;
  for (std::int32_t i = 1; i <= *count; ++i) {
    if (!list_.ProcessIndex(static_cast<std::int16_t>(i))) continue;
    const auto reported = list_.ProcessPath();
    if (reported && Matches(*reported, upper)) found = true;
  }

  // A failure of the component to watch the program stops nothing here; the
  // tooltip shows it, so that it is seen before it ends a program in use.
  activity_unseen_ = found && hooks && !hooks->MonitoredAppPath(path);
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
  return false;
}

void PresenceCheck::RunEnded() {
  loaded_ = 0;
  c_.tmrAppShotDown().SetEnabled(false);
}

}  // namespace vardex
