// The idle countdown: counting, the readouts, the icon bands and the shutdown.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "monitor/monitor_fixture_test.h"

namespace vardex::testing {
namespace {

class Countdown : public MonitorFixture {
 protected:
  // Started, with the watched program running and found once.
  void StartWatching(int instances = 1) {
    Start();
    RunWatched(instances);
    CheckPresence();
    ASSERT_EQ(presence.loaded(), -1);
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) IdleTick();
  }
  std::int16_t Count() const { return countdown.elapsed_seconds(); }
  // One tick in which the program did `done`, measured by the checks.
  void WorkTick(WorkDone done, int n = 1) {
    for (int i = 0; i < n; ++i) {
      // Once it is ended there is no process left to do it.
      if (!processes.running.empty()) {
        WorkDone& so_far = *processes.running[0].work;
        so_far = {so_far.cpu_ms + done.cpu_ms, so_far.io_bytes + done.io_bytes};
      }
      system.monotonic_ms += tmrAppShotDown.Interval();
      CheckPresence();
      countdown.Tick();
    }
  }
};

TEST_F(Countdown, WorkedRunWithStartUpValues) {
  StartWatching();
  // The idle timer started with Vardex: its first tick is a period away.
  system.monotonic_ms += 100;
  countdown.Tick();
  ASSERT_EQ(Count(), 0) << "a message posted at start-up";
  std::map<std::string, int> first_seen;  // picture -> count at which it was first shown
  std::map<int, std::string> ratio_at;
  while (Count() < 1800) {
    Tick();
    first_seen.emplace(TrayPicture(), Count());
    ratio_at[Count()] = lblCompletionRatio.Caption();
    ASSERT_TRUE(processes.killed.empty()) << "ended at " << Count();
  }
  EXPECT_EQ(ratio_at[10], "0");
  EXPECT_EQ(ratio_at[220], "0");
  EXPECT_EQ(ratio_at[230], "0.127777777777778");
  EXPECT_EQ(ratio_at[1800], "1");
  EXPECT_EQ(LblElapsedTime.Caption(), "1800");
  const std::map<std::string, int> expected{{"picTimerOn", 10},  {"Picture1", 230}, {"Picture2", 460},
                                            {"Picture3", 680},   {"Picture4", 910}, {"Picture5", 1130},
                                            {"Picture6", 1360},  {"Picture7", 1580}};
  EXPECT_EQ(first_seen, expected);

  Tick();
  EXPECT_EQ(Count(), 1810);
  EXPECT_EQ(lblCompletionRatio.Caption(), "1.00555555555556");
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100}));
  EXPECT_EQ(TrayPicture(), "picTimerOff");
}

TEST_F(Countdown, BandEdgesAreExclusiveBelowInclusiveAbove) {
  // An 8-minute limit (480 s) puts 10-second counts on the edges.
  StartWatching();
  intAppShutDownTime.SetText("8");
  std::map<int, std::string> picture_at;
  while (Count() < 480) {
    Tick();
    picture_at[Count()] = TrayPicture();
  }
  EXPECT_EQ(picture_at[60], "picTimerOn");  // r = 0.125: unchanged
  EXPECT_EQ(picture_at[70], "Picture1");
  EXPECT_EQ(picture_at[120], "Picture1");  // r = 0.25
  EXPECT_EQ(picture_at[130], "Picture2");
  EXPECT_EQ(picture_at[420], "Picture6");  // r = 0.875
  EXPECT_EQ(picture_at[430], "Picture7");
  EXPECT_EQ(picture_at[480], "Picture7");  // r = 1: the limit itself ends nothing
  EXPECT_TRUE(processes.killed.empty());
  Tick();
  EXPECT_EQ(processes.killed.size(), 1u);
}

TEST_F(Countdown, RatioJustBelowAnEighthIsShownWithoutChangingTheIcon) {
  // 83 minutes = 4980 s: 620 s is 0.1245, between the display threshold and 1/8.
  StartWatching();
  intAppShutDownTime.SetText("83");
  Tick(61);
  EXPECT_EQ(lblCompletionRatio.Caption(), "0");  // 610 s is 0.1225
  Tick();
  EXPECT_EQ(Count(), 620);
  EXPECT_EQ(lblCompletionRatio.Caption(), "0.124497991967871");
  EXPECT_EQ(TrayPicture(), "picTimerOn");
}

TEST_F(Countdown, GuardOnPathsOfSevenCharactersOrFewer) {
  StartWatching();
  for (const char* path : {"", "C:\\A.EX", "C:\\FIN7"}) {
    txtApplicationName.SetText(path);
    marks.Key(65, 1);  // after the change, which clears the marks
    Tick(3);
    EXPECT_EQ(Count(), 0) << path;
    EXPECT_EQ(LblElapsedTime.Caption(), "0");
    EXPECT_EQ(marks.last_key_code(), 65) << "the mark stays set";
  }
  txtApplicationName.SetText("C:\\A.EXE");  // 8 characters: counts
  marks.Key(65, 1);
  Tick();
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(marks.last_key_code(), 0);
}

TEST_F(Countdown, ActivitySetsTheCountBackToOneTick) {
  StartWatching();
  Tick(30);
  ASSERT_EQ(TrayPicture(), "Picture1");
  marks.Key(65, 0);  // a release counts as much as a press
  Tick();
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(LblElapsedTime.Caption(), "10");
  EXPECT_EQ(lblCompletionRatio.Caption(), "0");
  EXPECT_EQ(TrayPicture(), "picTimerOn");
  EXPECT_EQ(marks.last_key_code(), 0);

  Tick(10);
  marks.Mouse(513, 5, 5);
  Tick();
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(marks.last_mouse_event(), 0);
}

// A tenth of one core, or a MiB a second, averaged over the tick: above it
// the tick is use, and the icon shows none of the count.
TEST_F(Countdown, WorkAboveTheThresholdRestartsTheCountLikeUse) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  WorkTick({}, 4);
  WorkTick({1'001, 0});
  EXPECT_EQ(Count(), 10);
  EXPECT_TRUE(countdown.busy());
  EXPECT_EQ(TrayPicture(), "picTimerOn") << "no progress while work holds the count";
  WorkTick({1'000, 10 << 20});
  EXPECT_EQ(Count(), 20) << "ticking over is no work";
  EXPECT_FALSE(countdown.busy());
  EXPECT_EQ(TrayPicture(), "Picture2");
  WorkTick({0, (10 << 20) + 1});
  EXPECT_EQ(Count(), 10) << "disk work";
  WorkTick({10'000, 0}, 360);  // an hour at one core
  EXPECT_TRUE(processes.killed.empty());
  EXPECT_EQ(countdown.ticks_held_by_work(), 362u);
  WorkTick({900, 0}, 5);
  EXPECT_TRUE(processes.killed.empty());
  WorkTick({900, 0});
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100})) << "the limit after the work stopped";
}

TEST_F(Countdown, AdministratorsBoundWorkOrSwitchItOff) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  use.SetWorkPolicy({true, 100, 1 << 20, 2});
  WorkTick({10'000, 0}, 12);
  EXPECT_EQ(Count(), 10) << "two minutes of work held the end off";
  WorkTick({10'000, 0});
  EXPECT_EQ(Count(), 20) << "the bound is reached";
  use.Edited();
  countdown.StartAfresh();
  WorkTick({10'000, 0}, 12);
  EXPECT_EQ(Count(), 10) << "a fresh start starts the bound again";
  marks.Key(65, 1);
  WorkTick({10'000, 0}, 12);
  EXPECT_EQ(Count(), 10) << "use starts the bound again";
  WorkTick({10'000, 0}, 7);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100}));

  RunWatched();
  CheckPresence();
  use.SetWorkPolicy({false, 100, 1 << 20, 0});
  WorkTick({10'000, 1 << 30}, 6);
  EXPECT_EQ(Count(), 60);
  EXPECT_FALSE(countdown.busy());
  use.SetWorkPolicy({true, 100, 0, 0});
  WorkTick({0, 1 << 30});
  EXPECT_EQ(Count(), 70) << "disk work switched off alone";
}

TEST_F(Countdown, MouseMovesAreNoActivity) {
  StartWatching();
  Tick(5);
  marks.Mouse(512, 1, 1);
  marks.Mouse(160, 1, 1);
  Tick();
  EXPECT_EQ(Count(), 60);
}

TEST_F(Countdown, ResetWhileTheProgramIsNotLoadedLeavesTheIcon) {
  Start();  // nothing running; bAppLoaded is 0
  marks.Key(65, 1);
  tray.icon = nullptr;
  Tick();
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(tray.icon, nullptr);
}

// A tick longer than the limit counts past it at the first tick after use;
// the program used a moment ago is ended once the limit has passed on the
// clock as well, at the next tick. Ticks of a fractional length add up
// exactly.
TEST_F(Countdown, LongTicksWaitForTheLimitOnTheClock) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  intAppUseTime.SetText("90");
  marks.Key(65, 1);
  Tick();
  EXPECT_EQ(Count(), 90);
  EXPECT_TRUE(processes.killed.empty()) << "used just before this tick";
  Tick();
  EXPECT_EQ(processes.killed.size(), 1u);
  intAppUseTime.SetText("25.5");
  marks.Key(65, 1);
  Tick(2);
  EXPECT_EQ(Count(), 51) << "not 52: the half seconds are not rounded up at each tick";
}

TEST_F(Countdown, EveryMatchingProcessIsEndedAndOnlyThose) {
  Start();
  RunWatched(2);                                                                        // ids 100, 101
  processes.running.push_back({"C:\\program files\\navision financials\\fin.exe", 102});  // lower case
  processes.running.push_back({"C:\\PROGRAM FILES\\NAVISION FINANCIALS\\FIN.EX", 103});   // shorter
  processes.running.push_back({"C:\\WINDOWS\\NOTEPAD.EXE", 104});
  processes.running.push_back({"C:\\PROGRAM FILES\\NAVISION FINANCIALS\\FIN.EXE.OLD\\FIN.EXE", 105});  // longer
  intAppShutDownTime.SetText("1");
  CheckPresence();
  Tick(6);
  EXPECT_TRUE(processes.killed.empty());
  // A copy started after the check, which no check has seen yet: a start
  // within the limit, so no copy has been idle for it, whatever the count
  // says, and whatever the wall clock (set forward an hour) gave it.
  RunWatched();  // id 106
  processes.running.back().created = kFakeNowMs + 3'600'000;
  Tick();
  EXPECT_TRUE(processes.killed.empty()) << "the young copy keeps every copy";
  EXPECT_EQ(presence.loaded(), -1);
  CheckPresence();
  Tick(6);
  EXPECT_TRUE(processes.killed.empty());
  log.clear();
  Tick();
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100, 101, 102, 106}))
      << "the whole path, in any case; a copy seen the limit ago may be ended";
  int off = 0;
  for (const auto& call : log) off += call == "TrayIcon picTimerOff";
  EXPECT_EQ(off, 4) << "the stopped icon once per ended process";
  processes.running.push_back({kDesignPath, 107, std::nullopt});
  CheckPresence();
  audits.events.clear();
  Tick(7);
  EXPECT_EQ(processes.killed.back(), 106) << "nor one whose identifier may have passed to another";
  EXPECT_EQ(std::count(audits.events.begin(), audits.events.end(),
                       "1006 E " + std::string(kAuditUser) + "|" + kDesignPath + "|107|creation time unknown"),
            1)
      << "and the administrator is told so, once";
}

// Only the timer's own ticks count, each a period after the last: ticks
// posted by another process end nothing before its time. A late tick keeps
// the next on time, unless it saw use: the count starts again from it. One a
// second overdue is counted by the check each second.
TEST_F(Countdown, ATickCountsOnlyWhenItsPeriodHasPassed) {
  // The program is found half a period after start-up, while the idle timer
  // runs on start-up's schedule.
  Start();
  presence.Reset();
  const std::int64_t t0 = system.monotonic_ms;
  RunWatched(1);
  system.monotonic_ms += 5'000;
  CheckPresence();
  intAppShutDownTime.SetText("1");
  const auto tick_at = [&](std::int64_t t) {
    system.monotonic_ms = t0 + t;
    countdown.Tick();
  };
  tick_at(10'000);
  for (int i = 1; i <= 50; ++i) tick_at(10'000 + 20 * i);  // a burst within a second
  EXPECT_EQ(Count(), 10);
  tick_at(23'000);
  tick_at(29'984);  // a system tick early
  tick_at(40'000);
  EXPECT_EQ(Count(), 40);
  marks.Key(65, 1);
  system.monotonic_ms = t0 + 50'999;
  countdown.Second();
  EXPECT_EQ(Count(), 40) << "a tick less than a second late waits for its message";
  system.monotonic_ms = t0 + 51'000;
  countdown.Second();
  EXPECT_EQ(Count(), 10) << "one a second late is counted by the check each second, its use too";
  tick_at(52'000);
  tick_at(60'000);
  tick_at(60'990);
  EXPECT_EQ(Count(), 10) << "the new count runs from the tick that saw the use, never from before it";
  tick_at(62'000);
  tick_at(140'000);  // the thread was busy; the ticks in between were lost
  tick_at(141'000);
  EXPECT_EQ(Count(), 40) << "lost ticks made up one a message, never ahead of the time passed";
  for (std::int64_t t = 150'000; t <= 160'000; t += 10'000) tick_at(t);
  EXPECT_TRUE(processes.killed.empty());
  tick_at(170'000);
  EXPECT_EQ(processes.killed.size(), 1u);
  // The next run turns the timer on again: its first tick is a period away,
  // and a message posted at once is none.
  RunWatched(1);
  system.monotonic_ms = t0 + 180'000;
  CheckPresence();
  ASSERT_EQ(presence.loaded(), -1);
  tick_at(180'100);
  EXPECT_EQ(Count(), 0) << "a message posted as the timer starts";
  tick_at(190'000);
  EXPECT_EQ(Count(), 10);
}

// A new period starts now and counts on from the ticks counted: a longer one
// does not stall the count until the old ticks fit in it, and a shorter one
// does not let posted messages count the ticks the old ones would have held.
TEST_F(Countdown, ANewPeriodCountsOnFromTheTicksCounted) {
  Start();
  presence.Reset();
  const std::int64_t t0 = system.monotonic_ms;
  RunWatched(1);
  CheckPresence();
  intAppShutDownTime.SetText("5");
  const auto tick_at = [&](std::int64_t t, int burst = 1) {
    system.monotonic_ms = t0 + t;
    for (int i = 0; i < burst; ++i) countdown.Tick();
  };
  for (std::int64_t t = 10'000; t <= 40'000; t += 10'000) tick_at(t);
  system.monotonic_ms = t0 + 45'000;
  intAppUseTime.SetText("90");
  tick_at(135'000);
  EXPECT_EQ(Count(), 130) << "a longer period's first tick counts";
  system.monotonic_ms = t0 + 140'000;
  intAppUseTime.SetText("20");
  tick_at(141'000, 50);
  EXPECT_EQ(Count(), 130) << "posted at once, not the periods a short one would have held";
  tick_at(160'000);
  EXPECT_EQ(Count(), 150);
  EXPECT_TRUE(processes.killed.empty());
}

TEST_F(Countdown, ScanRepeatsWhileNothingMatches) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  processes.running.clear();  // the program went away before the limit
  Tick(7);
  const int snapshots = processes.snapshots;
  Tick(3);
  EXPECT_EQ(processes.snapshots, snapshots + 3);
  EXPECT_TRUE(processes.killed.empty());
}

TEST_F(Countdown, FailuresOfTheProcessListDoNotStopTheScan) {
  StartWatching(2);
  intAppShutDownTime.SetText("1");
  processes.fail_kill = true;  // both survive
  Tick(7);
  int attempts = 0;
  for (const auto& call : log) attempts += call.rfind("KillProcess ", 0) == 0;
  EXPECT_EQ(attempts, 2);
  Tick();
  for (const auto& call : log) attempts -= call.rfind("KillProcess ", 0) == 0;
  EXPECT_EQ(attempts, -2) << "tried again at the next tick";
}

TEST_F(Countdown, NothingIsEndedWithoutAFreshSnapshot) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  processes.fail_list = true;
  Tick(10);
  EXPECT_TRUE(processes.killed.empty());
}

TEST_F(Countdown, CountStaysAtTheTopOfItsRange) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  intAppUseTime.SetText("90");
  processes.fail_kill = true;  // the program never goes away
  Tick(364);
  EXPECT_EQ(Count(), 32760);
  Tick();
  EXPECT_EQ(Count(), 32767);
  Tick();
  EXPECT_EQ(Count(), 32767);
  EXPECT_EQ(LblElapsedTime.Caption(), "32767");
  EXPECT_EQ(TrayPicture(), "picTimerOff");
}

TEST_F(Countdown, FieldsBeingRetypedCountAsTheirLastNumber) {
  StartWatching();
  intAppShutDownTime.SetText("");  // the user cleared the limit to type a new one
  intAppUseTime.SetText("x");
  Tick(23);
  EXPECT_EQ(Count(), 230);
  EXPECT_EQ(lblCompletionRatio.Caption(), "0.127777777777778") << "30 minutes still in force";
  EXPECT_EQ(intAppShutDownTime.Text(), "") << "what the user typed is left alone";
  intAppShutDownTime.SetText("4");
  Tick(24);
  EXPECT_EQ(lblCompletionRatio.Caption(), "1");
}

// Each change of the path, a keystroke of the user's, starts the count from
// 0, and the readouts show it at once, with the running icon while the
// program is loaded, as after "&Done".
TEST_F(Countdown, EveryChangeOfThePathStartsTheCountFromZero) {
  StartWatching();
  Tick(30);
  ASSERT_EQ(TrayPicture(), "Picture1");
  marks.Mouse(513, 1, 1);
  txtApplicationName.SetText("C:\\Apps\\Other.exe");
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(marks.last_mouse_event(), 0);
  EXPECT_EQ(LblElapsedTime.Caption(), "0");
  EXPECT_EQ(lblCompletionRatio.Caption(), "0");
  EXPECT_EQ(TrayPicture(), "picTimerOn") << "loaded until the next check says otherwise";

  // After an end, a path typed on the way to another one matches a program
  // the user never named; it never inherits the count above the limit.
  txtApplicationName.SetText(kDesignPath);
  intAppShutDownTime.SetText("1");
  Tick(7);
  ASSERT_EQ(processes.killed.size(), 1u);
  CheckPresence();
  ASSERT_EQ(Count(), 70) << "gone; the count stays above the limit";
  processes.running.push_back({"C:\\PROGRAM FILES\\WORDPAD.EXE", 7});
  std::string typed;
  for (const char ch : std::string("C:\\Program Files\\WordPad.exe")) {
    txtApplicationName.SetText(typed += ch);
    CheckPresence();
    Tick();
    ASSERT_EQ(processes.killed.size(), 1u) << typed;
  }
  ASSERT_EQ(presence.loaded(), -1) << "the path typed to its end names the other program";
  EXPECT_EQ(Count(), 10);
  Tick(5);
  EXPECT_EQ(processes.killed.size(), 1u) << "the other program gets the whole limit";
  Tick();
  EXPECT_EQ(processes.killed.size(), 2u) << "and no more";
}

// Only the program the user named by its whole path is ever ended: a
// folder, or a path cut short, names none (the hook component would not
// watch what such a path found either).
TEST_F(Countdown, AFolderOrAPathCutShortEndsNothing) {
  Start();
  processes.running = {{"C:\\TOOLS\\A.EXE", 1}, {"C:\\TOOLS\\SUB\\B.EXE", 2}, {"C:\\TOOLSET\\C.EXE", 3}};
  intAppShutDownTime.SetText("1");
  for (const char* path : {"C:\\Tools\\", "C:\\Tools\\A", "C:\\Tools\\A.EX"}) {
    txtApplicationName.SetText(path);
    CheckPresence();
    EXPECT_EQ(presence.loaded(), 0) << path;
    tmrAppShotDown.SetEnabled(true);  // as if a tick still came
    Tick(7);
    countdown.EndMatchingProcesses();
  }
  EXPECT_TRUE(processes.killed.empty());
}

// Ending without losing work, as Vardex does by default: the warning, then
// the request to close, then the hard end after the grace period.
class AskFirst : public Countdown {
 protected:
  AskFirst() { closing = vardex::Closing(ClosingPolicy{}); }
  // One tick of tmrInputCheck, `ms` after the one before.
  void Second(std::int64_t ms = 1000) {
    system.monotonic_ms += ms;
    countdown.Second();
  }
  std::ptrdiff_t Logged(const std::string& prefix) const {
    return std::count_if(log.begin(), log.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
  }
};

TEST_F(AskFirst, AOneMinuteLimitWarnsAtItsHalfOncePerApproachAndUseTakesTheWarningAway) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  Tick(2);
  EXPECT_EQ(Logged("ShowWarning"), 0) << "not before half the limit";
  Tick();
  EXPECT_EQ(tray.warning,
            "FIN.EXE will be closed in 40 seconds because it has been idle for 1 minute. Use it to keep it open.");
  EXPECT_EQ(Logged("ShowWarning FIN.EXE will be closed"), 1);
  Tick(3);
  EXPECT_EQ(Logged("ShowWarning"), 1);
  marks.Key(65, 1);
  Second();
  EXPECT_EQ(tray.warning, "");
  EXPECT_EQ(Count(), 0) << "use restarts the count at once";
  Second(1'100);
  EXPECT_EQ(Count(), 0) << "a count started between two messages waits for the next";
  Tick(3);
  EXPECT_EQ(Logged("ShowWarning"), 2) << "the next approach warns again";
  Second(2'000);
  EXPECT_EQ(Count(), 30) << "whose schedule the later ones keep";
}

TEST_F(AskFirst, LongerLimitsWarnOneMinuteBeforeTheRequest) {
  StartWatching();
  Tick(174);
  EXPECT_EQ(Logged("ShowWarning"), 0) << "70 s left";
  Tick();
  EXPECT_EQ(tray.warning,
            "FIN.EXE will be closed in 60 seconds because it has been idle for 30 minutes. Use it to keep it open.");
  // A tick longer than the warning time warns at the tick before the request.
  intAppShutDownTime.SetText("2");
  intAppUseTime.SetText("90");
  marks.Key(65, 1);
  Tick(2);
  EXPECT_EQ(tray.warning,
            "FIN.EXE will be closed in 90 seconds because it has been idle for 2 minutes. Use it to keep it open.");
  EXPECT_EQ(Logged("AskToClose"), 0);
  Tick();
  EXPECT_EQ(Logged("AskToClose"), 1);
  // Due at the count's first tick, the request waits a tick for its warning.
  intAppShutDownTime.SetText("1");
  Tick();
  EXPECT_EQ(tray.warning,
            "FIN.EXE will be closed in 90 seconds because it has been idle for 1 minute. Use it to keep it open.");
  EXPECT_EQ(Logged("AskToClose"), 1);
  Tick();
  EXPECT_EQ(Logged("AskToClose"), 2);
  // However short the warning time, the tick before the request warns.
  closing.SetPolicy(ClosingPolicy{1, 30});
  marks.Key(65, 1);
  Tick();
  EXPECT_EQ(Logged("ShowWarning"), 4) << "a one-second warning time";
  EXPECT_EQ(Logged("AskToClose"), 2);
  Tick();
  EXPECT_EQ(Logged("AskToClose"), 3);
  // A late message brings the request no sooner than the warning said: the
  // limit is reckoned on the count's schedule.
  closing.SetPolicy(ClosingPolicy{3600, 30});
  intAppUseTime.SetText("45");
  marks.Key(65, 1);
  Tick();
  EXPECT_EQ(tray.warning,
            "FIN.EXE will be closed in 90 seconds because it has been idle for 1 minute. Use it to keep it open.");
  system.monotonic_ms += 60'000;  // the next message 15 s late
  countdown.Tick();
  EXPECT_EQ(Logged("AskToClose"), 3);
  system.monotonic_ms += 30'000;
  countdown.Tick();
  EXPECT_EQ(Logged("AskToClose"), 4);
}

TEST_F(AskFirst, EveryCopyIsAskedAndWhatStillRunsIsEndedWhenTheGracePeriodIsOver) {
  StartWatching(2);
  processes.running[0].closes_when_asked = true;
  intAppShutDownTime.SetText("1");
  Tick(7);
  EXPECT_EQ(Logged("AskToClose"), 2);
  EXPECT_TRUE(processes.killed.empty());
  Tick();
  EXPECT_EQ(Logged("AskToClose"), 2) << "one request per end";
  Second(19'999);  // the tick took 10 s of the grace period
  EXPECT_TRUE(processes.killed.empty()) << "not before the grace period is over";
  EXPECT_TRUE(closing.asking());
  Second(1);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{101})) << "the copy that closed is never ended";
  EXPECT_FALSE(closing.asking());
  EXPECT_EQ(TrayPicture(), "picTimerOff");
  EXPECT_EQ(presence.loaded(), 0);
  // Every copy closed when asked: the run has ended as surely, before any
  // check, which a path changed meanwhile would never make.
  processes.running.clear();
  RunWatched();
  processes.running[0].closes_when_asked = true;
  CheckPresence();
  Tick(7);
  Second(30'000);
  EXPECT_EQ(processes.killed.size(), 1u);
  EXPECT_EQ(presence.loaded(), 0) << "the run of a copy that closed when asked";
}

// A copy that said yes and returned from the end of the session is done, as
// at sign-out, once every asked copy is: one that did not answer (hung), or
// said no, keeps the whole grace period for all.
TEST_F(AskFirst, CopiesThatAllAgreedAreEndedAtOnce) {
  StartWatching(2);
  for (FakeProcess& copy : processes.running) copy.agrees_when_asked = true;
  processes.running[1].hung = true;
  intAppShutDownTime.SetText("1");
  Tick(7);
  ASSERT_EQ(Logged("AskToClose"), 2);
  Second(29'999);
  EXPECT_TRUE(processes.killed.empty()) << "a copy did not answer";
  Second(1);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100, 101}));

  processes.running = {};
  RunWatched(2);
  for (FakeProcess& copy : processes.running) copy.agrees_when_asked = true;
  CheckPresence();
  Tick(7);
  EXPECT_EQ(processes.killed.size(), 2u) << "not before the request";
  Second();
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100, 101, 100, 101})) << "both agreed";
}

// The machine sleeps 10 minutes 10 s into the grace period ("Save changes?"
// on screen): the wake ends nothing, the rest of the grace period is awake.
TEST_F(AskFirst, TheGracePeriodIsAwakeTime) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  Tick(7);
  ASSERT_TRUE(closing.asking());
  Second(10'000);
  system.asleep_ms += 600'000;
  Second(600'000);
  IdleTick();  // the idle timer's message due at the wake
  EXPECT_TRUE(processes.killed.empty()) << "ended at the wake";
  Second(9'999);
  EXPECT_TRUE(processes.killed.empty());
  Second(1);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100})) << "30 awake seconds after the request";

  // The shortest grace period still asks first.
  closing.SetPolicy(ClosingPolicy{60, 1});
  processes.running = {};
  RunWatched();
  CheckPresence();
  Tick(7);
  EXPECT_EQ(Logged("AskToClose"), 2);
  EXPECT_EQ(processes.killed.size(), 1u) << "ended unasked";
  Second();
  EXPECT_EQ(processes.killed.size(), 2u);
}

TEST_F(AskFirst, WorkDuringTheGracePeriodDoesNotCallTheEndOff) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  Tick(7);
  ASSERT_TRUE(closing.asking());
  WorkTick({10'000, 50 << 20});  // saving, because it was asked
  EXPECT_TRUE(closing.asking());
  EXPECT_FALSE(countdown.busy());
  Second(20'000);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100}));
}

TEST_F(AskFirst, UseDuringTheGracePeriodCallsTheEndOff) {
  StartWatching();
  intAppShutDownTime.SetText("1");
  Tick(7);
  ASSERT_TRUE(closing.asking());
  Second(10'000);
  marks.Key(27, 1);  // the user came back to answer the program's own question
  Second();
  EXPECT_FALSE(closing.asking());
  EXPECT_EQ(Count(), 0);
  Second(60'000);
  EXPECT_TRUE(processes.killed.empty());
  Tick(6);
  EXPECT_EQ(Logged("AskToClose"), 1) << "the whole limit again";
  Tick();
  EXPECT_EQ(Logged("AskToClose"), 2);

  // Where work holds the end off a minute at most, a return after that
  // minute starts it again.
  use.SetWorkPolicy({true, 100, 1 << 20, 1});
  WorkTick({10'000, 0}, 7);  // saving, asked, past the minute
  marks.Key(27, 1);
  Second();
  ASSERT_FALSE(closing.asking());
  WorkTick({10'000, 0}, 6);
  EXPECT_EQ(Count(), 10) << "the work after the return holds the end off";
}

// The audit over a program's life: each step reports exactly its documented
// event, the inserts in their fixed order (the user, the path, the step's
// facts), and nothing else; a refusal once a count, a hold once per hold,
// the dry run's one report per idle run in place of every request and end.
TEST_F(AskFirst, EachStepReportsExactlyItsEvent) {
  StartWatching(2);
  processes.running[0].closes_when_asked = true;
  processes.restarts[101] = "/restore 7";
  intAppShutDownTime.SetText("1");
  const std::string who = std::string(kAuditUser) + "|" + kDesignPath;
  const auto event = [&who](const char* head, const std::string& facts = "") {
    return std::string(head) + " " + who + (facts.empty() ? "" : "|" + facts);
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> events;
  };
  const std::vector<Step> steps = {
      {"half the limit: the warning", [&] { Tick(3); }, {event("1001 I", "40")}},
      {"use calls it off", [&] { marks.Key(65, 1), Second(); }, {event("1002 I")}},
      {"work holds the count, once per hold", [&] { WorkTick({10'000, 0}, 3); }, {event("1007 I")}},
      {"idle to the limit: warned, every copy asked",
       [&] { Tick(6); },
       {event("1001 I", "40"), event("1003 I", "100|30"), event("1003 I", "101|30")}},
      {"the grace period: one closed, one ended",
       [&] { Second(30'000); },
       {event("1004 I", "100|30"), event("1005 W", "101|30")}},
      {"the user back a minute later anywhere: offered once, with the tray's item",
       [&] {
         watch.Second();
         input.sample.last_input_tick += 1;
         system.monotonic_ms += 60'000;
         watch.Second();
         EXPECT_EQ(tray.reopen_item, "Reopen FIN.EXE");
         EXPECT_EQ(tray.warning, "FIN.EXE was closed while you were away. Reopen it from Vardex's icon.");
         input.sample.last_input_tick += 1;
         watch.Second();
       },
       {event("1011 I", "1")}},
      {"reopened from the tray with the command line it registered",
       [&] {
         system.fail_start = true;
         watch.Reopen(system);
         EXPECT_EQ(tray.reopen_item, "Reopen FIN.EXE") << "a failed start keeps the offer";
         system.fail_start = false;
         system.monotonic_ms += 59'999;  // not yet two whole minutes since the end
         watch.Reopen(system);
         watch.Reopen(system);
         EXPECT_EQ(system.started, (std::vector<std::string>{std::string(kDesignPath) + "|/restore 7"}));
         EXPECT_EQ(tray.reopen_item, "");
       },
       {event("1012 I", "1|restart command")}},
      {"started again six whole minutes later, to the millisecond",
       [&] {
         CheckPresence();
         system.monotonic_ms += 4 * 60'000 + 1;
         RunWatched();
         CheckPresence();
       },
       {event("1010 I", "6")}},
      {"a copy that cannot be ended",
       [&] {
         processes.running[0].endable = false;
         Tick(7);
         Second(30'000);
       },
       {event("1001 I", "40"), event("1003 I", "100|30"), event("1006 E", "100|refused by the system or a guard")}},
      {"asked again, refused once a count", [&] { Tick(), Second(30'000); }, {event("1003 I", "100|30")}},
      {"use during the request calls the end off", [&] { Tick(), marks.Key(65, 1), Second(); },
       {event("1003 I", "100|30"), event("1002 I")}},
      {"a dry run: warned, and the end only reported",
       [&] {
         closing = vardex::Closing(ClosingPolicy{60, 30, true});
         Tick(10);
       },
       {event("1001 I", "40"), event("1009 W", "1")}},
      {"use starts a new idle run", [&] { marks.Key(65, 1), Second(), Tick(7); },
       {event("1002 I"), event("1001 I", "40"), event("1009 W", "1")}},
  };
  for (const Step& step : steps) {
    audits.events.clear();
    step.act();
    EXPECT_EQ(audits.events, step.events) << step.what;
  }
  EXPECT_EQ(Logged("AskToClose"), 5) << "the dry run asks nothing";
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{101})) << "and ends nothing";
}

// "Show Task" is the user's own end, made while the user is there: only the
// idle end, which came while the user was away, is offered again.
TEST_F(AskFirst, OnlyAnIdleEndIsOfferedAgain) {
  StartWatching();
  const auto end_and_come_back = [this](const std::function<void()>& end) {
    end();
    Second(30'000);
    CheckPresence();
    ASSERT_EQ(presence.loaded(), 0);
    watch.Second();
    input.sample.last_input_tick += 1;
    watch.Second();
  };
  end_and_come_back([this] { countdown.EndMatchingProcesses(); });
  EXPECT_EQ(Logged("ShowNote"), 0);
  RunWatched();
  CheckPresence();
  intAppShutDownTime.SetText("1");
  end_and_come_back([this] { Tick(7); });
  EXPECT_EQ(Logged("ShowNote FIN.EXE was closed"), 1);
  EXPECT_EQ(processes.asked.size(), 2u);
}

// The offer to reopen on the awake clock, in minutes: when the user's return
// makes it, and each way it goes.
TEST(ReopenOffer, ComesOnceWhenTheUserIsBackAndGoesWhenItExpiresRunsOrIsReplaced) {
  using Change = ReopenOffer::Change;
  constexpr std::int64_t kMin = 60'000, kEnd = 1000 * kMin;
  struct Case {
    const char* what;
    std::int32_t minutes;
    // Seconds, each: minutes since the end, the input's "after" in minutes
    // since the end (none: no input yet), the program runs; and the change.
    std::vector<std::tuple<std::int64_t, std::optional<std::int64_t>, bool, Change>> seconds;
  };
  const std::vector<Case> cases = {
      {"input from before the end is not a return", 60,
       {{1, -1, false, Change::kNone}, {2, 0, false, Change::kOffered}, {3, 2, false, Change::kNone}}},
      {"standing the policy's minutes from the offer, not from the end", 5,
       {{30, 29, false, Change::kOffered}, {34, 33, false, Change::kNone}, {35, 34, false, Change::kWithdrawn},
        {36, 35, false, Change::kNone}}},
      {"not while a copy runs; made once it no longer does", 60,
       {{1, 0, true, Change::kNone}, {2, 0, false, Change::kOffered}}},
      {"a return after a day makes none", 60,
       {{24 * 60 + 1, std::nullopt, false, Change::kNone}, {24 * 60 + 2, 24 * 60 + 1, false, Change::kNone}}},
      {"0 minutes: never offered", 0, {{1, 0, false, Change::kNone}}},
  };
  for (const Case& c : cases) {
    ReopenOffer offer(c.minutes);
    offer.Ended({"C:\\A\\A.EXE", "", kEnd});
    for (const auto& [at, after, running, change] : c.seconds) {
      std::optional<std::int64_t> input_after;
      if (after) input_after = kEnd + *after * kMin;
      EXPECT_EQ(offer.Second(kEnd + at * kMin, input_after, running), change) << c.what << " at " << at;
    }
  }
  {
    ReopenOffer offer(1);
    offer.Ended({"C:\\A\\A.EXE", "", kEnd});
    ASSERT_EQ(offer.Second(kEnd + kMin, kEnd + 1, false), Change::kOffered);
    EXPECT_EQ(offer.Second(kEnd + 2 * kMin - 1, kEnd + 1, false), Change::kNone) << "the whole minute stands";
    EXPECT_EQ(offer.Second(kEnd + 2 * kMin, kEnd + 1, false), Change::kWithdrawn);
  }

  ReopenOffer offer;
  offer.Ended({"C:\\A\\A.EXE", "", kEnd});
  offer.Ended({"C:\\B\\B.EXE", "-b", kEnd + 10 * kMin});
  EXPECT_EQ(offer.Second(kEnd + 11 * kMin, kEnd + 5 * kMin, false), Change::kNone) << "input before the later end";
  ASSERT_EQ(offer.Second(kEnd + 12 * kMin, kEnd + 11 * kMin, false), Change::kOffered);
  EXPECT_EQ(offer.standing()->arguments, "-b") << "the later end replaced the earlier";
  EXPECT_TRUE(offer.Started()) << "started by hand: withdrawn";
  EXPECT_EQ(offer.standing(), nullptr);
  offer.Ended({"C:\\B\\B.EXE", "", kEnd});
  EXPECT_FALSE(offer.Started()) << "before the offer: forgotten, nothing to withdraw";
  EXPECT_EQ(offer.Second(kEnd + 2 * kMin, kEnd + kMin, false), Change::kNone);
}

}  // namespace
}  // namespace vardex::testing
