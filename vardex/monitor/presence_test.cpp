// The presence check's state table and its failure handling.
#include <algorithm>

#include "monitor/monitor_fixture_test.h"

namespace vardex::testing {
namespace {

class Presence : public MonitorFixture {
 protected:
  void SetUp() override { Start(); }
  void Check() {
    log.clear();
    CheckPresence();
  }
  int Calls(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(),
                                          [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(Presence, NotLoadedToLoaded) {
  ASSERT_TRUE(tmrAppShotDown.Enabled()) << "start-up runs the idle timer until the first check";
  RunWatched();
  Check();
  EXPECT_EQ(presence.loaded(), -1);
  EXPECT_EQ(TrayPicture(), "picTimerOn");
  EXPECT_TRUE(tmrAppShotDown.Enabled());
  EXPECT_EQ(Calls("MonitoredAppPath " + std::string(kDesignPath)), 1) << "the path as typed, not upper-cased";
}

TEST_F(Presence, LoadedAndStillFoundOnlyHandsThePathOn) {
  RunWatched();
  Check();
  IdleTick();
  for (int i = 0; i < 23; ++i) IdleTick();
  ASSERT_EQ(TrayPicture(), "Picture1");
  tmrAppShotDown.SetEnabled(false);  // whoever turned it off, the check leaves it
  Check();
  EXPECT_EQ(Calls("MonitoredAppPath"), 1);
  EXPECT_EQ(Calls("TrayIcon"), 0);
  EXPECT_EQ(TrayPicture(), "Picture1") << "the countdown's icon stays";
  EXPECT_FALSE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, LoadedToNotLoadedAndNotLoadedAgain) {
  RunWatched();
  Check();
  processes.running.clear();
  for (int round = 0; round < 2; ++round) {
    Check();
    EXPECT_EQ(presence.loaded(), 0);
    EXPECT_EQ(Calls("TrayIcon picTimerOff"), 1) << "set again at every check";
    EXPECT_FALSE(tmrAppShotDown.Enabled());
    EXPECT_EQ(Calls("MonitoredAppPath"), 0);
  }
}

TEST_F(Presence, ShortPathChangesNothingWhateverTheState) {
  RunWatched();
  Check();
  for (const char* path : {"", "C:\\X.EX"}) {
    txtApplicationName.SetText(path);
    Check();
    EXPECT_TRUE(log.empty()) << path;
    EXPECT_EQ(presence.loaded(), -1);
    EXPECT_TRUE(tmrAppShotDown.Enabled());
  }
}

TEST_F(Presence, TwoInstancesCountAsFoundAndNothingIsEnded) {
  RunWatched(2);
  Check();
  EXPECT_EQ(presence.loaded(), -1);
  EXPECT_TRUE(processes.killed.empty());
}

// Each run of the program gets a count of its own. (The count used to carry
// over: still above the limit, it ended a restarted program at its first
// tick.) While the program is away the count and the marks stay.
TEST_F(Presence, AProgramFoundAfterACheckThatMissedItStartsFromZero) {
  RunWatched();
  EXPECT_TRUE(presence.Tick(&hook)) << "a new run";
  EXPECT_FALSE(presence.Tick(&hook)) << "the same run";
  intAppShutDownTime.SetText("1");
  for (int i = 0; i < 7; ++i) IdleTick();
  ASSERT_EQ(processes.killed.size(), 1u);
  marks.Key(65, 0);  // a late event of the ended run
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 70);
  EXPECT_EQ(marks.last_key_code(), 65);

  RunWatched();
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 0);
  EXPECT_EQ(marks.last_key_code(), 0);
  EXPECT_EQ(LblElapsedTime.Caption(), "0");
  EXPECT_EQ(lblCompletionRatio.Caption(), "0");
  EXPECT_EQ(TrayPicture(), "picTimerOn");
  for (int i = 0; i < 6; ++i) IdleTick();
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 60) << "found again, the same run";
  EXPECT_EQ(processes.killed.size(), 1u) << "the whole limit";

  // Started again before any check saw it gone: the end closed the run, and
  // no tick comes before the check that finds the new one.
  IdleTick();
  ASSERT_EQ(processes.killed.size(), 2u);
  EXPECT_EQ(presence.loaded(), 0);
  EXPECT_FALSE(tmrAppShotDown.Enabled());
  RunWatched();
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 0);

  // A program that cannot be ended keeps its run: the count stays above the
  // limit and every tick tries again.
  processes.fail_kill = true;
  for (int i = 0; i < 7; ++i) IdleTick();
  Check();
  IdleTick();
  EXPECT_EQ(countdown.elapsed_seconds(), 80);
  EXPECT_EQ(Calls("KillProcess"), 1) << "tried again after the check";

  // Starting another copy is use, also beside one that could not be ended:
  // the new copy gets the whole limit.
  RunWatched();
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 0);
  for (int i = 0; i < 6; ++i) IdleTick();
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 60) << "the same copies";
  EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const std::string& c) { return c.rfind("Kill", 0) == 0; }));
  // An identifier taken again by a new process is a new copy.
  processes.running.back().created = kFakeNowMs;
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 0);
}

// Workers a program starts from its own executable are the program at work:
// they neither restart the count nor hold off the end. A copy started from
// outside still does.
TEST_F(Presence, ACopyStartedByACopyIsTheProgramAtWork) {
  intAppShutDownTime.SetText("1");
  const auto start = [this](std::int32_t id, std::int64_t created, std::optional<std::int32_t> parent) {
    processes.running.push_back({kDesignPath, id, created});
    processes.parents.erase(id);
    if (parent) processes.parents[id] = *parent;
  };
  start(100, 1'000, 4);  // by the shell
  Check();
  for (int i = 0; i < 3; ++i) IdleTick();
  // After the wall clock was set back an hour: its starter, found at an
  // earlier check, started it all the same.
  start(200, 1'000 - 3'600'000, 100);
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 30);
  for (int i = 0; i < 3; ++i) IdleTick();
  start(201, 2'000, 200);  // since the last check: it holds nothing off either
  IdleTick();
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100, 200, 201})) << "ended within the limit";

  start(300, 5'000, 4);
  Check();
  ASSERT_EQ(countdown.elapsed_seconds(), 0);
  IdleTick();
  // 300 starts 301, after the wall clock was set back an hour, and ends
  // before the next check.
  processes.running.erase(processes.running.begin());
  start(301, 6'000 - 3'600'000, 300);
  Check();
  EXPECT_EQ(countdown.elapsed_seconds(), 10) << "a starter gone since the last check";
  IdleTick();

  struct {
    std::int32_t id;
    std::optional<std::int32_t> parent;
    const char* why;
  } const outside[] = {{400, 7, "started by another program"},
                       {401, std::nullopt, "a starter that cannot be read"},
                       {402, 403, "an identifier taken since by a worker started later"}};
  for (const auto& copy : outside) {
    start(copy.id, 7'000, copy.parent);
    if (copy.id == 402) start(403, 8'000, 400);
    Check();
    EXPECT_EQ(countdown.elapsed_seconds(), 0) << copy.why;
    IdleTick();
  }
}

// The program's work: its copies and every process they started, followed
// down by the starter's identifier and creation time, also after the
// starter has ended; never another program, nor a process that an earlier
// holder of a copy's identifier started.
TEST_F(Presence, WorkIsWhatTheCopiesAndTheProcessesTheyStartedDidBetweenChecks) {
  const auto start = [this](const char* path, std::int32_t id, std::int64_t created, std::optional<std::int32_t> parent,
                            WorkDone done) {
    processes.running.push_back({path, id, created});
    processes.running.back().work = done;
    if (parent) processes.parents[id] = *parent;
  };
  const auto add = [this](std::int32_t id, WorkDone more) {
    for (FakeProcess& p : processes.running)
      if (p.id == id) *p.work = {p.work->cpu_ms + more.cpu_ms, p.work->io_bytes + more.io_bytes};
  };
  start(kDesignPath, 100, 1'000, 4, {500, 0});
  start("C:\\WINDOWS\\EXPLORER.EXE", 4, 10, std::nullopt, {9'000, 0});
  start("C:\\OLD\\STALE.EXE", 7, 500, 100, {7'000, 0});  // started by an earlier holder of 100
  start("C:\\SOLVER\\OLDSOLVE.EXE", 8, 1'500, 100, {3'000, 0});  // started before the program was found
  Check();
  EXPECT_EQ(use.TakeWork().span_ms, 0) << "the first check only takes the counts";

  system.monotonic_ms += 5'000;
  for (std::int32_t id : {100, 4, 7}) add(id, {1'000, 0});
  add(8, {200, 0});
  // Started since, all of it counts; a snapshot may list a process before
  // the one that started it.
  start("C:\\SOLVER\\MESH.EXE", 301, 2'500, 300, {100, 0});
  start("C:\\SOLVER\\SOLVE.EXE", 300, 2'000, 100, {2'000, 3 << 20});
  Check();
  Use::Work work = use.TakeWork();
  EXPECT_EQ(work.span_ms, 5'000);
  EXPECT_EQ(work.done, (WorkDone{1'000 + 200 + 2'000 + 100, 3 << 20}));
  EXPECT_EQ(use.TakeWork().done, WorkDone{}) << "taken once";

  // The copy ends, and the mesher; the solver outlives them.
  for (const std::int32_t id : {100, 301})
    processes.running.erase(std::find_if(processes.running.begin(), processes.running.end(),
                                         [id](const FakeProcess& p) { return p.id == id; }));
  add(300, {4'000, 1'000});
  for (int i = 0; i < 2; ++i) {
    system.monotonic_ms += 5'000;
    Check();
  }
  work = use.TakeWork();
  EXPECT_EQ(work.span_ms, 10'000);
  EXPECT_EQ(work.done, (WorkDone{4'000, 1'000}));
  EXPECT_EQ(presence.loaded(), 0);

  // An identifier taken again: 600 runs, started by a process 500 since
  // gone; a copy started later takes 500, dated earlier by a clock set back.
  start("C:\\OTHER\\TOOL.EXE", 600, 3'000, 500, {0, 0});
  system.monotonic_ms += 5'000;
  Check();
  start(kDesignPath, 500, 2'000, 4, {0, 0});
  for (int i = 0; i < 2; ++i) {
    add(600, {5'000, 0});
    system.monotonic_ms += 5'000;
    Check();
  }
  EXPECT_EQ(use.TakeWork().done, WorkDone{}) << "what ran outside the program stays outside";

  // Once nothing of the program runs, nothing is measured.
  processes.running.clear();
  system.monotonic_ms += 5'000;
  Check();
  EXPECT_EQ(use.TakeWork().span_ms, 0);

  // Copies that hand a solve on and exit before the next check: the solver
  // is the program's, unless its starter's identifier is another's by then.
  start(kDesignPath, 700, 4'000, 4, {0, 0});
  start(kDesignPath, 710, 4'000, 4, {0, 0});
  system.monotonic_ms += 5'000;
  Check();
  processes.running.clear();
  start("C:\\SOLVER\\SOLVE.EXE", 701, 4'500, 700, {1'000, 0});
  start("C:\\OTHER\\TOOL.EXE", 710, 4'600, 4, {0, 0});
  start("C:\\SOLVER\\SOLVE.EXE", 711, 4'700, 710, {2'000, 0});
  system.monotonic_ms += 5'000;
  Check();
  EXPECT_EQ(use.TakeWork().done, (WorkDone{1'000, 0}));

  // Another program named between two ticks: neither what the first one's
  // solver did since the last tick nor the time it ran over is the new one's.
  add(701, {3'000, 0});
  system.monotonic_ms += 5'000;
  Check();
  txtApplicationName.SetText("C:\\OTHER\\PROGRAM.EXE");
  start("C:\\OTHER\\PROGRAM.EXE", 900, 6'000, 4, {0, 0});
  system.monotonic_ms += 5'000;
  Check();
  add(900, {500, 0});
  system.monotonic_ms += 5'000;
  Check();
  work = use.TakeWork();
  EXPECT_EQ(work.span_ms, 5'000);
  EXPECT_EQ(work.done, (WorkDone{500, 0}));
}

// The hook component's rule: the whole path in any case.
TEST_F(Presence, AReportedPathIsFoundWholeInAnyCase) {
  processes.running.push_back({"C:\\PROGRAM FILES\\NAVISION FINANCIALS\\FIN.EXE.LNK", 6});
  processes.running.push_back({"C:\\PROGRAM FILES\\NAVISION FINANCIALS", 5});
  Check();
  EXPECT_EQ(presence.loaded(), 0);
  processes.running.push_back({"c:\\program files\\navision financials\\fin.exe", 7});
  Check();
  EXPECT_EQ(presence.loaded(), -1);
}

TEST_F(Presence, PathChangedToAProgramThatIsNotRunning) {
  RunWatched();
  Check();
  txtApplicationName.SetText("C:\\Other\\PROGRAM.EXE");
  Check();
  EXPECT_EQ(presence.loaded(), 0);
  EXPECT_FALSE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, AComponentThatCannotWatchDoesNotStopTheCheck) {
  watching = Watching::kNothing;
  RunWatched();
  Check();
  EXPECT_EQ(presence.loaded(), -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, AFailedSetIsShownUntilASetSucceedsOrTheProgramIsGone) {
  RunWatched();
  Check();
  EXPECT_FALSE(presence.activity_unseen());
  watching = Watching::kNothing;
  Check();
  EXPECT_TRUE(presence.activity_unseen());
  watching = Watching::kPart;  // a copy or a window thread not hooked
  Check();
  EXPECT_TRUE(presence.activity_unseen());
  watching = Watching::kAll;
  Check();
  EXPECT_FALSE(presence.activity_unseen());
  watching = Watching::kNothing;
  Check();
  processes.running.clear();
  Check();
  EXPECT_FALSE(presence.activity_unseen()) << "nothing to watch is not a failure to watch";
}

TEST_F(Presence, FailingStepsAreSkipped) {
  RunWatched();
  // A failed snapshot still scans what the list reports (here: nothing yet).
  processes.fail_list = true;
  Check();
  EXPECT_EQ(presence.loaded(), 0);

  // An entry whose path cannot be read is not found.
  processes.fail_list = false;
  processes.fail_path = true;
  Check();
  EXPECT_EQ(presence.loaded(), 0);

  // A tray failure does not keep the idle timer from being switched.
  processes.fail_path = false;
  tray.fail = true;
  Check();
  EXPECT_EQ(presence.loaded(), -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, WithoutACountTheCheckChangesNothing) {
  RunWatched();
  Check();
  processes.fail_count = true;
  processes.running.clear();
  Check();
  EXPECT_EQ(presence.loaded(), -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

}  // namespace
}  // namespace vardex::testing
