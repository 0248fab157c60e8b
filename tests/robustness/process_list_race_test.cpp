// The watched program ends on its own between the snapshot and the kill: the
// process list refuses to end what is gone, ends nothing else, and the next
// snapshot is sound.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "components/process_list_win32.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

constexpr DWORD kStartMs = 10000;

std::string HelperPath() {
  char exe[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe, n);
  return path.substr(0, path.find_last_of('\\') + 1) + "robust_helper.exe";
}

std::string Upper(std::string text) {
  CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// A copy of the test's target program; ended at the end if still running.
class Target {
 public:
  Target() {
    std::string line = "\"" + HelperPath() + "\" target --title RaceTarget";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      const DWORD error = GetLastError();
      ADD_FAILURE() << line << ": CreateProcessA failed with error " << error;
      return;
    }
    win32::unique_handle thread(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
    // Started once its window is there, like any program that is watched.
    const DWORD start = GetTickCount();
    while (!HasWindow() && Running() && GetTickCount() - start < kStartMs) Sleep(20);
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  ~Target() {
    if (Running()) End();
  }

  bool started() const { return static_cast<bool>(process_); }
  std::int32_t id() const { return static_cast<std::int32_t>(id_); }
  bool Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  bool HasWindow() const {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"RobustTarget", nullptr)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      if (pid == id_) return true;
    }
    return false;
  }
  bool WaitEnded() const { return WaitForSingleObject(process_.get(), kStartMs) == WAIT_OBJECT_0; }
  bool End() {
    TerminateProcess(process_.get(), 1);
    return WaitForSingleObject(process_.get(), kStartMs) == WAIT_OBJECT_0;
  }

 private:
  win32::unique_handle process_;
  DWORD id_ = 0;
};

std::int16_t IndexOf(ProcessListWin32& list, std::int32_t id) {
  const auto count = list.ProcessCount();
  for (std::int32_t i = 1; count && i <= *count; ++i) {
    if (list.ProcessIndex(static_cast<std::int16_t>(i)) && list.ProcessID() == id) return static_cast<std::int16_t>(i);
  }
  return 0;
}

TEST(ProcessListRace, ProgramEndedBeforeTheKillIsRefusedAndNothingElseEnds) {
  Target gone, sibling;
  ASSERT_TRUE(gone.started() && sibling.started());
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  const std::int16_t index = IndexOf(list, gone.id());
  ASSERT_NE(index, 0);
  ASSERT_TRUE(list.KillProcessID(gone.id()));

  ASSERT_TRUE(gone.End());
  EXPECT_FALSE(list.KillProcess());
  EXPECT_TRUE(sibling.Running());
  // The snapshot still holds the ended entry.
  ASSERT_TRUE(list.ProcessIndex(index));
  EXPECT_EQ(list.ProcessID(), gone.id());
  EXPECT_EQ(list.ProcessPath(), Upper(HelperPath()));

  ASSERT_TRUE(list.ListProcesses());
  EXPECT_EQ(IndexOf(list, gone.id()), 0);
  ASSERT_NE(IndexOf(list, sibling.id()), 0);
  EXPECT_EQ(list.ProcessPath(), Upper(HelperPath()));
  EXPECT_TRUE(sibling.Running());
}

// The shutdown's loop: every entry whose path matches is ended; the first has
// already gone by itself, the loop goes on and ends the second.
TEST(ProcessListRace, ShutdownLoopGoesOnPastAProgramThatEndedByItself) {
  Target first, second;
  ASSERT_TRUE(first.started() && second.started());
  const std::string watched = Upper(HelperPath());
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  ASSERT_TRUE(first.End());

  const auto count = list.ProcessCount();
  ASSERT_TRUE(count);
  int ended = 0, refused = 0;
  for (std::int32_t i = 1; i <= *count; ++i) {
    ASSERT_TRUE(list.ProcessIndex(static_cast<std::int16_t>(i)));
    const auto path = list.ProcessPath();
    if (!path || path->compare(0, watched.size(), watched) != 0) continue;
    const auto id = list.ProcessID();
    ASSERT_TRUE(id);
    ASSERT_TRUE(list.KillProcessID(*id));
    (list.KillProcess() ? ended : refused)++;
  }
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(second.WaitEnded());

  ASSERT_TRUE(list.ListProcesses());
  EXPECT_EQ(IndexOf(list, first.id()), 0);
  EXPECT_EQ(IndexOf(list, second.id()), 0);
  EXPECT_NE(IndexOf(list, static_cast<std::int32_t>(GetCurrentProcessId())), 0);
}

}  // namespace
}  // namespace vardex
