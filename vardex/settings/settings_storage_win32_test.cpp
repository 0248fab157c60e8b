// The settings file on a real disk: the settings room with SettingsStorageWin32 and
// the real system directory, and the storage alone in a scratch directory.
//
// Wine runs as root here, so neither a read-only directory nor permissions
// stop a write. The failures are made real instead by a directory that does
// not exist, a path under a regular file, a directory standing where the file
// should be, and a read-only attribute on the file itself.
#include "settings/settings_storage_win32.h"

#include "settings/policy_source_win32.h"

#include <windows.h>

#include "components/system_services_win32.h"
#include "settings/settings_fixture_test.h"
#include "win32/registry_watch.h"
#include "win32/unique_any.h"

namespace vardex::testing {
namespace {

// The real system directory, with the settings message recorded rather than
// shown.
class DiskSystem final : public SystemServices {
  SystemServicesWin32 real;

 public:
  std::string directory = real.SystemDirectoryA();
  std::vector<std::string> errors;

  std::string SystemDirectoryA() override { return directory; }
  char DecimalSeparator() const override { return real.DecimalSeparator(); }
  bool SameProgramPath(const std::string& reported, const std::string& configured) const override {
    return real.SameProgramPath(reported, configured);
  }
  std::int64_t MonotonicMs() const override { return real.MonotonicMs(); }
  std::int64_t AwakeMs() const override { return real.AwakeMs(); }
  bool StartProgram(const std::string&, const std::string&) override { return false; }
  void ShowSettingsError(const std::string& path, const std::string& reason) override {
    errors.push_back(path + "|" + reason);
  }
};

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string RawBytes(const std::string& path) {
  win32::unique_hfile file(
      ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return "<cannot open>";
  std::string bytes;
  char buffer[256];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

void PutRawBytes(const std::string& path, const std::string& bytes) {
  win32::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << path;
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

// Names of the temporary files a save may leave behind.
int TempFiles(const std::string& directory) {
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA((directory + "\\vdx*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int n = 1;
  while (::FindNextFileA(search, &found)) ++n;
  ::FindClose(search);
  return n;
}

class SettingsOnDisk : public SettingsFixture {
 protected:
  SettingsOnDisk() { UseStorage(disk, disk_system); }
  // Other tests in this prefix may own a settings file: keep it aside.
  void SetUp() override {
    ASSERT_FALSE(disk_system.directory.empty());
    had_file = Exists(ini);
    if (had_file) saved = RawBytes(ini);
    ::DeleteFileA(ini.c_str());
  }
  void TearDown() override {
    ::SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(ini.c_str());
    if (had_file) PutRawBytes(ini, saved);
  }

  SettingsStorageWin32 disk;
  DiskSystem disk_system;
  const std::string ini = disk_system.directory + "\\vardex.ini";
  bool had_file = false;
  std::string saved;
};

// The defaults of a first start live in memory: a file written at the read
// would be a standard user's VirtualStore copy, shadowing the administrator's.
TEST_F(SettingsOnDisk, AFirstStartLooksInTheSystemDirectoryAndWritesNothing) {
  const int temps = TempFiles(disk_system.directory);
  Load();
  EXPECT_EQ(settings->system_path(), disk_system.directory + "\\");
  EXPECT_EQ(RawBytes(ini), "<cannot open>");
  EXPECT_EQ(TempFiles(disk_system.directory), temps);
  EXPECT_TRUE(disk_system.errors.empty());
}

TEST_F(SettingsOnDisk, DoneWritesTheExactBytesAndTheNextReadTakesThem) {
  Load();
  settings->Load();
  txtApplicationName.SetText("C:\\Program Files\\App\\APP.EXE");
  intAppShutDownTime.SetText("45");
  txtPassword.SetText("Secret");
  settings->Save();
  EXPECT_EQ(RawBytes(ini), "45\r\nC:\\Program Files\\App\\APP.EXE\r\nSecret\r\nunset entry\r\n");
  EXPECT_TRUE(disk_system.errors.empty());

  settings->Load();
  EXPECT_EQ(lock.password(), "Secret");
  EXPECT_FALSE(cmdBrowse.Enabled());

  // Nothing keeps the file open after a read: it can be opened exclusively.
  win32::unique_hfile exclusive(
      ::CreateFileA(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(exclusive);
}

TEST_F(SettingsOnDisk, AMissingDirectoryStopsTheReadSilentlyAndFailsTheSaveLoudly) {
  disk_system.directory = "C:\\vardex no such directory";
  const std::string path = disk_system.directory + "\\vardex.ini";
  Load();
  EXPECT_TRUE(disk_system.errors.empty()) << "a read that fails shows nothing";
  EXPECT_EQ(intAppShutDownTime.Text(), "30");

  settings->Save();
  ASSERT_EQ(disk_system.errors.size(), 1u);
  const std::string& error = disk_system.errors[0];
  EXPECT_EQ(error.rfind(path + "|", 0), 0u) << error;
  EXPECT_GT(error.size(), path.size() + 1) << "the system's reason";
  EXPECT_FALSE(Exists(disk_system.directory));
}

// The storage alone, in a scratch directory of its own.
class StorageWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    dir = std::string(temp) + "vardex_settings_" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    file = dir + "\\vardex.ini";
  }
  void TearDown() override {
    ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(file.c_str());
    ::RemoveDirectoryA(file.c_str());
    ::DeleteFileA((dir + "\\plain.txt").c_str());
    ::RemoveDirectoryA(dir.c_str());
  }
  // A failed write reports the system's reason and leaves no trace.
  void ExpectCleanFailure(const SettingsStorage::WriteResult& result) {
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.reason.empty());
    if (!result.reason.empty()) {
      EXPECT_NE(result.reason.back(), '\n');
    }
    EXPECT_EQ(TempFiles(dir), 0);
  }

  SettingsStorageWin32 disk;
  std::string dir, file;
};

TEST_F(StorageWin32, ReadTellsAMissingFileFromOtherFailures) {
  EXPECT_EQ(disk.Read(file).status, SettingsStorage::ReadStatus::kNotFound);
  EXPECT_EQ(disk.Read(dir + "\\missing\\vardex.ini").status, SettingsStorage::ReadStatus::kFailed);
  ASSERT_TRUE(::CreateDirectoryA(file.c_str(), nullptr));
  EXPECT_EQ(disk.Read(file).status, SettingsStorage::ReadStatus::kFailed) << "a directory is no settings file";
}

TEST_F(StorageWin32, BytesGoAndComeUnchanged) {
  const std::string bytes("45\nC:\\A\rB.EXE\r\n\0pw\xE9\r\n", 22);
  ASSERT_TRUE(disk.Write(file, bytes).ok);
  EXPECT_EQ(RawBytes(file), bytes);
  const auto read = disk.Read(file);
  EXPECT_EQ(read.status, SettingsStorage::ReadStatus::kOk);
  EXPECT_EQ(read.bytes, bytes);

  // A shorter file replaces a longer one whole: no old tail survives.
  ASSERT_TRUE(disk.Write(file, "30\r\n").ok);
  EXPECT_EQ(RawBytes(file), "30\r\n");
  ASSERT_TRUE(disk.Write(file, "").ok);
  EXPECT_EQ(disk.Read(file).status, SettingsStorage::ReadStatus::kOk);
  EXPECT_EQ(TempFiles(dir), 0);
}

TEST_F(StorageWin32, AFailedWriteLeavesTheOldFileAlone) {
  ExpectCleanFailure(disk.Write(dir + "\\missing\\vardex.ini", "30\r\n"));

  PutRawBytes(dir + "\\plain.txt", "plain");
  ExpectCleanFailure(disk.Write(dir + "\\plain.txt\\vardex.ini", "30\r\n"));
  EXPECT_EQ(RawBytes(dir + "\\plain.txt"), "plain");

  // The temporary file is written, and the replace fails.
  ASSERT_TRUE(::CreateDirectoryA(file.c_str(), nullptr));
  ExpectCleanFailure(disk.Write(file, "30\r\n"));
  EXPECT_EQ(::GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(StorageWin32, AReadOnlyFileIsNotReplaced) {
  PutRawBytes(file, "45\r\nC:\\A.EXE\r\nSecret\r\n");
  ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectCleanFailure(disk.Write(file, "30\r\n"));
  EXPECT_EQ(RawBytes(file), "45\r\nC:\\A.EXE\r\nSecret\r\n");
}

// The policy key as Group Policy writes it, in the prefix's registry: DWORDs,
// strings (expanded), other types as such, and an absent key reads as absent
// values.
TEST(PolicySourceWin32, ReadsTheValuesOfThePolicyKeyByType) {
  HKEY raw = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, policy::kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                              &disposition),
            ERROR_SUCCESS);
  const win32::unique_hkey key(raw);
  if (disposition != REG_CREATED_NEW_KEY) GTEST_SKIP() << "the machine has Vardex policies of its own";
  const auto set = [&](const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  };
  const DWORD hold = 90;
  set(policy::kWorkHoldMinutes, REG_DWORD, &hold, sizeof hold);
  set(policy::kWorkCpuPerMille, REG_SZ, "250", 4);
  const std::string long_path = "C:\\" + std::string(300, 'x') + ".exe";
  set(policy::kProgramPath, REG_SZ, long_path.c_str(), static_cast<DWORD>(long_path.size() + 1));
  set(policy::kLimitMinutes, REG_BINARY, "\x2d", 1);
  set(policy::kWarningSeconds, REG_EXPAND_SZ, "%SystemRoot%", 13);
  {
    PolicySourceWin32 source;
    EXPECT_EQ(source.Read(policy::kWorkHoldMinutes), PolicyValue(90u));
    EXPECT_EQ(source.Read(policy::kWorkCpuPerMille), PolicyValue(std::string("250")));
    EXPECT_EQ(source.Read(policy::kProgramPath), PolicyValue(long_path));
    EXPECT_EQ(source.Read(policy::kLimitMinutes), PolicyValue()) << "a binary value is of no type a policy takes";
    char windows[MAX_PATH] = {};
    ::GetEnvironmentVariableA("SystemRoot", windows, MAX_PATH);
    EXPECT_EQ(source.Read(policy::kWarningSeconds), PolicyValue(std::string(windows)));
    EXPECT_EQ(source.Read(policy::kWorkIoKibPerSecond), std::nullopt);
  }
  ASSERT_EQ(::RegDeleteKeyA(HKEY_LOCAL_MACHINE, policy::kKey), ERROR_SUCCESS);
  EXPECT_EQ(PolicySourceWin32().Read(policy::kWorkHoldMinutes), std::nullopt);
}

// The watch Vardex keeps over the key above the policy key, on keys of the
// user's: one message or more at each change below it, the watched key's
// creation below an ancestor and the policy key's deletion included, and
// none from re-arming alone. (Windows also signals a watched key's event
// when the key is closed, which would make a watch that reopened its key at
// every arm() post for ever; Wine signals nothing then, so this cannot show
// it here.)
TEST(PolicySourceWin32, TheWatchReportsEachChangeOfTheKeyAndNothingElse) {
  constexpr char kParent[] = "Software\\VardexWatchTest";
  const std::string watched = std::string(kParent) + "\\Policies";
  const std::string path = watched + "\\Vardex";
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kParent);
  const win32::unique_hwnd window(
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  constexpr UINT kChanged = WM_APP + 7;
  win32::registry_watch watch(HKEY_CURRENT_USER, watched.c_str(), window.get(), kChanged);
  ASSERT_TRUE(watch.watching());
  // The messages within `ms`, each answered as Vardex's window does.
  const auto messages = [&](DWORD ms) {
    int n = 0;
    const ULONGLONG until = ::GetTickCount64() + ms;
    while (::GetTickCount64() < until) {
      MSG msg;
      while (::PeekMessageW(&msg, window.get(), kChanged, kChanged, PM_REMOVE)) {
        ++n;
        watch.arm();
      }
      ::Sleep(20);
    }
    return n;
  };
  const auto set = [&](DWORD value) {
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const win32::unique_hkey key(raw);
    ASSERT_EQ(::RegSetValueExA(key.get(), "Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
  };
  EXPECT_EQ(messages(300), 0);
  set(1);
  EXPECT_GE(messages(1500), 1) << "the key made, with the watched one, below their ancestor";
  EXPECT_EQ(messages(500), 0);
  set(2);
  EXPECT_GE(messages(1500), 1) << "a value changed";
  EXPECT_EQ(messages(500), 0);
  ASSERT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
  EXPECT_GE(messages(1500), 1) << "the key deleted";
  EXPECT_EQ(messages(500), 0);
  set(3);
  EXPECT_GE(messages(1500), 1) << "the key made again";
  ASSERT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, kParent), ERROR_SUCCESS);
}

}  // namespace
}  // namespace vardex::testing
