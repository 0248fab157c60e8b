// The presence check's state table and its failure handling.
#include <algorithm>

#include "window/form_fixture_test.h"

namespace vardex::testing {
namespace {

class Presence : public FormFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(Load()); }
  void Check() {
    log.clear();
    form->tmrAppCheck_Timer();
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
  EXPECT_EQ(form->state().bAppLoaded, -1);
  EXPECT_EQ(TrayPicture(), "picTimerOn");
  EXPECT_TRUE(tmrAppShotDown.Enabled());
  EXPECT_EQ(Calls("MonitoredAppPath " + std::string(kDesignPath)), 1) << "the path as typed, not upper-cased";
}

TEST_F(Presence, LoadedAndStillFoundOnlyHandsThePathOn) {
  RunWatched();
  Check();
  form->tmrAppShotDown_Timer();
  for (int i = 0; i < 23; ++i) form->tmrAppShotDown_Timer();
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
    EXPECT_EQ(form->state().bAppLoaded, 0);
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
    EXPECT_EQ(form->state().bAppLoaded, -1);
    EXPECT_TRUE(tmrAppShotDown.Enabled());
  }
}

TEST_F(Presence, TwoInstancesCountAsFoundAndNothingIsEnded) {
  RunWatched(2);
  Check();
  EXPECT_EQ(form->state().bAppLoaded, -1);
  EXPECT_TRUE(processes.killed.empty());
}

TEST_F(Presence, TheCountIsNeitherResetWhenFoundNorWhenGone) {
  RunWatched();
  Check();
  for (int i = 0; i < 5; ++i) form->tmrAppShotDown_Timer();
  processes.running.clear();
  Check();
  RunWatched();
  Check();
  EXPECT_EQ(form->state().iElapsedTime, 50);
}

TEST_F(Presence, LowerCaseReportedPathIsNotFound) {
  processes.running.push_back({"c:\\program files\\navision financials\\fin.exe", 7});
  Check();
  EXPECT_EQ(form->state().bAppLoaded, 0);
}

TEST_F(Presence, PathChangedToAProgramThatIsNotRunning) {
  RunWatched();
  Check();
  txtApplicationName.SetText("C:\\Other\\PROGRAM.EXE");
  Check();
  EXPECT_EQ(form->state().bAppLoaded, 0);
  EXPECT_FALSE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, AComponentThatCannotWatchDoesNotStopTheCheck) {
  hooks.fail_set = true;
  RunWatched();
  Check();
  EXPECT_EQ(form->state().bAppLoaded, -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, AFailedSetIsShownUntilASetSucceedsOrTheProgramIsGone) {
  RunWatched();
  Check();
  EXPECT_FALSE(form->state().bActivityUnseen);
  hooks.fail_set = true;
  Check();
  EXPECT_TRUE(form->state().bActivityUnseen);
  hooks.fail_set = false;
  Check();
  EXPECT_FALSE(form->state().bActivityUnseen);
  hooks.fail_set = true;
  Check();
  processes.running.clear();
  Check();
  EXPECT_FALSE(form->state().bActivityUnseen) << "nothing to watch is not a failure to watch";
}

TEST_F(Presence, FailingStepsAreSkipped) {
  RunWatched();
  // A failed snapshot still scans what the list reports (here: nothing yet).
  processes.fail_list = true;
  Check();
  EXPECT_EQ(form->state().bAppLoaded, 0);

  // An entry whose path cannot be read is not found.
  processes.fail_list = false;
  processes.fail_path = true;
  Check();
  EXPECT_EQ(form->state().bAppLoaded, 0);

  // A tray failure does not keep the idle timer from being switched.
  processes.fail_path = false;
  tray.fail = true;
  Check();
  EXPECT_EQ(form->state().bAppLoaded, -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

TEST_F(Presence, WithoutACountTheCheckChangesNothing) {
  RunWatched();
  Check();
  processes.fail_count = true;
  processes.running.clear();
  Check();
  EXPECT_EQ(form->state().bAppLoaded, -1);
  EXPECT_TRUE(tmrAppShotDown.Enabled());
}

}  // namespace
}  // namespace vardex::testing
