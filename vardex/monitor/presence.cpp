// The presence check: one tick of tmrAppCheck.
#include <limits>

#include "window/frm_main.h"

namespace vardex {

void FrmMain::tmrAppCheck_Timer() {
  if (PathTooShort()) return;
  const std::string path = c_.txtApplicationName.Text();
  const std::string upper = k_.system.UpperCase(path);
  ProcessList& list = k_.ListKillProcess1;

  // Each step is on its own: a failed snapshot still scans what the list
  // reports, and an entry that cannot be read does not count as found.
  list.ListProcesses();
  bool found = false;
  const auto count = list.ProcessCount();
  // Without a count the check cannot tell either way; it leaves every state
  // as it is, like the guard above.
  if (!count || *count > std::numeric_limits<std::int16_t>::max()) return;
  for (std::int32_t i = 1; i <= *count; ++i) {
    if (!list.ProcessIndex(static_cast<std::int16_t>(i))) continue;
    const auto reported = list.ProcessPath();
    if (reported && Matches(*reported, upper)) found = true;
  }

  // A failure of the component to watch the program stops nothing here; the
  // tooltip shows it, so that it is seen before it ends a program in use.
  vars_.bActivityUnseen = found && oMKHook && !oMKHook->MonitoredAppPath(path);
  if (found && vars_.bAppLoaded == 0) {
    vars_.bAppLoaded = -1;
    k_.csSysTray1.TrayIcon(c_.picTimerOn);
    c_.tmrAppShotDown.SetEnabled(true);
  }
  if (!found) {
    vars_.bAppLoaded = 0;
    k_.csSysTray1.TrayIcon(c_.picTimerOff);
    c_.tmrAppShotDown.SetEnabled(false);
  }
}

}  // namespace vardex
