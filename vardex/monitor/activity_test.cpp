// The hook component's events: marks and diagnostic labels.
#include "monitor/monitor_fixture_test.h"

namespace vardex::testing {
namespace {

using Activity = MonitorFixture;

TEST_F(Activity, KeyPressAndReleaseWriteTheirOwnLabels) {
  marks.Key(65, 1);
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: 65 Pressed");
  EXPECT_EQ(lblKeyReleased.Caption(), "");
  marks.Key(65, 0);
  EXPECT_EQ(lblKeyReleased.Caption(), "Key Code: 65 Released");
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: 65 Pressed");
  EXPECT_EQ(marks.last_key_code(), 65);
  marks.Key(-7, 2);  // any non-zero flag is a press
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: -7 Pressed");
}

TEST_F(Activity, CountedMouseEventsLeaveTheirMark) {
  marks.Mouse(513, 100, 200);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 513 at 100 200");
  EXPECT_EQ(lblCourrentMouse.Caption(), "513");
  EXPECT_EQ(marks.last_mouse_event(), 513);
}

TEST_F(Activity, MovesAreShownButLeaveMarkAndCountedLabel) {
  marks.Mouse(514, 1, 2);
  marks.Mouse(512, 100, 65531);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 512 at 100 65531");
  marks.Mouse(160, 3, 4);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 160 at 3 4");
  EXPECT_EQ(lblCourrentMouse.Caption(), "514");
  EXPECT_EQ(marks.last_mouse_event(), 514);
}

TEST_F(Activity, CodeZeroCancelsAMarkOfItsKind) {
  Start();
  RunWatched();
  CheckPresence();
  for (int i = 0; i < 5; ++i) IdleTick();
  marks.Key(65, 1);
  marks.Key(0, 0);
  marks.Mouse(513, 0, 0);
  marks.Mouse(0, 0, 0);
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 60) << "no activity left to reset the count";
}

// Marks that arrive while the program is away survive until it is found
// again: they belong to the run before, and the new run starts without them.
TEST_F(Activity, MarksSurviveWhileTheIdleTimerIsOff) {
  Start();
  CheckPresence();  // not running: the idle timer goes off
  ASSERT_FALSE(tmrAppShotDown.Enabled());
  marks.Key(65, 1);
  CheckPresence();
  EXPECT_EQ(marks.last_key_code(), 65);
  RunWatched();
  CheckPresence();
  EXPECT_EQ(marks.last_key_code(), 0);
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 10);
}

// Input the hooks could not see: it counts when it went to a window of a
// copy the last presence check found, and only input since the sample
// before does.
TEST_F(Activity, InputWhileTheProgramsWindowIsInFrontCountsAsItsEvents) {
  Start();
  RunWatched(2);  // ids 100, 101
  CheckPresence();
  // The fixture's processes were all created at 0.
  const auto sample_after = [this](std::uint32_t tick, std::optional<std::int32_t> foreground,
                                   std::optional<std::int64_t> created = 0) {
    input.sample = {tick, foreground, created};
    input_check.Tick();
    IdleTick();
    return countdown.elapsed_seconds();
  };
  EXPECT_EQ(sample_after(500, 101), 10) << "the first sample has nothing to compare with";
  EXPECT_EQ(sample_after(500, 101), 20) << "no input since";
  EXPECT_EQ(sample_after(900, 101), 10) << "input into the second copy";
  EXPECT_EQ(sample_after(950, 7), 20) << "input into another program";
  EXPECT_EQ(sample_after(990, std::nullopt), 30) << "no foreground window";
  EXPECT_EQ(sample_after(1000, 100), 10);
  EXPECT_EQ(sample_after(1010, 101, 5), 20) << "the second copy's identifier, taken by a newer process";
  EXPECT_EQ(lblhKeyPressed.Caption(), "") << "no label shows it";

  processes.running.erase(processes.running.begin());  // 100 ends
  CheckPresence();
  EXPECT_EQ(sample_after(1100, 100), 30) << "a copy that is gone is no longer the program";
}

}  // namespace
}  // namespace vardex::testing
