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

// Anyone who can post to the relay window can send a code of 0, which no
// hook sends: posted between real keys, it must not take their use away.
TEST_F(Activity, CodeZeroNeitherCancelsNorMarks) {
  Start();
  RunWatched();
  CheckPresence();
  for (int i = 0; i < 5; ++i) IdleTick();
  marks.Key(65, 1);
  marks.Key(0, 0);
  marks.Mouse(0, 0, 0);
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 10) << "the real key restarts the count";
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: 65 Pressed");
  EXPECT_EQ(lblKeyReleased.Caption(), "") << "a code of 0 shows nowhere";
  marks.Mouse(513, 0, 0);
  marks.Mouse(0, 7, 7);
  marks.Key(0, 1);
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 10) << "the real button restarts the count";
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 513 at 0 0");
  marks.Key(0, 1);
  marks.Mouse(0, 0, 0);
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 20) << "zeros alone are no use";
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
// copy the last presence check found, on a thread the last set did not hook,
// and only input since the sample before does. Where the hooks watch, they
// alone judge.
TEST_F(Activity, InputWhileTheProgramsWindowIsInFrontCountsAsItsEvents) {
  Start();
  RunWatched(2);  // ids 100, 101
  hooked_threads = std::vector<HookedThread>{{7, 100}};  // 101 not hooked: a console, say
  CheckPresence();
  // The fixture's processes were all created at 0.
  const auto tick = [this](InputSample sample) {
    input.sample = std::move(sample);
    input_check.Tick();
    IdleTick();
    return countdown.elapsed_seconds();
  };
  const auto sample_after = [&](std::uint32_t tick_count, std::optional<std::int32_t> foreground,
                                std::optional<std::int64_t> created = 0, std::int32_t thread = 9) {
    InputSample s;
    s.last_input_tick = tick_count;
    s.foreground_process_id = foreground;
    s.foreground_created = created;
    s.foreground_thread_id = thread;
    return tick(s);
  };
  EXPECT_EQ(sample_after(500, 101), 10) << "the first sample has nothing to compare with";
  EXPECT_EQ(sample_after(500, 101), 20) << "no input since";
  EXPECT_EQ(sample_after(900, 101), 10) << "input into the copy the hooks miss";
  EXPECT_EQ(sample_after(950, 7), 20) << "input into another program";
  EXPECT_EQ(sample_after(990, std::nullopt), 30) << "no foreground window";
  EXPECT_EQ(sample_after(1000, 100), 10) << "a thread of a hooked copy that the hooks miss";
  EXPECT_EQ(sample_after(1005, 100, 0, 7), 20) << "the hooked thread: the hooks alone judge";
  EXPECT_EQ(sample_after(1010, 101, 5), 30) << "the second copy's identifier, taken by a newer process";
  EXPECT_EQ(lblhKeyPressed.Caption(), "") << "no label shows it";

  // A source that tells keys and buttons from moves: moves are no use.
  InputSample moves;
  moves.foreground_process_id = 101;
  moves.foreground_created = 0;
  moves.last_use_tick = 40;
  moves.last_input_tick = 1020;
  EXPECT_EQ(tick(moves), 10) << "the source changes: a key or a button may have come between";
  moves.last_input_tick = 1030;
  EXPECT_EQ(tick(moves), 20) << "a move only";
  moves.last_use_tick = 50;
  EXPECT_EQ(tick(moves), 10) << "a key";

  // The wheel counts for the window under the pointer, behind or not.
  InputSample wheel = moves;
  wheel.foreground_process_id = 7;
  wheel.last_wheel_tick = 60;
  wheel.wheel_target = {101, 0, 9};
  EXPECT_EQ(tick(wheel), 10);
  wheel.last_wheel_tick = 70;
  wheel.wheel_target = {100, 0, 7};
  EXPECT_EQ(tick(wheel), 20) << "over the hooked thread: its hooks see the wheel";

  // The front brought to the program is use when the user did it.
  const WindowProgram other{7, 0, 1}, first{100, 0, 7}, second{101, 0, 9};
  InputSample front = wheel;
  front.front_changes = {{other, first, true}};
  EXPECT_EQ(tick(front), 10) << "from another program, after input";
  front.front_changes = {{other, first, false}};
  EXPECT_EQ(tick(front), 20) << "the program took the front on its own";
  front.front_changes = {{first, second, true}, {{}, {}, true}};
  EXPECT_EQ(tick(front), 30) << "between the program's own windows; to no window";
  front.front_changes = {{{}, second, true}};
  EXPECT_EQ(tick(front), 10) << "from no window";
  front.front_changes.clear();

  // A component that cannot name its threads: when it watches part of the
  // program, input into any copy counts; when all, none does.
  hooked_threads.reset();
  watching = Watching::kPart;
  CheckPresence();
  moves.last_use_tick = 80;
  moves.foreground_process_id = 100;
  EXPECT_EQ(tick(moves), 10);
  watching = Watching::kAll;
  CheckPresence();
  moves.last_use_tick = 85;
  EXPECT_EQ(tick(moves), 10) << "input before the set that hooked its thread, which saw none of it";
  moves.last_use_tick = 90;
  EXPECT_EQ(tick(moves), 20);
  CheckPresence();
  CheckPresence();
  moves.last_use_tick = 95;
  EXPECT_EQ(tick(moves), 10) << "input across two sets: its thread's hook may have come with either";
  EXPECT_EQ(tick(moves), 20);

  watching = Watching::kPart;
  processes.running.erase(processes.running.begin());  // 100 ends
  CheckPresence();
  moves.last_use_tick = 100;
  EXPECT_EQ(tick(moves), 30) << "a copy that is gone is no longer the program";

  // A copy in a pseudo-console (a terminal's): its input cannot be told from
  // the terminal's, so a key into a window of a process that started it
  // counts, and the copy is shown as not seen.
  InputSample terminal = moves;
  terminal.foreground_process_id = 7;
  terminal.console_unknown = true;
  terminal.front_starts_unknown_console = true;
  terminal.last_use_tick = 110;
  EXPECT_EQ(tick(terminal), 10);
  EXPECT_TRUE(input_check.console_unseen());
  terminal.front_starts_unknown_console = false;
  terminal.last_use_tick = 120;
  EXPECT_EQ(tick(terminal), 20) << "a key into another program";
  terminal.console_unknown = false;
  tick(terminal);
  EXPECT_FALSE(input_check.console_unseen()) << "that copy is gone";
}

// A launcher that takes its time: a double click elsewhere starts a copy of
// the program, which hands the document to the running copy 3 s later and
// exits between two presence checks. Its start counts as use, whatever the
// user does before the front moves; the same move without a launcher since
// the input does not, nor a copy started more than 10 s after the input.
TEST_F(Activity, ALauncherThatTakesSecondsBringsTheProgramToTheFrontAsUse) {
  Start();
  RunWatched();  // 100
  CheckPresence();
  const WindowProgram desktop{1, 0, 1}, program{100, 0, 7};
  InputSample sample;
  const auto second = [&](std::uint32_t use_tick, bool front_moves = false) {
    sample.last_use_tick = use_tick;
    sample.front_changes.clear();
    if (front_moves) sample.front_changes = {{desktop, program, false}};
    system.monotonic_ms += 1000;
    input.sample = sample;
    input_check.Tick();
  };
  const auto counted = [&] {
    IdleTick();
    return countdown.elapsed_seconds();
  };
  second(10);
  for (const bool launcher : {false, true}) {
    const std::int16_t before = counted();
    second(20 + launcher);  // the double click
    if (launcher) RunWatched();  // 101, started from outside
    second(20 + launcher);
    second(20 + launcher);
    if (launcher) processes.running.pop_back();  // handed over: gone
    second(20 + launcher, true);
    EXPECT_EQ(counted(), launcher ? 10 : before + 10) << (launcher ? "brought by the launcher" : "brought by no one");
  }
  second(40);
  RunWatched();
  second(40);
  processes.running.pop_back();
  second(41, true);
  EXPECT_EQ(counted(), 10) << "a click in the launcher in the second the front moved";
  // The window's last look is the tenth second after the input.
  second(30);
  for (int i = 1; i < 10; ++i) second(30);
  RunWatched();
  second(30, true);
  EXPECT_EQ(counted(), 10) << "10 s after the input";
  processes.running.pop_back();
  second(50);
  for (int i = 0; i < 10; ++i) second(50);
  RunWatched();
  second(50, true);
  EXPECT_EQ(counted(), 20) << "more than 10 s after the input";
  // While the program does not run, clicks elsewhere look for no launcher:
  // the check finds its start. Looking would snapshot every process each
  // second after every click.
  processes.running.clear();
  CheckPresence();
  const int snapshots = processes.snapshots;
  for (std::uint32_t use_tick = 60; use_tick < 65; ++use_tick) second(use_tick);
  EXPECT_EQ(processes.snapshots, snapshots) << "looked for a launcher of a program that does not run";
}

}  // namespace
}  // namespace vardex::testing
