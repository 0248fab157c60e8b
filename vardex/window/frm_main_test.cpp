// Start-up, the commands and the window's trips to the notification area.
#include "window/form_fixture_test.h"

namespace vardex::testing {
namespace {

class Form : public FormFixture {
 protected:
  static constexpr char kStored[] = "45\r\nC:\\Apps\\Watched.exe\r\nunset entry\r\n";
  bool Logged(const std::string& call) const { return std::find(log.begin(), log.end(), call) != log.end(); }
};

TEST_F(Form, LoadRunsItsStepsInOrder) {
  storage.files[kIniPath] = kStored;
  ASSERT_TRUE(Load());
  const CallLog expected{"CreateHookComponent", std::string("Read ") + kIniPath, "SetTrayOwner 4660",
                         "TrayIcon picTimerOff"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(form->state().sSystemPath, "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(lblSystemPath.Caption(), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\Apps\\Watched.exe");
  EXPECT_EQ(tmrAppCheck.Interval(), 5000);
  EXPECT_EQ(tmrAppShotDown.Interval(), 10000);
  EXPECT_TRUE(tmrAppCheck.Enabled());
  EXPECT_TRUE(tmrAppShotDown.Enabled());
  EXPECT_EQ(tmrInputCheck.Interval(), 1000);
  EXPECT_TRUE(tmrInputCheck.Enabled());
  EXPECT_EQ(form->state().bAppLoaded, 0);
  EXPECT_TRUE(form->HasHookComponent());
  EXPECT_EQ(audits.events, (std::vector<std::string>{std::string("1000 I ") + kAuditUser +
                                                     "|C:\\Apps\\Watched.exe|45|settings file"}));
}

TEST_F(Form, LoadStopsAtOnceWithoutTheHookComponent) {
  hooks.unavailable = true;
  EXPECT_FALSE(Load());
  EXPECT_EQ(log, CallLog{"CreateHookComponent"});
  EXPECT_FALSE(tmrAppCheck.Enabled());
  EXPECT_FALSE(tmrAppShotDown.Enabled());
  EXPECT_FALSE(tmrInputCheck.Enabled());
  EXPECT_EQ(storage.writes, 0);
}

TEST_F(Form, RefusedTimerIntervalsFallBackToTheDesignTimeOnes) {
  tmrAppCheck.refuse = true;
  ASSERT_TRUE(Load());
  EXPECT_EQ(tmrAppCheck.Interval(), kAppCheckDesignInterval);
  EXPECT_TRUE(tmrAppCheck.Enabled());
}

TEST_F(Form, EmptySystemDirectoryGivesALoneBackslash) {
  system.system_directory.clear();
  ASSERT_TRUE(Load());
  EXPECT_EQ(form->state().sSystemPath, "\\");
  EXPECT_TRUE(Logged("Read \\vardex.ini"));
}

TEST_F(Form, ActivateGoesToTheNotificationArea) {
  ASSERT_TRUE(Load());
  log.clear();
  form->Form_Activate();
  EXPECT_EQ(log, (CallLog{"AddTrayIcon", "MinimizeToTray 4660"}));
}

TEST_F(Form, DoneWhileTheProgramRunsShowsTheEmptyDial) {
  ASSERT_TRUE(Load());
  RunWatched();
  form->tmrAppCheck_Timer();
  for (int i = 0; i < 30; ++i) IdleTick();
  log.clear();
  form->Command2_Click();
  EXPECT_EQ(log, (CallLog{"MinimizeToTray 4660", "AddTrayIcon", "TrayIcon picTimerOn",
                          std::string("Write ") + kIniPath}));
  EXPECT_EQ(form->state().iElapsedTime, 0);
  EXPECT_EQ(lblCompletionRatio.Caption(), "0");
  EXPECT_EQ(LblElapsedTime.Caption(), "300") << "left for the next tick";
}

TEST_F(Form, DoneWhileTheProgramIsAwayLeavesTheIcon) {
  ASSERT_TRUE(Load());
  form->csSysTray1_RestoreEvent();
  txtApplicationName.SetText(kDesignPath);
  form->tmrAppCheck_Timer();
  log.clear();
  form->Command2_Click();
  EXPECT_FALSE(std::any_of(log.begin(), log.end(), [](const std::string& c) { return c.rfind("TrayIcon", 0) == 0; }));
  EXPECT_EQ(storage.files[kIniPath], std::string("30\r\n") + kDesignPath + "\r\nunset entry\r\nunset entry\r\n");
}

// The presence check's new run and the path box's change both hand the count
// a fresh start; "&Done" keeps its own reset.
TEST_F(Form, ANewRunAndANewPathStartTheCountFromZero) {
  ASSERT_TRUE(Load());
  txtApplicationName.SetText(kDesignPath);
  RunWatched();
  form->tmrAppCheck_Timer();
  for (int i = 0; i < 8; ++i) IdleTick();
  processes.running.clear();
  form->tmrAppCheck_Timer();
  form->oMKHook_KeyEvent(65, 1);
  RunWatched();
  form->tmrAppCheck_Timer();
  EXPECT_EQ(form->state().iElapsedTime, 0);
  EXPECT_EQ(form->state().lLastKeyCode, 0);

  for (int i = 0; i < 8; ++i) IdleTick();
  form->oMKHook_MouseEvent(513, 1, 1);
  txtApplicationName.SetText("C:\\Apps\\Watched.exe");
  EXPECT_EQ(form->state().iElapsedTime, 0);
  EXPECT_EQ(form->state().lLastMouseEvent, 0);

  // A new limit too: retyped from 3 to 25 through "2", with the program
  // idle for 130 s, it ends nothing on the way.
  txtApplicationName.SetText(kDesignPath);
  form->tmrAppCheck_Timer();
  intAppShutDownTime.SetText("3");
  for (int i = 0; i < 13; ++i) IdleTick();
  ASSERT_EQ(form->state().iElapsedTime, 130);
  form->oMKHook_KeyEvent(65, 1);
  intAppShutDownTime.SetText("2");
  EXPECT_EQ(form->state().iElapsedTime, 0);
  EXPECT_EQ(form->state().lLastKeyCode, 0);
  IdleTick();
  intAppShutDownTime.SetText("25");
  EXPECT_TRUE(processes.killed.empty());
}

TEST_F(Form, FailedSaveIsReportedWithPathAndReason) {
  ASSERT_TRUE(Load());
  storage.files[kIniPath] = kStored;
  storage.fail_write = "Access is denied.";
  form->Command2_Click();
  EXPECT_EQ(system.errors, (std::vector<std::string>{std::string(kIniPath) + "|Access is denied."}));
  EXPECT_EQ(storage.files[kIniPath], kStored);
}

TEST_F(Form, RestoreReloadsAndEmptiesThePasswordBox) {
  storage.files.clear();
  ASSERT_TRUE(Load());  // no file: the defaults, nothing watched
  EXPECT_EQ(txtApplicationName.Text(), "");
  const std::string user = std::string(kAuditUser) + "|";
  EXPECT_EQ(audits.events, std::vector<std::string>{"1000 I " + user + "|30|default"});
  RunWatched();  // a program at the box's design-time path is no one's choice
  form->tmrAppCheck_Timer();
  EXPECT_EQ(form->state().bAppLoaded, 0);
  processes.running.clear();
  txtApplicationName.SetText(kDesignPath);
  txtPassword.SetText("half");
  log.clear();
  form->csSysTray1_RestoreEvent();
  EXPECT_EQ(log.front(), "RestoreFromTray 4660");
  EXPECT_EQ(log.at(1), std::string("Read ") + kIniPath);
  EXPECT_EQ(txtPassword.Text(), "");
  EXPECT_EQ(intAppShutDownTime.Text(), "30");
  EXPECT_EQ(txtApplicationName.Text(), "") << "still no file: still nothing watched";
  EXPECT_EQ(storage.writes, 0);

  // A limit of 2.5 minutes saved, the window restored: still 150 s.
  intAppShutDownTime.SetText("2.5");
  txtApplicationName.SetText(kDesignPath);
  form->Command2_Click();
  form->csSysTray1_RestoreEvent();
  form->Command2_Click();  // saved again, unchanged
  EXPECT_EQ(audits.events.back(), "1008 I " + user + kDesignPath + "|2.5|settings file");
  EXPECT_EQ(audits.events.size(), 2u) << "a save that changes nothing is no change";
  EXPECT_EQ(intAppShutDownTime.Text(), "2.5");
  RunWatched();
  form->tmrAppCheck_Timer();
  for (int i = 0; i < 15; ++i) IdleTick();
  EXPECT_EQ(LblElapsedTime.Caption(), "150");
  EXPECT_TRUE(processes.killed.empty());
  IdleTick();
  EXPECT_TRUE(form->state().bClosing) << "past 150 s the program is asked to close";
}

TEST_F(Form, IconEventAddsTheIconAgain) {
  form->csSysTray1_IconEvent();
  EXPECT_EQ(tray.icons_added, 1);
}

TEST_F(Form, BrowseTakesTheChosenFileAndIgnoresACancel) {
  form->cmdBrowse_Click();
  EXPECT_EQ(dialog.title, "Select file to monitor");
  EXPECT_EQ(dialog.filter, "All files (*.*)|*.*");
  EXPECT_EQ(txtApplicationName.Text(), kDesignPath);
  dialog.answer = "C:\\Tools\\App.exe";
  form->cmdBrowse_Click();
  EXPECT_EQ(txtApplicationName.Text(), "C:\\Tools\\App.exe");
}

TEST_F(Form, ShowTaskAsksEveryInstanceAndEndsThemAfterTheGracePeriod) {
  ASSERT_TRUE(Load());
  txtApplicationName.SetText(kDesignPath);
  RunWatched(3);
  processes.running.push_back({"C:\\WINDOWS\\NOTEPAD.EXE", 7});
  form->tmrAppCheck_Timer();
  form->Command1_Click();
  EXPECT_TRUE(Logged("AskToClose 100") && Logged("AskToClose 102"));
  EXPECT_FALSE(Logged("AskToClose 7"));
  EXPECT_TRUE(processes.killed.empty());
  EXPECT_TRUE(form->state().bClosing);
  // 102 closed and its identifier went to a new process of the same program.
  processes.running[2].created = 5;
  system.monotonic_ms += 30'000;
  form->tmrInputCheck_Timer();
  EXPECT_FALSE(form->state().bClosing);
  EXPECT_EQ(processes.killed, (std::vector<std::int32_t>{100, 101})) << "only the copies asked";
  EXPECT_EQ(TrayPicture(), "picTimerOff");
  EXPECT_EQ(form->state().bAppLoaded, 0) << "every copy ended: the run is over";
  EXPECT_FALSE(tmrAppShotDown.Enabled());
}

// Just after a new path: "Show Task" looks at the program before it asks,
// so that finding the copies asked, or a worker one of them started, is no
// start that calls the end off; nor is a key just before the click, nor the
// copy brought to the front just before it; a copy started from outside
// meanwhile is.
TEST_F(Form, ShowTaskJustAfterANewPathEndsUnlessACopyStarts) {
  ASSERT_TRUE(Load());
  const char* const paths[] = {"C:\\Apps\\One.exe", "C:\\Apps\\Two.exe", "C:\\Apps\\Three.exe",
                               "C:\\Apps\\Four.exe", "C:\\Apps\\Five.exe"};
  enum Meanwhile { kNothing, kWorker, kStartFromOutside, kKeyBefore, kFrontBefore };
  for (const Meanwhile meanwhile : {kNothing, kWorker, kStartFromOutside, kKeyBefore, kFrontBefore}) {
    const std::string path = paths[meanwhile];
    processes.running.clear();
    processes.parents.clear();
    processes.killed.clear();
    txtApplicationName.SetText(path);
    // Identifiers come again each round: the creation times tell the copies apart.
    const auto run = [&] {
      RunWatched(1, path);
      processes.running.back().created = 1'000 * (meanwhile + 1) + static_cast<std::int64_t>(processes.running.size());
    };
    run();
    if (meanwhile == kKeyBefore) form->oMKHook_KeyEvent(65, 1);
    if (meanwhile == kFrontBefore) {
      form->tmrAppCheck_Timer();
      const FakeProcess& copy = processes.running[0];
      input.sample.front_changes = {{{}, {copy.id, copy.created, 1}, true}};
    }
    form->Command1_Click();
    EXPECT_EQ(form->state().bAppLoaded, -1) << "looked at before it is asked";
    if (meanwhile == kWorker || meanwhile == kStartFromOutside) run();
    if (meanwhile == kWorker) processes.parents[processes.running[1].id] = processes.running[0].id;
    form->tmrAppCheck_Timer();
    system.monotonic_ms += 30'000;
    form->tmrInputCheck_Timer();
    EXPECT_EQ(processes.killed.empty(), meanwhile == kStartFromOutside) << path;
  }
}

TEST_F(Form, ShowTaskWithNothingRunningChangesNothing) {
  ASSERT_TRUE(Load());
  const Picture* shown = tray.icon;
  form->Command1_Click();
  EXPECT_TRUE(processes.killed.empty());
  EXPECT_EQ(tray.icon, shown);
}

TEST_F(Form, ShowTaskWithAShortPathEndsNothing) {
  ASSERT_TRUE(Load());
  processes.running = {{"C:\\A.EXE", 1}, {"C:\\WINDOWS\\EXPLORER.EXE", 2}};
  for (const char* path : {"", "C:\\", "C:\\A.EX"}) {
    txtApplicationName.SetText(path);
    form->Command1_Click();
  }
  EXPECT_TRUE(processes.killed.empty());
  EXPECT_EQ(processes.snapshots, 0);
}

// A policy that arrives while Vardex runs: the field shows it at once, the
// save keeps the file's own value, and a change of the closing alone leaves
// the window (and what the user typed) as it is; its removal brings the
// file's value back.
TEST_F(Form, APolicyChangeTakesEffectAtOnceAndItsRemovalBringsTheFileBack) {
  storage.files[kIniPath] = kStored;
  ASSERT_TRUE(Load());
  Policy policy;
  policy.limit_minutes = 10;
  form->SetPolicy(policy);
  EXPECT_EQ(intAppShutDownTime.Text(), "10");
  EXPECT_EQ(audits.events.back(), std::string("1008 I ") + kAuditUser + "|C:\\Apps\\Watched.exe|10|policy");
  EXPECT_FALSE(intAppShutDownTime.Enabled());
  EXPECT_TRUE(txtApplicationName.Enabled());
  EXPECT_EQ(lblPolicy.Caption(), kSetByAdministrator);

  txtApplicationName.SetText("C:\\Apps\\Typed.exe");
  const auto reads = [&] {
    return std::count_if(log.begin(), log.end(), [](const std::string& call) { return call.rfind("Read ", 0) == 0; });
  };
  const auto reads_before = reads();
  policy.closing.warning_seconds = 10;
  form->SetPolicy(policy);
  EXPECT_EQ(reads(), reads_before) << "the file is read again only for a field";
  EXPECT_EQ(txtApplicationName.Text(), "C:\\Apps\\Typed.exe");

  form->Command2_Click();
  EXPECT_EQ(storage.files[kIniPath], "45\r\nC:\\Apps\\Typed.exe\r\nunset entry\r\nunset entry\r\n");
  form->SetPolicy({});
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  EXPECT_TRUE(intAppShutDownTime.Enabled());
  EXPECT_EQ(lblPolicy.Caption(), "");
}

}  // namespace
}  // namespace vardex::testing
