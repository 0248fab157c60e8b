#include "admin/settings_tool.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "settings/settings_fixture_test.h"

namespace vardex {
namespace {

constexpr char kShared[] = "C:\\Windows\\SysWOW64";

class FakeProfiles final : public ProfileFolders {
 public:
  std::vector<std::string> profiles;
  std::set<std::string> files;
  std::set<std::string> programs{"C:\\Apps\\cad.exe", "C:\\ab.exe", "C:\\a.exe"};
  std::set<std::string> links;  // folders a user made junctions: they may lead anywhere
  std::string refuse;            // non-empty: Remove fails with this reason

  std::vector<std::string> Profiles() override { return profiles; }
  bool Exists(const std::string& path) override { return files.count(path) != 0 || programs.count(path) != 0; }
  CopyRemoval Remove(const std::string& profile, const std::string& path) override {
    if (path.rfind(profile + "\\", 0) != 0) return {CopyRemoval::Outcome::kLink, {}};
    for (const auto& link : links)
      if (path.rfind(link + "\\", 0) == 0) return {CopyRemoval::Outcome::kLink, {}};
    if (!refuse.empty()) return {CopyRemoval::Outcome::kFailed, refuse};
    files.erase(path);
    return {CopyRemoval::Outcome::kRemoved, {}};
  }
};

// The tool over the settings room's fixture: what it writes, Vardex's own
// loader reads into the same fake window.
class SettingsTool : public testing::SettingsFixture {
 protected:
  int Run(const std::vector<std::string>& args) {
    out.str({});
    err.str({});
    SettingsToolContext context{storage, profiles, policies, kIniPath, kShared, out, err};
    return RunSettingsTool(args, context);
  }
  std::string File() { return storage.files.count(kIniPath) ? storage.files[kIniPath] : "(none)"; }
  bool Locked() const { return !intAppShutDownTime.Enabled() && !txtApplicationName.Enabled() && !cmdBrowse.Enabled(); }

  FakeProfiles profiles;
  testing::FakePolicySource policies;
  std::ostringstream out, err;
};

TEST_F(SettingsTool, SetWritesVardexsOwnBytesAndVardexReadsThem) {
  EXPECT_EQ(Run({"set", "05", "C:\\Apps\\cad.exe", "--password", "s3cret"}), kToolDone);
  EXPECT_EQ(File(), "5\r\nC:\\Apps\\cad.exe\r\ns3cret\r\nunset entry\r\n");
  Load();
  EXPECT_EQ(intAppShutDownTime.Text(), "5");
  EXPECT_EQ(txtApplicationName.Text(), "C:\\Apps\\cad.exe");
  EXPECT_TRUE(Locked());

  EXPECT_EQ(Run({"set", "90", "C:\\Apps\\cad.exe", "--no-lock"}), kToolDone);
  EXPECT_EQ(File(), "90\r\nC:\\Apps\\cad.exe\r\nunset entry\r\nunset entry\r\n");
  EXPECT_EQ(storage.writes, 2);
  EXPECT_NE(out.str().find("Written: C:\\Windows\\SysWOW64\\vardex.ini"), std::string::npos);
}

TEST_F(SettingsTool, ThePackagesPasswordIsTheRestOfTheLineWithItsQuotesAndBackslashes) {
  // As the installer formats "set "[IDLEMINUTES]" "[PROGRAMPATH]" --password-line [PASSWORD]".
  const std::string line = "\"C:\\Vardex\\VardexSettings.exe\" set \"5\" \"C:\\ab.exe\" --password-line  a\"b \\";
  const auto args = ToolArguments({"set", "5", "C:\\ab.exe", "--password-line", "a\"b", "\\"}, line);
  EXPECT_EQ(args, (std::vector<std::string>{"set", "5", "C:\\ab.exe", "--password", " a\"b \\"}));
  EXPECT_EQ(Run(args), kToolDone);
  EXPECT_EQ(SplitSettingsLines(File())[2], " a\"b \\");
  EXPECT_EQ(ToolArguments({"set", "5", "C:\\ab.exe", "--password-line"}, "x set 5 C:\\ab.exe --password-line"),
            (std::vector<std::string>{"set", "5", "C:\\ab.exe", "--password", ""}));
  EXPECT_EQ(ToolArguments({"show", "a", "b", "--password-line"}, line).size(), 4u);
}

TEST_F(SettingsTool, BadValuesAreRefusedAndNothingIsWritten) {
  storage.files[kIniPath] = "7\r\n\r\nunset entry\r\n";
  const std::string path = "C:\\ab.exe";
  const std::vector<std::vector<std::string>> refused = {
      {"set", "0", path, "--no-lock"},   {"set", "91", path, "--no-lock"},
      {"set", "abc", path, "--no-lock"}, {"set", "", path, "--no-lock"},
      {"set", "5.5", path, "--no-lock"}, {"set", "-3", path, "--no-lock"},
      {"set", " 5", path, "--no-lock"},  {"set", "1000", path, "--no-lock"},
      {"set", "5", "C:\\a.ex", "--no-lock"},  // 7 characters
      {"set", "5", "C:\\Apps\\gone.exe", "--no-lock"},  // names no file
      {"set", "5", "", "--no-lock"},     {"set", "5", "C:\\ab\r\n.exe", "--no-lock"},
      {"set", "5", path, "--password", "unset entry"},
      {"set", "5", path, "--password", ""},
      {"set", "5", path, "--password", "a\r\nb"}};
  for (const auto& args : refused) {
    EXPECT_EQ(Run(args), kToolRefused) << args[1] << " " << args[2];
    EXPECT_NE(err.str().find("Nothing was written"), std::string::npos) << err.str();
  }
  EXPECT_EQ(storage.writes, 0);
  EXPECT_EQ(Run({"set", "1", "C:\\a.exe", "--password", "Unset entry"}), kToolDone);  // 8 characters; only the exact sentinel
}

TEST_F(SettingsTool, AWrongCommandLineShowsTheUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"sett"}, {"set", "5", "C:\\ab.exe"}, {"set", "5", "C:\\ab.exe", "--password"},
           {"set", "5", "C:\\ab.exe", "--no-lock", "--password", "x"}, {"show", "--remove"}}) {
    EXPECT_EQ(Run(args), kToolUsage);
    EXPECT_NE(err.str().find("Usage:"), std::string::npos);
  }
  EXPECT_EQ(storage.writes, 0);
  EXPECT_EQ(Run({"/?"}), kToolDone);
  EXPECT_NE(out.str().find("Exit codes"), std::string::npos);
}

TEST_F(SettingsTool, AFailedWriteIsReportedWithTheSystemsReason) {
  storage.fail_write = "Access is denied.";
  EXPECT_EQ(Run({"set", "5", "C:\\ab.exe", "--no-lock"}), kToolFileFailed);
  EXPECT_NE(err.str().find("Access is denied."), std::string::npos);
}

TEST_F(SettingsTool, ShowPrintsWhatVardexReadsButNeverThePassword) {
  storage.files[kIniPath] = " 12.5 \r\nC:\\Apps\\cad.exe\r\ns3cret\r\ns3cret\r\n";
  EXPECT_EQ(Run({"show"}), kToolDone);
  EXPECT_NE(out.str().find("Idle limit (minutes): 12 (settings file)\nProgram: C:\\Apps\\cad.exe (settings file)\n"
                           "Lock: set (settings file)\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(out.str().find("s3cret"), std::string::npos);

  storage.files[kIniPath] = "30\r\n\r\nunset entry\r\n";
  Run({"show"});
  EXPECT_NE(out.str().find("Lock: none"), std::string::npos);
  storage.files[kIniPath] = "thirty\r\n\r\npw\r\n";
  Run({"show"});
  EXPECT_NE(out.str().find("unreadable"), std::string::npos);
  EXPECT_EQ(out.str().find("Lock"), std::string::npos);
  storage.files.clear();
  EXPECT_EQ(Run({"show"}), kToolDone);
  EXPECT_NE(out.str().find("(none"), std::string::npos);
  EXPECT_NE(out.str().find("Idle limit (minutes): 30 (default)\nProgram:  (default)\nLock: none (default)\n"),
            std::string::npos)
      << out.str();

  // Each setting names where it comes from; an ignored policy value says why.
  storage.files[kIniPath] = "45\r\nC:\\Apps\\cad.exe\r\nunset entry\r\n";
  policies.values = {{policy::kLimitMinutes, 20u},
                     {policy::kLockSettings, 1u},
                     {policy::kGraceSeconds, 5u},
                     {policy::kProgramPath, std::string("C:\\x")}};
  EXPECT_EQ(Run({"show"}), kToolDone);
  EXPECT_NE(out.str().find("Idle limit (minutes): 20 (policy)\nProgram: C:\\Apps\\cad.exe (settings file)\n"
                           "Lock: set for every user (policy)\n"
                           "Warning (seconds before the request): 60 (default)\n"
                           "Grace period (seconds): 5 (policy)\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("Policy values ignored:\n  ProgramPath: The program's path \"C:\\x\" has 7 characters"),
            std::string::npos)
      << out.str();
  policies.values.clear();
  storage.fail_read = true;
  EXPECT_EQ(Run({"show"}), kToolFileFailed);
  EXPECT_EQ(storage.writes, 0);
}

TEST_F(SettingsTool, ShowListsTheVirtualStoreCopiesAndRemovesThemOnlyWhenAsked) {
  EXPECT_EQ(VirtualStoreCopyPath("C:\\Users\\ann", kShared),
            "C:\\Users\\ann\\AppData\\Local\\VirtualStore\\Windows\\SysWOW64\\vardex.ini");
  EXPECT_EQ(VirtualStoreCopyPath("D:\\Profiles\\bob\\", "C:\\WINNT\\System32\\"),
            "D:\\Profiles\\bob\\AppData\\Local\\VirtualStore\\WINNT\\System32\\vardex.ini");
  const std::string ann = VirtualStoreCopyPath("C:\\Users\\ann", kShared);
  const std::string carl = VirtualStoreCopyPath("C:\\Users\\carl", kShared);
  profiles.profiles = {"C:\\Users\\ann", "C:\\Users\\bob", "C:\\Users\\carl"};
  profiles.files = {ann, carl, VirtualStoreCopyPath("C:\\Users\\bob", "C:\\Windows\\System32")};
  storage.files[kIniPath] = "30\r\n\r\nunset entry\r\n";

  EXPECT_EQ(Run({"show"}), kToolDone);
  EXPECT_NE(out.str().find("shadow it:\n  " + ann + "\n  " + carl + "\n"), std::string::npos) << out.str();
  EXPECT_EQ(profiles.files.size(), 3u);
  Run({"set", "5", "C:\\ab.exe", "--no-lock"});
  EXPECT_NE(out.str().find("2 VirtualStore copies"), std::string::npos);

  profiles.refuse = "Access is denied.";
  EXPECT_EQ(Run({"show", "--remove-copies"}), kToolCopyNotRemoved);
  EXPECT_EQ(profiles.files.size(), 3u);
  profiles.refuse.clear();
  EXPECT_EQ(Run({"show", "--remove-copies"}), kToolDone);
  EXPECT_EQ(profiles.files.size(), 1u);  // bob's System32 copy shadows nothing here
  Run({"show"});
  EXPECT_NE(out.str().find("shadow it: none"), std::string::npos);

  // Eve made her VirtualStore\Windows a junction: whatever it leads to, her
  // copy stays, and the exit code says why; Carl's is removed all the same.
  const std::string eve = VirtualStoreCopyPath("C:\\Users\\eve", kShared);
  profiles.profiles = {"C:\\Users\\eve", "C:\\Users\\carl"};
  profiles.files = {eve, carl};
  profiles.links = {"C:\\Users\\eve\\AppData\\Local\\VirtualStore\\Windows"};
  EXPECT_EQ(Run({"show", "--remove-copies"}), kToolCopyIsLinked);
  EXPECT_NE(out.str().find("  " + eve + "\n  not removed (a link)\n  " + carl + "\n  removed\n"), std::string::npos)
      << out.str();
  EXPECT_EQ(profiles.files, std::set<std::string>{eve});
  EXPECT_EQ(storage.files[kIniPath], "5\r\nC:\\ab.exe\r\nunset entry\r\nunset entry\r\n") << "the shared file";
}

}  // namespace
}  // namespace vardex
