#include "components/tray_tooltip.h"

#include <gtest/gtest.h>

namespace vardex {
namespace {

constexpr char kFin[] = "C:\\Program Files\\Navision Financials\\FIN.EXE";

TEST(TrayTooltip, PlainWhileTheProgramIsNotRunning) {
  EXPECT_EQ(TrayTooltip(false, kFin, 700, "30"), "Vardex");
}

TEST(TrayTooltip, NamesTheProgramAndTheWholeIdleMinutesOfTheLimit) {
  EXPECT_EQ(TrayTooltip(true, kFin, 720, "30"), "Vardex: FIN.EXE idle 12 of 30 min");
  EXPECT_EQ(TrayTooltip(true, kFin, 59, "30"), "Vardex: FIN.EXE idle 0 of 30 min");
  EXPECT_EQ(TrayTooltip(true, "relative.exe", 120, "1"), "Vardex: relative.exe idle 2 of 1 min");
  EXPECT_EQ(TrayTooltip(true, kFin, -20, "30"), "Vardex: FIN.EXE idle 0 of 30 min");
}

TEST(TrayTooltip, LongTextsAreCutToWhatTheShellShows) {
  const std::string name(200, 'N');
  const std::string tip = TrayTooltip(true, "C:\\" + name, 60, "30");
  EXPECT_EQ(tip.size(), kTrayTooltipMax);
  EXPECT_EQ(tip.substr(0, 9), "Vardex: N");
  EXPECT_EQ(tip.substr(tip.size() - 20), "... idle 1 of 30 min");
  EXPECT_EQ(TrayTooltip(true, kFin, 60, std::string(200, '9')), "Vardex");
}

TEST(TrayTooltip, SaysWhenTheProgramsActivityCannotBeSeen) {
  EXPECT_EQ(TrayTooltip(true, kFin, 720, "30", true), "Vardex: FIN.EXE idle 12 of 30 min (activity not seen)");
  EXPECT_EQ(TrayTooltip(false, kFin, 720, "30", true), "Vardex");
  const std::string tip = TrayTooltip(true, "C:\\" + std::string(200, 'N'), 60, "30", true);
  EXPECT_EQ(tip.size(), kTrayTooltipMax);
  EXPECT_EQ(tip.substr(tip.size() - 40), "... idle 1 of 30 min (activity not seen)");
}

TEST(TrayTooltip, SaysClosingWhileTheGracePeriodRunsAndBusyWhileWorkHoldsTheCount) {
  EXPECT_EQ(TrayTooltip(true, kFin, 3610, "60", true, true), "Vardex: FIN.EXE closing...");
  EXPECT_EQ(TrayTooltip(true, kFin, 3610, "60", true, true, true), "Vardex: FIN.EXE closing...");
  EXPECT_EQ(TrayTooltip(true, kFin, 60, "30", false, false, true), "Vardex: FIN.EXE busy");
  EXPECT_EQ(TrayTooltip(true, kFin, 60, "30", true, false, true), "Vardex: FIN.EXE busy (activity not seen)");
  EXPECT_EQ(TrayTooltip(false, kFin, 60, "30", false, false, true), "Vardex");
  EXPECT_EQ(TrayTooltip(true, "C:\\" + std::string(200, 'N'), 60, "30", false, true).size(), kTrayTooltipMax);
}

}  // namespace
}  // namespace vardex
