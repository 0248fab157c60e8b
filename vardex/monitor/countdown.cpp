// The idle countdown: one tick of tmrAppShotDown, and the shutdown scan that
// "Show Task" shares.
#include <limits>

#include "monitor/number_text.h"
#include "window/frm_main.h"

namespace vardex {
namespace {

// Below this share of the limit the ratio is shown as 0.
constexpr double kDisplayThreshold = 0.124;

// The picture for a ratio: one band per eighth above the first (lower edge
// exclusive, upper edge inclusive); null at or below one eighth.
const Picture* BandPicture(double r, const std::array<const Picture*, 7>& pictures) {
  if (r > 0.875) return pictures[6];
  for (int k = 1; k <= 6; ++k)
    if (r > k / 8.0 && r <= (k + 1) / 8.0) return pictures[static_cast<std::size_t>(k - 1)];
  return nullptr;
}

}  // namespace

bool FrmMain::PathTooShort() const { return c_.txtApplicationName.Text().size() <= 7; }

bool FrmMain::Matches(const std::string& reported, const std::string& upper_path) {
  return reported.size() >= upper_path.size() && reported.compare(0, upper_path.size(), upper_path) == 0;
}

void FrmMain::tmrAppShotDown_Timer() {
  if (PathTooShort()) return;

  if (vars_.lLastKeyCode != 0 || vars_.lLastMouseEvent != 0) {
    vars_.lLastKeyCode = 0;
    vars_.lLastMouseEvent = 0;
    vars_.iElapsedTime = 0;
    c_.lblCompletionRatio.SetCaption("0");
    if (vars_.bAppLoaded != 0) k_.csSysTray1.TrayIcon(c_.picTimerOn);
  }

  // The 16-bit count stays at its ends rather than overflow: past 32767 it
  // only grows while a shutdown fails to end the program, and it keeps
  // counting as "above the limit" there.
  const double sum = ReadField(use_time_) + vars_.iElapsedTime;
  if (const auto count = RoundToInt16(sum))
    vars_.iElapsedTime = *count;
  else
    vars_.iElapsedTime = sum > 0 ? std::numeric_limits<std::int16_t>::max()
                                 : std::numeric_limits<std::int16_t>::min();
  c_.LblElapsedTime.SetCaption(FormatInteger(vars_.iElapsedTime));

  const double limit = ReadField(shut_down_time_) * 60;
  if (!(limit > 0)) return;  // the field's bounds keep it at 60 or more
  double r = vars_.iElapsedTime / limit;
  if (r < kDisplayThreshold) r = 0;
  c_.lblCompletionRatio.SetCaption(r == 0 ? "0" : FormatGeneral(r, k_.system.DecimalSeparator()));
  if (const Picture* band = BandPicture(r, c_.Pictures)) k_.csSysTray1.TrayIcon(*band);

  if (ReadField(shut_down_time_) * 60 < vars_.iElapsedTime) EndMatchingProcesses();
}

void FrmMain::EndMatchingProcesses() {
  if (PathTooShort()) return;
  const std::string upper = k_.system.UpperCase(c_.txtApplicationName.Text());
  ProcessList& list = k_.ListKillProcess1;

  // Without a fresh snapshot there is nothing safe to end: an old one may
  // name identifiers that now belong to other processes.
  if (!list.ListProcesses()) return;
  const auto count = list.ProcessCount();
  if (!count || *count > std::numeric_limits<std::int16_t>::max()) return;
  for (std::int32_t i = 1; i <= *count; ++i) {
    if (!list.ProcessIndex(static_cast<std::int16_t>(i))) continue;
    const auto path = list.ProcessPath();
    if (!path || !Matches(*path, upper)) continue;
    const auto id = list.ProcessID();
    if (!id) continue;
    if (list.KillProcessID(*id)) list.KillProcess();
    k_.csSysTray1.TrayIcon(c_.picTimerOff);
  }
}

}  // namespace vardex
