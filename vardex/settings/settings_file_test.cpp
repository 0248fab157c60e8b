// The settings file: reading it into the window, the default file, the save
// and its password rule, as the bytes in the file show them.
#include "settings/settings_file.h"

#include <map>
#include <optional>

#include "settings/policy.h"

#include "settings/settings_fixture_test.h"

namespace vardex::testing {
namespace {

class SettingsFile : public SettingsFixture {
 protected:
  void PutFile(const std::string& bytes) { storage.files[kIniPath] = bytes; }
  std::string File() const {
    const auto it = storage.files.find(kIniPath);
    return it == storage.files.end() ? std::string("<missing>") : it->second;
  }
  bool Locked() const { return !intAppShutDownTime.Enabled() && !txtApplicationName.Enabled() && !cmdBrowse.Enabled(); }
  bool Unlocked() const { return intAppShutDownTime.Enabled() && txtApplicationName.Enabled() && cmdBrowse.Enabled(); }
  // "&Done" with `typed` in the password box; returns the file written.
  std::string SaveWith(const std::string& typed) {
    txtPassword.SetText(typed);
    settings->Save();
    return File();
  }
};

// A standard user's write would make a VirtualStore copy that shadows the
// administrator's file from then on: the first start writes nothing.
TEST_F(SettingsFile, FirstStartKeepsTheDefaultsInMemoryAndWritesNothing) {
  intAppShutDownTime.SetText("45");  // a value that differs from the default
  Load();
  EXPECT_EQ(File(), "<missing>");
  EXPECT_EQ(storage.writes, 0);
  EXPECT_EQ(intAppShutDownTime.Text(), "30");
  EXPECT_EQ(txtApplicationName.Text(), "");
  EXPECT_EQ(lock.password(), "unset entry");
  EXPECT_TRUE(Unlocked());
  EXPECT_TRUE(system.errors.empty());
}

TEST_F(SettingsFile, TheFileLivesInTheSystemDirectory) {
  Load();
  EXPECT_EQ(settings->system_path(), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(lblSystemPath.Caption(), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(log, CallLog{std::string("Read ") + kIniPath});
  system.system_directory = "";
  Load();
  EXPECT_EQ(settings->system_path(), "\\");
  EXPECT_EQ(log.back(), "Read \\vardex.ini") << "without a system directory, the root of the drive";
}

// The path box starts with the design-time text. Whatever a read meets, that
// text is never left there to be watched (nor saved by the next "&Done").
TEST_F(SettingsFile, NoReadLeavesTheDesignTimePathInTheBox) {
  struct Case {
    const char* what;
    std::optional<std::string> bytes;  // none: missing
    bool fail;
  };
  const Case cases[] = {{"missing", std::nullopt, false}, {"failed", "45\r\nC:\\A\\B.EXE\r\n", true},
                        {"empty", "", false},              {"line 1 only", "45\r\n", false},
                        {"bad line 1", "thirty\r\nC:\\A\\B.EXE\r\n", false},
                        {"line 1 too large", "40000\r\nC:\\A\\B.EXE\r\n", false},
                        {"a mark and nothing", "\xEF\xBB\xBF", false}};
  for (const auto& c : cases) {
    txtApplicationName.SetText(kDesignPath);
    storage.files.erase(kIniPath);
    if (c.bytes) PutFile(*c.bytes);
    storage.fail_read = c.fail;
    Load();
    EXPECT_EQ(txtApplicationName.Text(), "") << c.what;
  }
  EXPECT_EQ(storage.writes, 0);
}

// A fraction the field holds is shown as the save wrote it, so that the
// limit in force survives the load; any other number is rounded and bounded.
TEST_F(SettingsFile, LineOneIsTheFractionSavedOrRoundedToAWholeNumberAndBounded) {
  const std::pair<const char*, const char*> cases[] = {
      {" 45 ", "45"}, {"12.5", "12.5"}, {"1.25", "1.25"}, {"89.9", "89.9"}, {"-0.5", "1"}, {"0.5", "1"},
      {"0", "1"},     {"500", "90"},    {"90.5", "90"},   {"90", "90"},     {"+7", "7"},   {"32767", "90"},
      // Another user's separator, and Notepad's "UTF-8 with BOM".
      {"12,5", "12.5"}, {"1,5e1", "15"}, {"\xEF\xBB\xBF" "45", "45"}, {"\xEF\xBB\xBF" "2,5", "2.5"}};
  Load();
  for (const auto& [line, shown] : cases) {
    intAppShutDownTime.SetText("30");
    PutFile(std::string(line) + "\r\nC:\\A\\B.EXE\r\nunset entry\r\n");
    settings->Load();
    EXPECT_EQ(intAppShutDownTime.Text(), shown) << "line 1: " << line;
    EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE") << "line 1: " << line;
  }
}

TEST_F(SettingsFile, ABadFirstLineStopsTheReadKeepsTheLimitAndLockAndWatchesNothing) {
  PutFile("45\r\nC:\\OLD\\APP.EXE\r\nunset entry\r\n");
  Load();
  ASSERT_EQ(lock.password(), "unset entry");

  for (const char* line : {"40000", "-32769", "32767.5", "thirty", "", "4 5", "0x10", "1,5.5", "\xEF\xBB" "45",
                           "\xEF\xBB\xBF\xEF\xBB\xBF" "45"}) {
    PutFile(std::string(line) + "\r\nC:\\NEW\\APP.EXE\r\nsecret\r\n");
    txtApplicationName.SetText("C:\\OLD\\APP.EXE");
    settings->Load();
    EXPECT_EQ(intAppShutDownTime.Text(), "45") << "line 1: " << line;
    EXPECT_EQ(txtApplicationName.Text(), "") << "line 1: " << line;
    EXPECT_EQ(lock.password(), "unset entry") << "line 1: " << line;
    EXPECT_TRUE(Unlocked()) << "line 1: " << line;
  }
  EXPECT_EQ(storage.writes, 0) << "a malformed file is never rewritten";
}

TEST_F(SettingsFile, AShortFileKeepsWhatWasReadBeforeItEnds) {
  Load();  // no file: the defaults
  PutFile("45\r\n");
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  EXPECT_EQ(txtApplicationName.Text(), "");

  PutFile("50\r\nC:\\A\\B.EXE\r\n");
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "50");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE");
  EXPECT_EQ(lock.password(), "unset entry") << "line 3 was never read";
  EXPECT_TRUE(Unlocked()) << "no lock test without line 3";

  PutFile("");
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "50");
  EXPECT_EQ(storage.files[kIniPath], "") << "an empty file is not the missing file";
}

TEST_F(SettingsFile, AFailedReadWatchesNothingAndWritesNothing) {
  PutFile("45\r\nC:\\A\\B.EXE\r\nsecret\r\n");
  storage.fail_read = true;
  Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "30");
  EXPECT_EQ(txtApplicationName.Text(), "");
  EXPECT_EQ(lock.password(), "unset entry");
  EXPECT_TRUE(Unlocked());
  EXPECT_EQ(storage.writes, 0);
  EXPECT_TRUE(system.errors.empty()) << "reading fails silently";
}

TEST_F(SettingsFile, LineThreeLocksUnlessItIsExactlyTheSentinel) {
  Load();
  for (const char* line : {"secret", "", "Unset Entry", "UNSET ENTRY", "unset entry ", " unset entry"}) {
    intAppShutDownTime.SetEnabled(true);
    txtApplicationName.SetEnabled(true);
    cmdBrowse.SetEnabled(true);
    PutFile(std::string("45\r\nC:\\A\\B.EXE\r\n") + line + "\r\n");
    settings->Load();
    EXPECT_EQ(lock.password(), line);
    EXPECT_TRUE(Locked()) << "line 3: '" << line << "'";
  }
}

TEST_F(SettingsFile, TheSentinelNeitherLocksNorUnlocks) {
  PutFile("45\r\nC:\\A\\B.EXE\r\nunset entry\r\n");
  Load();
  EXPECT_TRUE(Unlocked());

  intAppShutDownTime.SetEnabled(false);
  txtApplicationName.SetEnabled(false);
  cmdBrowse.SetEnabled(false);
  settings->Load();
  EXPECT_TRUE(Locked()) << "loading never enables a control";
}

TEST_F(SettingsFile, LinesAfterTheThirdAndLineEndsDoNotMatter) {
  const char* files[] = {
      "45\r\nC:\\A\\B.EXE\r\npw\r\n",
      "45\r\nC:\\A\\B.EXE\r\npw\r\nold\r\n",
      "45\r\nC:\\A\\B.EXE\r\npw\r\nold\r\nmore\r\n\r\n",
      "45\nC:\\A\\B.EXE\npw\n",
      "45\r\nC:\\A\\B.EXE\npw",
      "45\r\nC:\\A\\B.EXE\r\npw",
  };
  Load();
  for (const char* bytes : files) {
    intAppShutDownTime.SetText("30");
    txtApplicationName.SetText(kDesignPath);
    PutFile(bytes);
    settings->Load();
    EXPECT_EQ(intAppShutDownTime.Text(), "45") << bytes;
    EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE") << bytes;
    EXPECT_EQ(lock.password(), "pw") << bytes;
  }
}

TEST_F(SettingsFile, ALoneCarriageReturnIsPartOfTheLine) {
  PutFile("45\r\nC:\\A\rB.EXE\r\npw\r\r\n");
  Load();
  EXPECT_EQ(txtApplicationName.Text(), "C:\\A\rB.EXE");
  EXPECT_EQ(lock.password(), "pw\r");
}

TEST_F(SettingsFile, SplittingAndJoining) {
  EXPECT_EQ(SplitSettingsLines(""), std::vector<std::string>{});
  EXPECT_EQ(SplitSettingsLines("\r\n"), std::vector<std::string>{""});
  EXPECT_EQ(SplitSettingsLines("a\r\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitSettingsLines(std::string("a\0b\r\n", 5)), std::vector<std::string>{std::string("a\0b", 3)});
  EXPECT_EQ(JoinSettingsLines({"30", "", "unset entry"}), "30\r\n\r\nunset entry\r\n");
  EXPECT_EQ(JoinSettingsLines(DefaultSettingsLines()), "30\r\n\r\nunset entry\r\n");
}

// Every row of the password rule, with S the stored password and T the box.
class PasswordRule : public SettingsFile {
 protected:
  void LoadStored(const std::string& stored) {
    PutFile("45\r\nC:\\A\\B.EXE\r\n" + stored + "\r\n");
    Load();
    ASSERT_EQ(lock.password(), stored);
  }
  void Unlock(const std::string& stored) {
    txtPassword.SetText(stored);
    ASSERT_TRUE(Unlocked());
  }
};

TEST_F(PasswordRule, AnEmptyBoxWritesTheStoredPasswordTwice) {
  LoadStored("secret");
  EXPECT_EQ(SaveWith(""), "45\r\nC:\\A\\B.EXE\r\nsecret\r\nsecret\r\n");
  Unlock("secret");
  EXPECT_EQ(SaveWith(""), "45\r\nC:\\A\\B.EXE\r\nsecret\r\nsecret\r\n");
}

TEST_F(PasswordRule, AnEmptyBoxWithNoPasswordWritesTheSentinelTwice) {
  LoadStored("unset entry");
  EXPECT_EQ(SaveWith(""), "45\r\nC:\\A\\B.EXE\r\nunset entry\r\nunset entry\r\n");
}

TEST_F(PasswordRule, ANewPasswordIsSetOnlyWhileNoneIsStored) {
  LoadStored("unset entry");
  EXPECT_EQ(SaveWith("new one"), "45\r\nC:\\A\\B.EXE\r\nnew one\r\nunset entry\r\n");
  EXPECT_EQ(lock.password(), "unset entry") << "the save never changes the stored password";
  EXPECT_TRUE(Unlocked()) << "the lock comes with the next read";

  settings->Load();
  EXPECT_EQ(lock.password(), "new one");
  EXPECT_TRUE(Locked());
}

TEST_F(PasswordRule, AnotherTextNeverReplacesAStoredPassword) {
  LoadStored("secret");
  EXPECT_EQ(SaveWith("other"), "45\r\nC:\\A\\B.EXE\r\nsecret\r\n") << "locked screen";
  Unlock("secret");
  EXPECT_EQ(SaveWith("other"), "45\r\nC:\\A\\B.EXE\r\nsecret\r\n") << "unlocked screen";
}

TEST_F(PasswordRule, TheSentinelRemovesThePasswordOnlyFromAnUnlockedScreen) {
  LoadStored("secret");
  EXPECT_EQ(SaveWith("unset entry"), "45\r\nC:\\A\\B.EXE\r\nsecret\r\n") << "locked screen";
  EXPECT_TRUE(Locked());

  Unlock("secret");
  EXPECT_EQ(SaveWith("unset entry"), "45\r\nC:\\A\\B.EXE\r\nunset entry\r\n");
  settings->Load();
  EXPECT_EQ(lock.password(), "unset entry");
}

TEST_F(PasswordRule, TheEmptyPasswordIsKeptLikeAnyOther) {
  LoadStored("");
  EXPECT_TRUE(Locked());
  EXPECT_EQ(SaveWith(""), "45\r\nC:\\A\\B.EXE\r\n\r\n\r\n");
  EXPECT_EQ(SaveWith("other"), "45\r\nC:\\A\\B.EXE\r\n\r\n");
}

TEST_F(PasswordRule, FieldAndPathAreWrittenAsTheyStand) {
  LoadStored("unset entry");
  intAppShutDownTime.SetText("2.5");
  txtApplicationName.SetText("");
  EXPECT_EQ(SaveWith(""), "2.5\r\n\r\nunset entry\r\nunset entry\r\n");
}

// A limit being retyped is saved as the field's last number, which the field
// then shows. (An empty line 1 stopped the next load before the path and the
// password, and the save after that lost both.)
TEST_F(PasswordRule, ALimitThatIsNoNumberIsSavedAsTheLastOneAndThePathAndLockSurvive) {
  LoadStored("secret");
  Unlock("secret");
  intAppShutDownTime.SetText("");
  EXPECT_EQ(SaveWith(""), "45\r\nC:\\A\\B.EXE\r\nsecret\r\nsecret\r\n");
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  txtApplicationName.SetText(kDesignPath);
  settings->Load();
  EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE");
  EXPECT_EQ(lock.password(), "secret");
  EXPECT_TRUE(Locked());

  // Letters after a number with the user's separator: that number, so,
  // written with '.', which every user reads.
  system.decimal_separator = ',';
  Unlock("secret");
  intAppShutDownTime.SetText("2,5");
  intAppShutDownTime.SetText("2,5x");
  EXPECT_EQ(SaveWith(""), "2.5\r\nC:\\A\\B.EXE\r\nsecret\r\nsecret\r\n");
  EXPECT_EQ(intAppShutDownTime.Text(), "2,5");
  intAppShutDownTime.SetText("7");
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "2,5") << "what is saved is what is loaded";

  // Another user, whose separator is '.': the limit, the path and the lock.
  system.decimal_separator = '.';
  txtApplicationName.SetText(kDesignPath);
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "2.5");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE");
  EXPECT_TRUE(Locked());
  // The same from a file an earlier version wrote with ','.
  PutFile("2,5\r\nC:\\A\\B.EXE\r\nsecret\r\n");
  txtApplicationName.SetText(kDesignPath);
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "2.5");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\A\\B.EXE");
  EXPECT_EQ(lock.password(), "secret");
}

TEST_F(PasswordRule, AFailedSaveIsReportedAndChangesNothing) {
  LoadStored("secret");
  const std::string before = File();
  storage.fail_write = "There is not enough space on the disk.";
  Unlock("secret");
  SaveWith("unset entry");
  ASSERT_EQ(system.errors.size(), 1u);
  EXPECT_EQ(system.errors[0], std::string(kIniPath) + "|There is not enough space on the disk.");
  EXPECT_EQ(File(), before);
  EXPECT_EQ(lock.password(), "secret");
}

// Administrators' values: an absent, mistyped or out-of-range one keeps its
// default, so that a slip in a policy never switches the rule off.
TEST(Policy, WorkValuesInRangeAreTakenAndOthersKeepTheirDefaults) {
  FakePolicySource values;
  const WorkPolicy defaults = ReadPolicy(values).work;
  EXPECT_TRUE(defaults.counts);
  EXPECT_EQ(defaults.cpu_per_mille, 100);
  EXPECT_EQ(defaults.io_bytes_per_second, 1 << 20);
  EXPECT_EQ(defaults.hold_minutes, 0) << "no bound";

  values.values = {{policy::kWorkCountsAsUse, 0u}, {policy::kWorkCpuPerMille, 250u},
                   {policy::kWorkIoKibPerSecond, 0u}, {policy::kWorkHoldMinutes, 480u}};
  WorkPolicy set = ReadPolicy(values).work;
  EXPECT_FALSE(set.counts);
  EXPECT_EQ(set.cpu_per_mille, 250);
  EXPECT_EQ(set.io_bytes_per_second, 0);
  EXPECT_EQ(set.hold_minutes, 480);

  values.values = {{policy::kWorkCountsAsUse, 7u}, {policy::kWorkCpuPerMille, 0u},
                   {policy::kWorkIoKibPerSecond, 4194305u}, {policy::kWorkHoldMinutes, 0xFFFFFFFF}};
  set = ReadPolicy(values).work;
  EXPECT_TRUE(set.counts);
  EXPECT_EQ(set.cpu_per_mille, 100) << "a threshold of nothing would keep every program";
  EXPECT_EQ(set.io_bytes_per_second, 1 << 20);
  EXPECT_EQ(set.hold_minutes, 0);
}

// Each value of the settings screen and the closing, alone in the key: taken
// when valid, else ignored with its reason and the default kept.
TEST(Policy, EachValueIsTakenWhenValidAndOtherwiseIgnoredWithItsReason) {
  const auto limit = [](const Policy& p) { return p.limit_minutes ? std::to_string(*p.limit_minutes) : "-"; };
  const auto path = [](const Policy& p) { return p.program_path.value_or("-"); };
  const auto locked = [](const Policy& p) { return std::to_string(p.locked); };
  const auto warning = [](const Policy& p) { return std::to_string(p.closing.warning_seconds); };
  const auto grace = [](const Policy& p) { return std::to_string(p.closing.grace_seconds); };
  const auto dry = [](const Policy& p) { return std::to_string(p.closing.dry_run); };
  const auto names = [](const Policy& p) { return std::to_string(p.names_users); };
  const auto reopen = [](const Policy& p) { return std::to_string(p.reopen_minutes); };
  struct Row {
    const char* name;
    std::optional<PolicyValue> value;
    std::string (*field)(const Policy&);
    std::string expected;  // the field read
    const char* ignored;   // the reason given, "" when none is
  };
  const Row rows[] = {
      {policy::kLimitMinutes, std::nullopt, +limit, "-", ""},
      {policy::kLimitMinutes, PolicyValue(1u), +limit, "1", ""},
      {policy::kLimitMinutes, PolicyValue(90u), +limit, "90", ""},
      {policy::kLimitMinutes, PolicyValue(0u), +limit, "-", "IdleLimitMinutes: 0 is outside 1 to 90"},
      {policy::kLimitMinutes, PolicyValue(91u), +limit, "-", "IdleLimitMinutes: 91 is outside 1 to 90"},
      {policy::kLimitMinutes, PolicyValue(std::string("45")), +limit, "-", "IdleLimitMinutes: not a DWORD"},
      {policy::kProgramPath, PolicyValue(std::string("C:\\Apps\\FIN.EXE")), +path, "C:\\Apps\\FIN.EXE", ""},
      {policy::kProgramPath, PolicyValue(std::string("C:\\A.EX")), +path, "-",
       "ProgramPath: The program's path \"C:\\A.EX\" has 7 characters or fewer; Vardex would watch nothing."},
      {policy::kProgramPath, PolicyValue(std::string("C:\\Apps\r\nFIN.EXE")), +path, "-",
       "ProgramPath: The program's path holds a line end."},
      {policy::kProgramPath, PolicyValue(5u), +path, "-", "ProgramPath: not a string"},
      {policy::kLockSettings, PolicyValue(1u), +locked, "1", ""},
      {policy::kLockSettings, PolicyValue(0u), +locked, "0", ""},
      {policy::kLockSettings, PolicyValue(2u), +locked, "0", "LockSettings: 2 is outside 0 to 1"},
      {policy::kLockSettings, PolicyValue(std::string("1")), +locked, "0", "LockSettings: not a DWORD"},
      {policy::kWarningSeconds, std::nullopt, +warning, "60", ""},
      {policy::kWarningSeconds, PolicyValue(0u), +warning, "0", ""},
      {policy::kWarningSeconds, PolicyValue(3600u), +warning, "3600", ""},
      {policy::kWarningSeconds, PolicyValue(3601u), +warning, "60", "WarningSeconds: 3601 is outside 0 to 3600"},
      {policy::kWarningSeconds, PolicyValue(), +warning, "60", "WarningSeconds: not a DWORD"},
      {policy::kGraceSeconds, std::nullopt, +grace, "30", ""},
      {policy::kGraceSeconds, PolicyValue(0u), +grace, "0", ""},
      {policy::kGraceSeconds, PolicyValue(120u), +grace, "120", ""},
      {policy::kGraceSeconds, PolicyValue(0xFFFFFFFFu), +grace, "30",
       "GracePeriodSeconds: 4294967295 is outside 0 to 3600"},
      {policy::kDryRun, std::nullopt, +dry, "0", ""},
      {policy::kDryRun, PolicyValue(1u), +dry, "1", ""},
      // A slip never stops the ends, nor names no one.
      {policy::kDryRun, PolicyValue(2u), +dry, "0", "DryRun: 2 is outside 0 to 1"},
      {policy::kAuditNamesUsers, std::nullopt, +names, "1", ""},
      {policy::kAuditNamesUsers, PolicyValue(0u), +names, "0", ""},
      {policy::kAuditNamesUsers, PolicyValue(2u), +names, "1", "AuditNamesUsers: 2 is outside 0 to 1"},
      {policy::kReopenOfferMinutes, std::nullopt, +reopen, "60", ""},
      {policy::kReopenOfferMinutes, PolicyValue(0u), +reopen, "0", ""},
      {policy::kReopenOfferMinutes, PolicyValue(1441u), +reopen, "60", "ReopenOfferMinutes: 1441 is outside 0 to 1440"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " row " + std::to_string(&row - rows));
    FakePolicySource source;
    if (row.value) source.values[row.name] = *row.value;
    const Policy read = ReadPolicy(source);
    EXPECT_EQ(row.field(read), row.expected);
    const bool taken = row.value && !*row.ignored;
    EXPECT_EQ(read.Takes(row.name), taken);
    EXPECT_EQ(read.ignored, *row.ignored ? std::vector<std::string>{row.ignored} : std::vector<std::string>{});
  }
}

// A field a policy sets shows the policy's value, disabled whatever the
// password, with the label beside it; the save keeps the user's own line,
// which the next load shows once the policy is gone.
TEST_F(PasswordRule, APolicySetFieldIsShownDisabledAndTheFileKeepsTheUsersOwnValue) {
  PutFile("12,5\r\nC:\\MINE\\OWN.EXE\r\nunset entry\r\n");
  Policy policy;
  policy.limit_minutes = 45;
  policy.program_path = "C:\\Apps\\FIN.EXE";
  settings->SetPolicy(policy);
  lock.SetPolicy(policy);
  Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\Apps\\FIN.EXE");
  EXPECT_TRUE(Locked());
  EXPECT_TRUE(txtPassword.Enabled());
  EXPECT_EQ(lblPolicy.Caption(), kSetByAdministrator);

  EXPECT_EQ(SaveWith("secret"), "12,5\r\nC:\\MINE\\OWN.EXE\r\nsecret\r\nunset entry\r\n");
  settings->Load();
  txtPassword.SetText("");
  txtPassword.SetText("secret");
  EXPECT_TRUE(lock.Unlocked());
  EXPECT_TRUE(Locked()) << "the password opens no field a policy sets";

  // Only the limit: the path follows the password again.
  policy.program_path.reset();
  settings->SetPolicy(policy);
  lock.SetPolicy(policy);
  settings->Load();
  EXPECT_EQ(txtApplicationName.Text(), "C:\\MINE\\OWN.EXE");
  EXPECT_FALSE(txtApplicationName.Enabled()) << "the file's password locks again";
  txtPassword.SetText("secret");
  EXPECT_TRUE(txtApplicationName.Enabled());
  EXPECT_TRUE(cmdBrowse.Enabled());
  EXPECT_FALSE(intAppShutDownTime.Enabled());
  txtApplicationName.SetText("C:\\MINE\\NEW.EXE");
  EXPECT_EQ(SaveWith(""), "12,5\r\nC:\\MINE\\NEW.EXE\r\nsecret\r\nsecret\r\n");

  // The lock policy: every field and the password box, password or none.
  settings->SetPolicy({});
  lock.SetPolicy({});
  EXPECT_EQ(lblPolicy.Caption(), "");
  Policy lock_only;
  lock_only.locked = true;
  lock.SetPolicy(lock_only);
  EXPECT_TRUE(Locked());
  EXPECT_FALSE(txtPassword.Enabled());
  EXPECT_EQ(lblPolicy.Caption(), kSetByAdministrator);

  // No file at all: a policy-set line is saved as the default.
  storage.files.clear();
  lock.SetPolicy({});
  settings->SetPolicy(policy);
  settings->Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "45");
  EXPECT_EQ(SaveWith(""), "30\r\n\r\nunset entry\r\nunset entry\r\n");
}

}  // namespace
}  // namespace vardex::testing
