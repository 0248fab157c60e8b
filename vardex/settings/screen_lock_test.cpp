// The screen lock: a stored password disables the idle limit, the path and
// "&Browse..."; the password box unlocks them when its whole text matches.
#include "settings/settings_fixture_test.h"

namespace vardex::testing {
namespace {

class ScreenLock : public SettingsFixture {
 protected:
  void LoadStored(const std::string& stored) {
    storage.files[kIniPath] = "45\r\nC:\\A\\B.EXE\r\n" + stored + "\r\n";
    Load();
    ASSERT_EQ(lock.password(), stored);
  }
  bool Locked() const { return !intAppShutDownTime.Enabled() && !txtApplicationName.Enabled() && !cmdBrowse.Enabled(); }
  bool Unlocked() const { return intAppShutDownTime.Enabled() && txtApplicationName.Enabled() && cmdBrowse.Enabled(); }
  // Types `text` one character at a time after what the box holds.
  void Type(const std::string& text) {
    for (char ch : text) txtPassword.SetText(txtPassword.Text() + ch);
  }
};

TEST_F(ScreenLock, UnlocksAtTheKeystrokeThatCompletesThePassword) {
  LoadStored("Secret");
  ASSERT_TRUE(Locked());
  Type("Secre");
  EXPECT_TRUE(Locked());
  EXPECT_EQ(txtPassword.Text(), "Secre");
  Type("t");
  EXPECT_TRUE(Unlocked());
  EXPECT_EQ(txtPassword.Text(), "") << "the box is emptied at once";
  EXPECT_EQ(lock.password(), "Secret");
}

TEST_F(ScreenLock, OnlyTheWholeExactTextUnlocks) {
  LoadStored("Secret");
  Type("secret");
  EXPECT_TRUE(Locked()) << "a wrong capital";
  txtPassword.SetText("Secret and more");
  EXPECT_TRUE(Locked()) << "a pasted text that only begins with the password";
  txtPassword.SetText(" Secret");
  EXPECT_TRUE(Locked());
  txtPassword.SetText("unset entry");
  EXPECT_TRUE(Locked()) << "the sentinel is no master key";
  txtPassword.SetText("Secret");
  EXPECT_TRUE(Unlocked());
}

TEST_F(ScreenLock, AnEmptyStoredPasswordUnlocksWhenTheBoxBecomesEmpty) {
  LoadStored("");
  ASSERT_TRUE(Locked());
  Type("x");
  EXPECT_TRUE(Locked());
  txtPassword.SetText("");
  EXPECT_TRUE(Unlocked());
}

TEST_F(ScreenLock, WithNoPasswordStoredTypingTheSentinelEmptiesTheBox) {
  LoadStored("unset entry");
  ASSERT_TRUE(Unlocked());
  Type("unset entry");
  EXPECT_EQ(txtPassword.Text(), "");
  EXPECT_TRUE(Unlocked());
}

// The restore reads the file again (the form empties the box then).
TEST_F(ScreenLock, EveryReadLocksAgain) {
  LoadStored("Secret");
  Type("Secret");
  ASSERT_TRUE(Unlocked());
  Type("Sec");
  settings->Load();
  EXPECT_TRUE(Locked());
}

TEST_F(ScreenLock, DoneOnALockedScreenKeepsPasswordAndLock) {
  LoadStored("Secret");
  settings->Save();
  EXPECT_TRUE(Locked());
  EXPECT_EQ(storage.files[kIniPath], "45\r\nC:\\A\\B.EXE\r\nSecret\r\nSecret\r\n");
  settings->Load();
  EXPECT_TRUE(Locked());
}

TEST_F(ScreenLock, LeavesThePasswordBoxAndTheOtherControlsAlone) {
  LoadStored("Secret");
  EXPECT_TRUE(txtPassword.Enabled());
  EXPECT_TRUE(intAppUseTime.Enabled());
  EXPECT_TRUE(intAppCheckTime.Enabled());
}

}  // namespace
}  // namespace vardex::testing
