// The system-wide process query against real processes, and the path cache's
// rule that a path belongs to one identifier and creation time.
#include "win32/process_query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace win32 {
namespace {

ULONGLONG CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

const ProcessRecord* FindRecord(const std::vector<ProcessRecord>& records, DWORD id) {
  for (const ProcessRecord& r : records)
    if (r.id == id) return &r;
  return nullptr;
}

TEST(SystemProcessQuery, ListsProcessesWithTheirSessionAndCreationTimeAndDropsEndedOnes) {
  SystemProcessQuery query;
  std::vector<ProcessRecord> records;
  ASSERT_TRUE(query.Read(kNtdll, records));
  const ProcessRecord* self = FindRecord(records, ::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  EXPECT_EQ(self->session, session);
  EXPECT_NE(self->created, 0u);
  EXPECT_EQ(self->created, CreationTime(::GetCurrentProcess()));

  char system[MAX_PATH] = "";
  ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
  std::string command = "\"" + std::string(system) + "\\notepad.exe\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const unique_handle thread(pi.hThread);
  unique_handle child(pi.hProcess);
  ASSERT_TRUE(query.Read(kNtdll, records));
  const ProcessRecord* started = FindRecord(records, pi.dwProcessId);
  ASSERT_NE(started, nullptr);
  const ProcessRecord listed = *started;
  EXPECT_EQ(listed.created, CreationTime(child.get()));

  ::TerminateProcess(child.get(), 0);
  ASSERT_EQ(::WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
  child.reset();
  ASSERT_TRUE(query.Read(kNtdll, records));
  const ProcessRecord* again = FindRecord(records, pi.dwProcessId);
  EXPECT_TRUE(again == nullptr || again->created != listed.created);

  EXPECT_FALSE(query.Read("vardex-no-such-library.dll", records));
  EXPECT_TRUE(records.empty());
  EXPECT_FALSE(query.Read("KERNEL32.DLL", records));  // loads, but has no such query
}

TEST(ProcessPathCache, APathServesOnlyItsOwnProcessAndGoesWhenItEnds) {
  ProcessPathCache cache;
  const ProcessRecord first{100, 1, 5000};
  const ProcessRecord reused{100, 1, 6000};  // a later process with the same identifier
  const ProcessRecord other{200, 1, 5500};
  cache.Store(first, "C:\\A.EXE");
  cache.Store(other, "");  // a path that cannot be read is kept as such
  ASSERT_NE(cache.Find(first), nullptr);
  EXPECT_EQ(*cache.Find(first), "C:\\A.EXE");
  EXPECT_EQ(cache.Find(reused), nullptr);
  ASSERT_NE(cache.Find(other), nullptr);
  EXPECT_EQ(*cache.Find(other), "");

  // Without a creation time nothing can tell two processes apart.
  const ProcessRecord unknown{300, 1, 0};
  cache.Store(unknown, "C:\\C.EXE");
  EXPECT_EQ(cache.Find(unknown), nullptr);

  // The identifier 100 now names the later process: the old path goes.
  cache.Retain({reused, other});
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.Find(first), nullptr);
  cache.Store(reused, "C:\\B.EXE");
  EXPECT_EQ(*cache.Find(reused), "C:\\B.EXE");
  cache.Retain({});
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace win32
