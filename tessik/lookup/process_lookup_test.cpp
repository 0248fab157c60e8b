#include "lookup/process_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "lookup/process_walk.h"
#include "lookup/thread_choice.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

std::string ThisExePath() {
  char path[MAX_PATH] = "";
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string TargetPath() { return DirectoryOf(ThisExePath()) + "\\tessik_target.exe"; }

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A program started by the test and ended with it.
class Program {
 public:
  // Starts the target at `exe` and waits (bounded) until it reports that its
  // window exists.
  void StartTarget(const std::string& exe, const std::string& options = "") {
    const std::string event_name = "tessik-lookup-ready-" + std::to_string(::GetTickCount()) + "-" +
                                   std::to_string(reinterpret_cast<UINT_PTR>(this));
    const win32::unique_handle ready(::CreateEventA(nullptr, TRUE, FALSE, event_name.c_str()));
    ASSERT_TRUE(ready);
    Start(exe, "\"" + exe + "\" " + options + " --ready " + event_name);
    ASSERT_EQ(::WaitForSingleObject(ready.get(), 15000), WAIT_OBJECT_0) << exe;
  }

  void Start(const std::string& exe, std::string command_line) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessA(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                          &startup, &info);
    const DWORD error = ::GetLastError();
    ASSERT_TRUE(started) << exe << ": CreateProcessA failed with error " << error;
    process_.reset(info.hProcess);
    const win32::unique_handle thread(info.hThread);
    process_id_ = info.dwProcessId;
    thread_id_ = info.dwThreadId;
  }

  ~Program() {
    if (process_) {
      ::TerminateProcess(process_.get(), 0);
      ::WaitForSingleObject(process_.get(), 5000);
    }
  }

  DWORD process_id() const { return process_id_; }
  DWORD thread_id() const { return thread_id_; }

 private:
  win32::unique_handle process_;
  DWORD process_id_ = 0;
  DWORD thread_id_ = 0;
};

struct Visit {
  DWORD process_id;
  WORD task;
  std::string path;
};

BOOL CALLBACK RecordVisit(DWORD process_id, WORD task, LPCSTR path, LPARAM user) noexcept {
  reinterpret_cast<std::vector<Visit>*>(user)->push_back({process_id, task, path});
  return TRUE;
}

BOOL CALLBACK StopAtOnce(DWORD process_id, WORD task, LPCSTR path, LPARAM user) noexcept {
  reinterpret_cast<std::vector<Visit>*>(user)->push_back({process_id, task, path});
  return FALSE;
}

const Visit* FindVisit(const std::vector<Visit>& visits, DWORD process_id) {
  for (const Visit& v : visits)
    if (v.process_id == process_id) return &v;
  return nullptr;
}

BOOL CALLBACK RecordOwner(HWND window, LPARAM user) noexcept {
  ::GetWindowThreadProcessId(window, reinterpret_cast<DWORD*>(user));
  return FALSE;
}

using Threads = std::vector<DWORD>;

Threads Lookup(const std::string& path, DWORD capacity = 64) {
  Threads threads(capacity);
  threads.resize(FindAppThreads(path.c_str(), threads.data(), capacity));
  return threads;
}

// ---- ForEachProcess ----

TEST(ForEachProcess, VisitsThisProcessWithItsFullPath) {
  std::vector<Visit> visits;
  ASSERT_TRUE(ForEachProcess(RecordVisit, reinterpret_cast<LPARAM>(&visits)));
  const Visit* self = FindVisit(visits, ::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(Lower(self->path), Lower(ThisExePath()));
  EXPECT_EQ(self->task, 0);
}

TEST(ForEachProcess, VisitorReturningZeroEndsTheWalkWhichStillCountsAsMade) {
  std::vector<Visit> visits;
  EXPECT_TRUE(ForEachProcess(StopAtOnce, reinterpret_cast<LPARAM>(&visits)));
  EXPECT_EQ(visits.size(), 1u);
}

TEST(ForEachProcess, WalksWithoutTheTaskWalkWhenVdmdbgIsMissingOrIncomplete) {
  // Neither library offers VDMEnumTaskWOWEx; the ordinary walk must still run.
  for (const LPCSTR vdmdbg : {"tessik-no-such-library.dll", "KERNEL32.DLL"}) {
    std::vector<Visit> visits;
    const detail::WalkLibraries libraries{"PSAPI.DLL", vdmdbg, "Kernel32.DLL"};
    EXPECT_TRUE(detail::ForEachProcessOn(detail::kPlatformNt, libraries, RecordVisit,
                                         reinterpret_cast<LPARAM>(&visits)))
        << vdmdbg;
    const Visit* self = FindVisit(visits, ::GetCurrentProcessId());
    ASSERT_NE(self, nullptr) << vdmdbg;
    EXPECT_EQ(Lower(self->path), Lower(ThisExePath()));
  }
}

TEST(ForEachProcess, KeptPathsWalkWhatThePsapiListWithFreshPathsWalks) {
  Program target;
  ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath()));
  const detail::WalkLibraries without_query{"PSAPI.DLL", "VDMDBG.DLL", "Kernel32.DLL",
                                            "tessik-no-such-library.dll"};
  std::vector<Visit> fresh, first, kept;
  ASSERT_TRUE(detail::ForEachProcessOn(detail::kPlatformNt, without_query, RecordVisit,
                                       reinterpret_cast<LPARAM>(&fresh)));
  ASSERT_TRUE(detail::ForEachProcessOn(detail::kPlatformNt, detail::kSystemLibraries, RecordVisit,
                                       reinterpret_cast<LPARAM>(&first)));
  ASSERT_TRUE(detail::ForEachProcessOn(detail::kPlatformNt, detail::kSystemLibraries, RecordVisit,
                                       reinterpret_cast<LPARAM>(&kept)));
  ASSERT_EQ(first.size(), fresh.size());
  ASSERT_EQ(kept.size(), fresh.size());
  for (size_t i = 0; i < fresh.size(); ++i) {
    EXPECT_EQ(first[i].process_id, fresh[i].process_id) << i;
    EXPECT_EQ(first[i].path, fresh[i].path) << i;
    EXPECT_EQ(kept[i].process_id, fresh[i].process_id) << i;
    EXPECT_EQ(kept[i].path, fresh[i].path) << i;
  }
  const Visit* visit = FindVisit(kept, target.process_id());
  ASSERT_NE(visit, nullptr);
  EXPECT_EQ(Lower(visit->path), Lower(TargetPath()));
}

TEST(ForEachProcess, FailsWithoutItsProcessFunctions) {
  for (const LPCSTR psapi : {"tessik-no-such-library.dll", "KERNEL32.DLL"}) {
    std::vector<Visit> visits;
    const detail::WalkLibraries libraries{psapi, "VDMDBG.DLL", "Kernel32.DLL"};
    EXPECT_FALSE(detail::ForEachProcessOn(detail::kPlatformNt, libraries, RecordVisit,
                                          reinterpret_cast<LPARAM>(&visits)))
        << psapi;
    EXPECT_TRUE(visits.empty());
  }
}

TEST(ForEachProcess, Windows95FamilyWalksTheToolhelpSnapshot) {
  std::vector<Visit> visits;
  ASSERT_TRUE(detail::ForEachProcessOn(detail::kPlatformWindows95, detail::kSystemLibraries, RecordVisit,
                                       reinterpret_cast<LPARAM>(&visits)));
  const Visit* self = FindVisit(visits, ::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  // The NT family's snapshot gives the file name only; Windows 95 gives the path.
  const std::string name = Lower(ThisExePath().substr(ThisExePath().find_last_of('\\') + 1));
  const std::string seen = Lower(self->path);
  ASSERT_GE(seen.size(), name.size());
  EXPECT_EQ(seen.substr(seen.size() - name.size()), name);

  std::vector<Visit> stopped;
  EXPECT_TRUE(detail::ForEachProcessOn(detail::kPlatformWindows95, detail::kSystemLibraries, StopAtOnce,
                                       reinterpret_cast<LPARAM>(&stopped)));
  EXPECT_EQ(stopped.size(), 1u);
}

TEST(ForEachProcess, OtherPlatformFamiliesMakeNoWalk) {
  for (const DWORD platform : {0ul, 3ul}) {
    std::vector<Visit> visits;
    EXPECT_FALSE(detail::ForEachProcessOn(platform, detail::kSystemLibraries, RecordVisit,
                                          reinterpret_cast<LPARAM>(&visits)));
    EXPECT_TRUE(visits.empty());
  }
}

// ---- FindAppThreads on real processes ----

TEST(FindAppThreads, FindsOurProgramByItsFullPathInAnyLetterCase) {
  Program target;
  ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath()));
  EXPECT_EQ(Lookup(TargetPath()), Threads{target.thread_id()});
  EXPECT_EQ(Lookup(Upper(TargetPath())), Threads{target.thread_id()});
  EXPECT_EQ(Lookup(Lower(TargetPath())), Threads{target.thread_id()});
}

TEST(FindAppThreads, FindsNotepadAProgramWeDidNotWrite) {
  char system[MAX_PATH] = "";
  ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
  const std::string notepad = std::string(system) + "\\notepad.exe";
  Program program;
  ASSERT_NO_FATAL_FAILURE(program.Start(notepad, "notepad.exe"));
  Threads found;
  for (int i = 0; i < 100 && found.empty(); ++i) {
    found = Lookup(notepad);
    if (found.empty()) ::Sleep(100);
  }
  ASSERT_EQ(found.size(), 1u) << notepad;
  const DWORD thread = found[0];
  DWORD owner = 0;
  ::EnumThreadWindows(thread, RecordOwner, reinterpret_cast<LPARAM>(&owner));
  EXPECT_EQ(owner, program.process_id());
  EXPECT_EQ(Lookup(Upper(notepad)), found);
}

TEST(FindAppThreads, OtherSpellingsOfTheSamePathDoNotMatch) {
  Program target;
  ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath()));
  ASSERT_EQ(Lookup(TargetPath()), Threads{target.thread_id()});

  char short_path[MAX_PATH] = "";
  ASSERT_GT(::GetShortPathNameA(TargetPath().c_str(), short_path, MAX_PATH), 0u);
  ASSERT_NE(Lower(short_path), Lower(TargetPath())) << "the test needs a long name";
  EXPECT_TRUE(Lookup(short_path).empty());

  std::string slashes = TargetPath();
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
  EXPECT_TRUE(Lookup(slashes).empty());

  const std::string dir = DirectoryOf(TargetPath());
  EXPECT_TRUE(Lookup(dir + "\\.\\tessik_target.exe").empty());
  EXPECT_TRUE(Lookup(dir + "\\\\tessik_target.exe").empty());
  EXPECT_TRUE(Lookup(TargetPath() + " ").empty());
  EXPECT_TRUE(Lookup("").empty());
}

TEST(FindAppThreads, APathLongerThan259CharactersNeverMatches) {
  // A copy of the target whose full path has exactly 259 characters: the
  // longest a process path can be. The same path with more after it would
  // equal it once cut to 259 characters.
  char temp[MAX_PATH] = "";
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  std::string dir = std::string(temp) + "tessik-long-" + std::to_string(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr));
  const std::string base = dir;
  const std::string exe_name = "\\t.exe";
  while (dir.size() + exe_name.size() < 259) {
    const size_t room = 259 - exe_name.size() - dir.size() - 1;
    dir += "\\" + std::string(std::min<size_t>(room, 60), 'd');
    ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr)) << dir;
  }
  const std::string exe = dir + exe_name;
  ASSERT_EQ(exe.size(), 259u);
  ASSERT_TRUE(::CopyFileA(TargetPath().c_str(), exe.c_str(), FALSE));
  {
    Program target;
    ASSERT_NO_FATAL_FAILURE(target.StartTarget(exe));
    EXPECT_EQ(Lookup(exe), Threads{target.thread_id()});
    EXPECT_TRUE(Lookup(exe + "x").empty());
    EXPECT_TRUE(Lookup(exe + std::string(300, 'x')).empty());
  }
  ::DeleteFileA(exe.c_str());
  while (dir.size() > base.size()) {
    ::RemoveDirectoryA(dir.c_str());
    dir.resize(dir.find_last_of('\\'));
  }
  ::RemoveDirectoryA(base.c_str());
}

TEST(FindAppThreads, ARunningProgramWithoutATopLevelWindowIsNotFound) {
  Program target;
  ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath(), "--no-window"));
  std::vector<Visit> visits;
  ASSERT_TRUE(ForEachProcess(RecordVisit, reinterpret_cast<LPARAM>(&visits)));
  const Visit* visit = FindVisit(visits, target.process_id());
  ASSERT_NE(visit, nullptr);
  ASSERT_EQ(Lower(visit->path), Lower(TargetPath()));
  EXPECT_TRUE(Lookup(TargetPath()).empty());
}

TEST(FindAppThreads, AHiddenWindowCounts) {
  Program target;
  ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath(), "--hidden"));
  EXPECT_EQ(Lookup(TargetPath()), Threads{target.thread_id()});
}

// Every copy is watched; where the bound cuts, the foreground copy or else
// the newest stays. One that starts or ends between two lookups is picked up
// or dropped.
TEST(FindAppThreads, EveryRunningCopyIsFoundAndEachLookupSeesTheCopiesAnew) {
  auto first = std::make_unique<Program>();
  ASSERT_NO_FATAL_FAILURE(first->StartTarget(TargetPath()));
  ASSERT_EQ(Lookup(TargetPath()), Threads{first->thread_id()});
  ::Sleep(20);  // creation times a clock tick apart
  Program second;
  ASSERT_NO_FATAL_FAILURE(second.StartTarget(TargetPath()));
  Threads both = Lookup(TargetPath());
  std::sort(both.begin(), both.end());
  Threads expected = {first->thread_id(), second.thread_id()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(both, expected);
  DWORD foreground = 0;
  ::GetWindowThreadProcessId(::GetForegroundWindow(), &foreground);
  const DWORD kept = foreground == first->process_id() ? first->thread_id() : second.thread_id();
  EXPECT_EQ(Lookup(TargetPath(), 1), Threads{kept});
  // A copy without a window has nothing to hook, and still counts within a
  // few lookups (between walks only windows tell what is new).
  Program windowless;
  ASSERT_NO_FATAL_FAILURE(windowless.StartTarget(TargetPath(), "--no-window"));
  AppLookup found;
  DWORD threads[8] = {};
  for (int i = 0; i < 8 && found.processes != 3; ++i) FindAppThreads(TargetPath().c_str(), threads, 8, &found);
  EXPECT_EQ(found.processes, 3u);
  EXPECT_EQ(found.threads_found, 2u);
  first.reset();
  EXPECT_EQ(Lookup(TargetPath()), Threads{second.thread_id()});
}

// The rule over what the lookup found: processes 10 and 20 match, 30 has no
// window, and the windows come in window order.
TEST(FindAppThreads, EachVisibleWindowsThreadOnceElseTheFirstWindowsThread) {
  const std::vector<detail::MatchedProcess> processes = {{20, 0}, {10, 0}, {30, 0}};
  const std::vector<detail::TopLevelWindow> windows = {
      {10, 101, false},  // a hidden helper window first: passed over, 10 has visible ones
      {20, 201, false}, {10, 102, true}, {20, 202, false}, {10, 103, true}, {10, 102, true},
  };
  DWORD threads[8] = {};
  DWORD owners[8] = {};
  DWORD found = 0;
  // 20 has only hidden windows: its first window's thread; 10: each visible
  // window's thread once, in window order; the processes in the walk's order.
  ASSERT_EQ(detail::ChooseAppThreads(processes, 0, windows, threads, owners, 8, &found), 3u);
  EXPECT_EQ(Threads(threads, threads + 3), (Threads{201, 102, 103}));
  EXPECT_EQ(Threads(owners, owners + 3), (Threads{20, 10, 10}));
  EXPECT_EQ(found, 3u);
  ASSERT_EQ(detail::ChooseAppThreads(processes, 0, windows, threads, nullptr, 2, &found), 2u);
  EXPECT_EQ(Threads(threads, threads + 2), (Threads{201, 102}));
  EXPECT_EQ(found, 3u) << "what the bound cut still counts as found";
  EXPECT_EQ(detail::ChooseAppThreads({{30, 0}}, 0, windows, threads, nullptr, 8, &found), 0u);
  EXPECT_EQ(found, 0u);
}

// Where the bound cuts: the foreground window's process first, then the
// newest copies; copies started at the same time keep the walk's order.
TEST(FindAppThreads, TheBoundKeepsTheForegroundProcessAndTheNewestCopies) {
  const std::vector<detail::MatchedProcess> processes = {{10, 500}, {20, 900}, {30, 0}, {40, 700}, {50, 700}};
  const std::vector<detail::TopLevelWindow> windows = {
      {10, 101, true}, {20, 201, true}, {30, 301, true}, {40, 401, true}, {50, 501, true}, {30, 302, true},
  };
  DWORD threads[8] = {};
  DWORD found = 0;
  ASSERT_EQ(detail::ChooseAppThreads(processes, 0, windows, threads, nullptr, 8, &found), 6u);
  EXPECT_EQ(Threads(threads, threads + 6), (Threads{201, 401, 501, 101, 301, 302}));
  ASSERT_EQ(detail::ChooseAppThreads(processes, 30, windows, threads, nullptr, 3, &found), 3u);
  EXPECT_EQ(Threads(threads, threads + 3), (Threads{301, 302, 201}));
  EXPECT_EQ(found, 6u);
  // A foreground window of another program changes nothing.
  ASSERT_EQ(detail::ChooseAppThreads(processes, 99, windows, threads, nullptr, 2, &found), 2u);
  EXPECT_EQ(Threads(threads, threads + 2), (Threads{201, 401}));
}

// Nor is anything held for it: once the program stops, the lookup lets go
// of every process it held, matching or not (this test owns a window too).
TEST(FindAppThreads, AProgramThatIsNotRunningIsNotFound) {
  EXPECT_TRUE(Lookup(DirectoryOf(TargetPath()) + "\\tessik_not_running.exe").empty());
  const win32::unique_hwnd window(
      ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  DWORD before = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  {
    Program target;
    ASSERT_NO_FATAL_FAILURE(target.StartTarget(TargetPath()));
    ASSERT_EQ(Lookup(TargetPath()), Threads{target.thread_id()});
    ASSERT_EQ(Lookup(TargetPath()), Threads{target.thread_id()});
  }
  EXPECT_TRUE(Lookup(TargetPath()).empty());
  DWORD after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  EXPECT_LE(after, before);
}

}  // namespace
}  // namespace tessik
