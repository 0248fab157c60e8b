// The interval fields' bounds and the idle timer's period.
#include "monitor/monitor_fixture_test.h"

namespace vardex::testing {
namespace {

using IntervalFields = MonitorFixture;

TEST_F(IntervalFields, UseTimeIsBoundedAndSetsThePeriodAtOnce) {
  tmrAppShotDown.SetEnabled(true);
  intAppUseTime.SetText("5");
  EXPECT_EQ(intAppUseTime.Text(), "20");
  EXPECT_EQ(tmrAppShotDown.Interval(), 20000);
  EXPECT_TRUE(tmrAppShotDown.Enabled()) << "the on/off state is not touched";

  intAppUseTime.SetText("45");
  EXPECT_EQ(tmrAppShotDown.Interval(), 45000);
  intAppUseTime.SetText("120");
  EXPECT_EQ(intAppUseTime.Text(), "90");
  EXPECT_EQ(tmrAppShotDown.Interval(), 90000);
  intAppUseTime.SetText("20.0004");  // fractions stay; the period rounds to whole milliseconds
  EXPECT_EQ(intAppUseTime.Text(), "20.0004");
  EXPECT_EQ(tmrAppShotDown.Interval(), 20000);
  intAppUseTime.SetText("20.0006");
  EXPECT_EQ(tmrAppShotDown.Interval(), 20001);
}

TEST_F(IntervalFields, ABoundedValueChangesTheTextOnceMore) {
  intAppUseTime.SetText("5");
  EXPECT_EQ(intAppUseTime.changes, 2) << "the typed text, then the bound";
  EXPECT_EQ(tmrAppShotDown.interval_sets, 2) << "the nested run sets the same period once more";
}

TEST_F(IntervalFields, ShutDownTimeBounds) {
  const std::pair<const char*, const char*> cases[] = {
      {"0.5", "1"}, {"1", "1"}, {"2.5", "2.5"}, {"90", "90"}, {"90.5", "90"}, {"120", "90"}, {"-3", "1"}, {"0", "1"}};
  for (const auto& [typed, shown] : cases) {
    intAppShutDownTime.SetText(typed);
    EXPECT_EQ(intAppShutDownTime.Text(), shown) << typed;
  }
}

TEST_F(IntervalFields, CheckTimeIsBoundedButLeavesThePresenceTimer) {
  Start();
  ASSERT_EQ(tmrAppCheck.Interval(), 5000);
  intAppCheckTime.SetText("30");
  EXPECT_EQ(intAppCheckTime.Text(), "30");
  EXPECT_EQ(tmrAppCheck.Interval(), 5000);
  intAppCheckTime.SetText("2");
  EXPECT_EQ(intAppCheckTime.Text(), "5");
  intAppCheckTime.SetText("61");
  EXPECT_EQ(intAppCheckTime.Text(), "60");
}

TEST_F(IntervalFields, TextThatIsNotANumberIsLeftAsTyped) {
  tmrAppShotDown.SetInterval(45000);
  for (const char* typed : {"", "abc", "4 5", "-"}) {
    intAppUseTime.SetText(typed);
    EXPECT_EQ(intAppUseTime.Text(), typed);
    EXPECT_EQ(tmrAppShotDown.Interval(), 45000) << typed;
    intAppShutDownTime.SetText(typed);
    EXPECT_EQ(intAppShutDownTime.Text(), typed);
  }
}

TEST_F(IntervalFields, TheUsersDecimalSeparatorIsRead) {
  system.decimal_separator = ',';
  intAppShutDownTime.SetText("0,5");
  EXPECT_EQ(intAppShutDownTime.Text(), "1");
  intAppUseTime.SetText("30,5");
  EXPECT_EQ(tmrAppShotDown.Interval(), 30500);
}

}  // namespace
}  // namespace vardex::testing
