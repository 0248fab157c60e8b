// The system-wide process query and the path reads against real processes;
// the reader's rules (the path cache, which failures last, the idle process,
// reused identifiers, the older list) against a fake of what Windows lists.
#include "processes/process_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "processes/process_reader.h"

namespace win32 {
namespace {

const process_record* FindRecord(const std::vector<process_record>& records, DWORD id) {
  for (const process_record& r : records)
    if (r.id == id) return &r;
  return nullptr;
}

TEST(SystemProcessQuery, ListsProcessesWithTheirSessionAndCreationTimeAndDropsEndedOnes) {
  system_process_query query;
  std::vector<process_record> records;
  ASSERT_TRUE(query.read(kNtdll, records));
  const process_record* self = FindRecord(records, ::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  EXPECT_EQ(self->session, session);
  EXPECT_NE(self->created, 0u);
  EXPECT_EQ(self->created, process_creation_time(::GetCurrentProcess()));

  // The kernel's CPU time: a third of a second computed here shows in the
  // next read. (Wine 8 leaves the I/O transfer counts at 0.)
  const process_record before = *self;
  const auto own_cpu = [] {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    return file_time_value(kernel) + file_time_value(user);
  };
  for (const ULONGLONG start = own_cpu(); own_cpu() - start < 3'500'000;) {
  }
  ASSERT_TRUE(query.read(kNtdll, records));
  self = FindRecord(records, ::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_GE(self->cpu_time - before.cpu_time, 3'000'000u);

  char system[MAX_PATH] = "";
  ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
  std::string command = "\"" + std::string(system) + "\\notepad.exe\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  const BOOL created = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  const DWORD error = ::GetLastError();
  ASSERT_TRUE(created) << command << ": CreateProcessA failed with error " << error;
  const unique_handle thread(pi.hThread);
  unique_handle child(pi.hProcess);
  ASSERT_TRUE(query.read(kNtdll, records));
  const process_record* started = FindRecord(records, pi.dwProcessId);
  ASSERT_NE(started, nullptr);
  const process_record listed = *started;
  EXPECT_EQ(listed.created, process_creation_time(child.get()));
  EXPECT_EQ(listed.parent, ::GetCurrentProcessId());

  // The module walk reads a running process's path; the idle process is
  // known to give none.
  const unique_hmodule psapi(::LoadLibraryA(kPsapi));
  system_process_source source(query, process_libraries{kNtdll, psapi.get()});
  ASSERT_TRUE(source);
  std::string path;
  ASSERT_EQ(::WaitForInputIdle(child.get(), 10000), 0u);
  EXPECT_EQ(source.read_path(pi.dwProcessId, path), path_read::kModules);
  EXPECT_EQ(::lstrcmpiA(path.c_str(), (std::string(system) + "\\notepad.exe").c_str()), 0) << path;
  EXPECT_EQ(source.read_path(0, path), path_read::kGone);
  EXPECT_EQ(path, "");

  ::TerminateProcess(child.get(), 0);
  ASSERT_EQ(::WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
  child.reset();
  ASSERT_TRUE(query.read(kNtdll, records));
  const process_record* again = FindRecord(records, pi.dwProcessId);
  EXPECT_TRUE(again == nullptr || again->created != listed.created);

  EXPECT_FALSE(query.read("vardex-no-such-library.dll", records));
  EXPECT_TRUE(records.empty());
  EXPECT_FALSE(query.read("KERNEL32.DLL", records));  // loads, but has no such query
}

TEST(ProcessPathCache, APathServesOnlyItsOwnProcessAndGoesWhenItEnds) {
  process_path_cache cache;
  const process_record first{100, 1, 5000};
  const process_record reused{100, 1, 6000};  // a later process with the same identifier
  const process_record other{200, 1, 5500};
  cache.store(first, "C:\\A.EXE");
  cache.store(other, "");  // a path that cannot be read is kept as such
  ASSERT_NE(cache.find(first), nullptr);
  EXPECT_EQ(*cache.find(first), "C:\\A.EXE");
  EXPECT_EQ(cache.find(reused), nullptr);
  ASSERT_NE(cache.find(other), nullptr);
  EXPECT_EQ(*cache.find(other), "");

  // Without a creation time nothing can tell two processes apart.
  const process_record unknown{300, 1, 0};
  cache.store(unknown, "C:\\C.EXE");
  EXPECT_EQ(cache.find(unknown), nullptr);
  // ...except the idle process: id 0 is never another process's.
  const process_record idle{0, 0, 0};
  cache.store(idle, "");
  ASSERT_NE(cache.find(idle), nullptr);

  // The identifier 100 now names the later process: the old path goes.
  cache.retain({reused, other, idle});
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache.find(first), nullptr);
  cache.store(reused, "C:\\B.EXE");
  EXPECT_EQ(*cache.find(reused), "C:\\B.EXE");
  cache.retain({});
  EXPECT_EQ(cache.size(), 0u);
}

// ---- the reader over a fake of the system ----

// What Windows lists and answers, scripted per process: each read of a path
// takes the next answer (the last one repeats), and is counted.
class FakeSource final : public process_source {
 public:
  struct Answer {
    path_read read;
    std::string path;
  };
  bool query_works = true;
  std::vector<process_record> processes;
  std::map<DWORD, std::vector<Answer>> answers;
  std::map<DWORD, int> reads;

  bool query(std::vector<process_record>& out) override {
    out.clear();
    if (!query_works) return false;
    out = processes;
    return true;
  }
  bool list_ids(std::vector<process_record>& out) override {
    out = processes;
    for (process_record& record : out) record.created = 0;
    return true;
  }
  path_read read_path(DWORD id, std::string& path) override {
    const std::vector<Answer>& script = answers[id];
    const std::size_t n = static_cast<std::size_t>(reads[id]++);
    const Answer& answer = script[(std::min)(n, script.size() - 1)];
    path = answer.path;
    return answer.read;
  }
};

std::vector<std::string> Paths(const std::vector<process_entry>& entries) {
  std::vector<std::string> paths;
  for (const process_entry& e : entries) paths.push_back(e.path);
  return paths;
}

constexpr ULONGLONG kBoot = 133000000000000000ull;

// Windows lists the idle process (id 0, creation time 0) and System first,
// then Registry and Memory Compression: none gives a path, ever, and each is
// read once. Wine lists none of them.
TEST(ProcessReader, TheIdleAndSystemRecordsFirstAreReadOnceAndListedWithoutAPath) {
  FakeSource windows;
  windows.processes = {{0, 0, 0}, {4, 0, kBoot}, {92, 0, kBoot + 1}, {1800, 0, kBoot + 5}, {5000, 1, kBoot + 90}};
  windows.answers[0] = {{path_read::kGone, ""}};
  windows.answers[4] = {{path_read::kNoImage, ""}};
  windows.answers[92] = {{path_read::kNoImage, ""}};
  windows.answers[1800] = {{path_read::kRefused, ""}};
  windows.answers[5000] = {{path_read::kModules, "C:\\Windows\\notepad.exe"}};
  process_reader reader;
  std::vector<process_entry> list;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(reader.read(windows, std::nullopt, list));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"", "", "", "", "C:\\Windows\\notepad.exe"}));
    EXPECT_EQ(list.front().id, 0u);
  }
  for (const process_record& p : windows.processes) EXPECT_EQ(windows.reads[p.id], 1) << p.id;
  for (const process_record& p : windows.processes) EXPECT_NE(reader.known(p), nullptr) << p.id;
}

// Which failures last: a path read by the image name is kept only where the
// module walk can never read it; a process the walk may still read later, or
// that could be opened but not read, is read again at every list.
TEST(ProcessReader, OnlyFailuresThatHoldForTheProcesssLifeAreKept) {
  const struct {
    path_read read;
    bool kept;
  } cases[] = {
      {path_read::kModules, true},       {path_read::kImageNameOnly, true}, {path_read::kRefused, true},
      {path_read::kGone, true},          {path_read::kNoImage, true},       {path_read::kImageName, false},
      {path_read::kUnread, false},
  };
  for (const auto& c : cases) {
    FakeSource windows;
    windows.processes = {{700, 1, kBoot + 7}};
    windows.answers[700] = {{c.read, c.read == path_read::kModules || c.read == path_read::kImageName ||
                                             c.read == path_read::kImageNameOnly
                                         ? "C:\\APP.EXE"
                                         : ""}};
    process_reader reader;
    std::vector<process_entry> list;
    ASSERT_TRUE(reader.read(windows, std::nullopt, list));
    ASSERT_TRUE(reader.read(windows, std::nullopt, list));
    EXPECT_EQ(windows.reads[700], c.kept ? 1 : 2) << static_cast<int>(c.read);
    EXPECT_EQ(list.at(0).path, windows.answers[700][0].path);
  }
}

// A process caught before its module list exists gives the image name, in
// the kernel's spelling; once its modules are there the walk's spelling is
// read and kept.
TEST(ProcessReader, AProcessCaughtBeforeItsModulesExistIsReadAgainUntilTheWalkReadsIt) {
  FakeSource windows;
  windows.processes = {{4, 0, kBoot}, {640, 1, kBoot + 64}};
  windows.answers[4] = {{path_read::kNoImage, ""}};
  windows.answers[640] = {{path_read::kImageName, "C:\\PROGRA~1\\App\\app.exe"},
                          {path_read::kModules, "C:\\Program Files\\App\\app.exe"}};
  process_reader reader;
  std::vector<process_entry> list;
  ASSERT_TRUE(reader.read(windows, std::nullopt, list));
  EXPECT_EQ(list.at(1).path, "C:\\PROGRA~1\\App\\app.exe");
  EXPECT_EQ(reader.known(windows.processes[1]), nullptr);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(reader.read(windows, std::nullopt, list));
    EXPECT_EQ(list.at(1).path, "C:\\Program Files\\App\\app.exe");
  }
  EXPECT_EQ(windows.reads[640], 2);
}

// An identifier taken again by a new process (a new creation time) is read
// anew; the old process's path is never listed for it. A record with
// creation time 0 other than the idle process's is read at every list.
TEST(ProcessReader, AReusedIdentifierWithANewCreationTimeIsReadAsANewProcess) {
  FakeSource windows;
  windows.processes = {{0, 0, 0}, {100, 1, kBoot + 10}, {300, 1, 0}};
  windows.answers[0] = {{path_read::kGone, ""}};
  windows.answers[100] = {{path_read::kModules, "C:\\OLD.EXE"}, {path_read::kModules, "C:\\NEW.EXE"}};
  windows.answers[300] = {{path_read::kModules, "C:\\UNTIMED.EXE"}};
  process_reader reader;
  std::vector<process_entry> list;
  ASSERT_TRUE(reader.read(windows, std::nullopt, list));
  ASSERT_TRUE(reader.read(windows, std::nullopt, list));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"", "C:\\OLD.EXE", "C:\\UNTIMED.EXE"}));
  windows.processes[1].created = kBoot + 20;
  ASSERT_TRUE(reader.read(windows, std::nullopt, list));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"", "C:\\NEW.EXE", "C:\\UNTIMED.EXE"}));
  EXPECT_EQ(list.at(1).created, kBoot + 20);
  EXPECT_EQ(windows.reads[0], 1);
  EXPECT_EQ(windows.reads[100], 2);
  EXPECT_EQ(windows.reads[300], 3);
}

// One session's processes are the only ones read and listed; in the older
// list, without creation times, every path but the idle process's is read at
// every list; upper case where the reader's form asks for it.
TEST(ProcessReader, ListsOneSessionAndReadsEveryPathAgainWithoutTheQuery) {
  FakeSource windows;
  windows.processes = {{0, 0, 0}, {4, 0, kBoot}, {800, 2, kBoot + 8}, {900, 1, kBoot + 9}};
  windows.answers[0] = {{path_read::kGone, ""}};
  windows.answers[4] = {{path_read::kNoImage, ""}};
  windows.answers[800] = {{path_read::kModules, "C:\\Other\\user.exe"}};
  windows.answers[900] = {{path_read::kModules, "C:\\Mine\\app.exe"}};
  process_reader reader(path_form::kUpper);
  std::vector<process_entry> list;
  ASSERT_TRUE(reader.read(windows, 1, list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].id, 900u);
  EXPECT_EQ(list[0].path, "C:\\MINE\\APP.EXE");
  EXPECT_EQ(windows.reads.count(800), 0u);

  windows.query_works = false;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(reader.read(windows, std::nullopt, list));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"", "", "C:\\OTHER\\USER.EXE", "C:\\MINE\\APP.EXE"}));
    EXPECT_EQ(list[3].created, 0u);
  }
  EXPECT_EQ(windows.reads[0], 1);
  EXPECT_EQ(windows.reads[4], 2);
  EXPECT_EQ(windows.reads[900], 3);
}

// ---- the older identifier list ----

DWORD g_fake_process_count = 0;
bool g_fake_fails = false;
std::vector<DWORD> g_sizes_asked;

BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD size, DWORD* filled) {
  g_sizes_asked.push_back(size);
  if (g_fake_fails) return FALSE;
  const DWORD fits = std::min<DWORD>(g_fake_process_count, size / sizeof(DWORD));
  for (DWORD i = 0; i < fits; ++i) ids[i] = 4 * (i + 1);
  *filled = fits * sizeof(DWORD);
  return TRUE;
}

struct ListCase {
  DWORD processes;
  std::vector<DWORD> sizes;
};

TEST(ReadProcessIds, DoublesTheBufferWhileAReadFillsIt) {
  const ListCase cases[] = {
      {0, {1024}},
      {255, {1024}},
      {256, {1024, 2048}},  // exactly full: the list may have been cut
      {257, {1024, 2048}},
      {600, {1024, 2048, 4096}},
  };
  for (const ListCase& c : cases) {
    g_fake_process_count = c.processes;
    g_fake_fails = false;
    g_sizes_asked.clear();
    unique_process_heap_block ids;
    DWORD count = 12345;
    ASSERT_TRUE(read_process_ids(FakeEnumProcesses, ids, &count)) << c.processes;
    EXPECT_EQ(count, c.processes);
    EXPECT_EQ(g_sizes_asked, c.sizes) << c.processes;
    if (c.processes > 0) {
      EXPECT_EQ(static_cast<const DWORD*>(ids.get())[c.processes - 1], 4 * c.processes);
    }
  }
}

TEST(ReadProcessIds, AFailingCallFailsTheRead) {
  g_fake_fails = true;
  g_sizes_asked.clear();
  unique_process_heap_block ids;
  DWORD count = 0;
  EXPECT_FALSE(read_process_ids(FakeEnumProcesses, ids, &count));
  EXPECT_EQ(ids.get(), nullptr);
  g_fake_fails = false;
}

}  // namespace
}  // namespace win32
