// The process list against real processes: a notepad started by the test is
// listed with its upper-case path and its creation time, on the system
// services' clock, and named by the whole path only; it is ended by its
// identifier; identifiers the snapshot does not vouch for are refused.
#include "components/process_list_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "components/close_request_win32.h"
#include "components/system_services_win32.h"
#include "processes/process_query.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

std::string Upper(std::string text) {
  ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::string NotepadPath() {
  char dir[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir, n) + "\\notepad.exe";
}

// A program of ours to end: notepad, hidden.
class Child {
 public:
  Child() {
    std::string command = "\"" + NotepadPath() + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      const DWORD error = ::GetLastError();
      ADD_FAILURE() << command << ": CreateProcessA failed with error " << error;
      return;
    }
    ::CloseHandle(pi.hThread);
    process_.reset(pi.hProcess);
    id_ = pi.dwProcessId;
    ::WaitForInputIdle(pi.hProcess, 10000);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (Running()) ::TerminateProcess(process_.get(), 0);
  }

  bool started() const { return static_cast<bool>(process_); }
  HANDLE handle() const { return process_.get(); }
  DWORD id() const { return id_; }
  bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

 private:
  win32::unique_handle process_;
  DWORD id_ = 0;
};

// Selects the entry with `id`; its 1-based index, or 0.
std::int16_t Find(ProcessListWin32& list, DWORD id) {
  const auto count = list.ProcessCount();
  for (std::int32_t i = 1; count && i <= *count; ++i) {
    if (list.ProcessIndex(static_cast<std::int16_t>(i)) && list.ProcessID() == static_cast<std::int32_t>(id))
      return static_cast<std::int16_t>(i);
  }
  return 0;
}

TEST(ProcessListWin32, ListsAStartedProcessWithItsUpperCaseFullPath) {
  Child notepad;
  ASSERT_TRUE(notepad.started());
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  ASSERT_NE(Find(list, notepad.id()), 0);
  EXPECT_EQ(list.ProcessPath(), Upper(NotepadPath()));
  const SystemServicesWin32 system;
  EXPECT_TRUE(system.SameProgramPath(*list.ProcessPath(), NotepadPath()));
  const std::string cut = NotepadPath().substr(0, NotepadPath().size() - 4);
  EXPECT_FALSE(system.SameProgramPath(*list.ProcessPath(), cut)) << "a path without its .exe names nothing";
  EXPECT_FALSE(system.SameProgramPath(*list.ProcessPath(), NotepadPath() + "x"));
  // The file system's rule, not a language's: case only, and any length.
  const std::string long_path = "C:\\" + std::string(290, 'd') + "\\a.exe";
  const std::string fullwidth = win32::wide_to_ansi(L"C:\\Apps\\\xFF23" L"ad.exe");  // best fit: "Cad.exe"
  const struct {
    std::string reported, configured;
    bool same;
  } rule[] = {
      {"C:\\APPS\\CAD.EXE", "c:\\apps\\cad.exe", true},
      {"C:\\APPS\\CAF\xC9.EXE", "C:\\Apps\\Caf\xE9.exe", true},        // É and é, in code page 1252
      {"C:\\APPS\\STRASSE.EXE", "C:\\Apps\\Stra\xDF" "e.exe", false},  // ß is not ss
      {"C:\\APPS\\CAD.EXE", "C:\\Apps\\Ca\xAD" "d.exe", false},        // a soft hyphen is a character
      {"C:\\APPS\\CAD.EXE", fullwidth, false},
      {"C:\\APPS\\CAD.EXE", "C:\\Apps\\Cad.exe ", false},
      {Upper(long_path), long_path, true},
      {long_path.substr(0, 259), long_path, false},
      {long_path, long_path.substr(0, 259), false},
  };
  ASSERT_EQ(::GetACP(), 1252u) << "the table's bytes are code page 1252's";
  EXPECT_EQ(fullwidth, "") << "a character the code page lacks converts to nothing, never to a best fit";
  for (const auto& c : rule) EXPECT_EQ(system.SameProgramPath(c.reported, c.configured), c.same) << c.configured;

  // Milliseconds since 1601, as the system clock counts them; the older
  // list, which has no creation times, reads it from the process.
  const auto created = static_cast<std::int64_t>(win32::process_creation_time(notepad.handle()) / 10000);
  ASSERT_GT(created, 0);
  EXPECT_EQ(list.ProcessCreationTime(), created);
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto now_ms = static_cast<std::int64_t>(win32::file_time_value(now) / 10000);
  EXPECT_LE(created, now_ms);
  EXPECT_GT(created, now_ms - 60 * 1000);
  EXPECT_EQ(list.ProcessParentID(), static_cast<std::int32_t>(::GetCurrentProcessId()));
  ProcessListWin32 older("vardex-no-such-library.dll");
  ASSERT_TRUE(older.ListProcesses());
  ASSERT_NE(Find(older, notepad.id()), 0);
  EXPECT_EQ(older.ProcessCreationTime(), created);
  EXPECT_EQ(older.ProcessParentID(), std::nullopt) << "the older list names no parents";

  char own[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, own, MAX_PATH);
  ASSERT_NE(Find(list, ::GetCurrentProcessId()), 0);
  EXPECT_EQ(list.ProcessPath(), Upper(std::string(own, n)));
}

struct Listed {
  std::int32_t id;
  std::string path;
  bool operator==(const Listed& o) const { return id == o.id && path == o.path; }
};

std::vector<Listed> Entries(ProcessListWin32& list) {
  std::vector<Listed> out;
  const auto count = list.ProcessCount();
  for (std::int32_t i = 1; count && i <= *count; ++i) {
    list.ProcessIndex(static_cast<std::int16_t>(i));
    out.push_back({list.ProcessID().value_or(0), list.ProcessPath().value_or("?")});
  }
  return out;
}

TEST(ProcessListWin32, KeptPathsListWhatTheSnapshotWithFreshPathsLists) {
  Child notepad;
  ASSERT_TRUE(notepad.started());
  ProcessListWin32 list;
  ProcessListWin32 snapshot("vardex-no-such-library.dll");
  ASSERT_TRUE(list.ListProcesses());
  const std::vector<Listed> first = Entries(list);
  ASSERT_TRUE(snapshot.ListProcesses());
  EXPECT_EQ(Entries(snapshot), first);
  // The second list takes the paths it kept; the process ended by it is the
  // one listed.
  ASSERT_TRUE(list.ListProcesses());
  EXPECT_EQ(Entries(list), first);
  ASSERT_NE(Find(list, notepad.id()), 0);
  EXPECT_EQ(list.ProcessPath(), Upper(NotepadPath()));
  ASSERT_TRUE(list.KillProcessID(static_cast<std::int32_t>(notepad.id())));
  EXPECT_TRUE(list.KillProcess());
  EXPECT_EQ(::WaitForSingleObject(notepad.handle(), 10000), WAIT_OBJECT_0);

  // Gone from the next list, and a new notepad is read as new.
  Child next;
  ASSERT_TRUE(next.started());
  ASSERT_TRUE(list.ListProcesses());
  const std::vector<Listed> after = Entries(list);
  for (const Listed& e : after) EXPECT_NE(e.id, static_cast<std::int32_t>(notepad.id()));
  ASSERT_NE(Find(list, next.id()), 0);
  EXPECT_EQ(list.ProcessPath(), Upper(NotepadPath()));
}

TEST(ProcessListWin32, EndsTheNamedProcessAndKeepsTheSnapshot) {
  Child notepad;
  ASSERT_TRUE(notepad.started());
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  const std::int16_t index = Find(list, notepad.id());
  ASSERT_NE(index, 0);
  const auto count = list.ProcessCount();

  ASSERT_TRUE(list.KillProcessID(static_cast<std::int32_t>(notepad.id())));
  EXPECT_TRUE(list.KillProcess());
  EXPECT_EQ(::WaitForSingleObject(notepad.handle(), 10000), WAIT_OBJECT_0);

  // The loop that ended it goes on over the same entries.
  EXPECT_EQ(list.ProcessCount(), count);
  ASSERT_TRUE(list.ProcessIndex(index));
  EXPECT_EQ(list.ProcessID(), static_cast<std::int32_t>(notepad.id()));
  EXPECT_EQ(list.ProcessPath(), Upper(NotepadPath()));
  // Ended already: there is nothing left to end.
  EXPECT_FALSE(list.KillProcess());
}

TEST(ProcessListWin32, RefusesAnIdentifierTheSnapshotDoesNotHold) {
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  // Started after the snapshot: its identifier may be one that an ended
  // process of the snapshot had, and must not be ended on its word.
  Child later;
  ASSERT_TRUE(later.started());
  ASSERT_EQ(Find(list, later.id()), 0);
  ASSERT_TRUE(list.KillProcessID(static_cast<std::int32_t>(later.id())));
  EXPECT_FALSE(list.KillProcess());
  EXPECT_TRUE(later.Running());
}

TEST(ProcessListWin32, NothingIsEndedWithoutAnIdentifier) {
  Child notepad;
  ASSERT_TRUE(notepad.started());
  ProcessListWin32 list;
  ASSERT_TRUE(list.ListProcesses());
  EXPECT_FALSE(list.KillProcess());
  EXPECT_TRUE(notepad.Running());
}

// What a window of this process was sent; it answers yes to every request.
std::vector<UINT> g_sent;
LRESULT CALLBACK Recording(HWND window, UINT message, WPARAM w, LPARAM l) noexcept {
  if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION) {
    g_sent.push_back(message);
    return TRUE;
  }
  return ::DefWindowProcW(window, message, w, l);
}

// The request's messages, sent from another thread as RequestClose's pool
// thread sends them, while this thread takes them.
std::vector<UINT> AskedBy(CloseRequest& request) {
  g_sent.clear();
  std::atomic<bool> done{false};
  std::thread asking([&] {
    request.AskThroughMessages();
    done = true;
  });
  MSG msg;
  while (!done) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  asking.join();
  return g_sent;
}

// The copy asked exits after the checks, and its identifier names another
// process's windows (this process's, here): that process is sent nothing.
// The same request for a copy that runs asks it, and it agrees.
TEST(ProcessListWin32, ARequestSendsNothingOnceItsCopyHasExited) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Recording;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VardexRequestTarget";
  ::RegisterClassW(&wc);
  const win32::unique_hwnd window(::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                                    nullptr, wc.hInstance, nullptr));
  ASSERT_TRUE(window);
  Child copy;
  ASSERT_TRUE(copy.started());
  HANDLE pinned = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), copy.handle(), ::GetCurrentProcess(), &pinned,
                                SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0));
  ::TerminateProcess(copy.handle(), 0);
  ASSERT_EQ(::WaitForSingleObject(copy.handle(), 10000), WAIT_OBJECT_0);
  CloseRequest stale(win32::unique_handle(pinned), ::GetCurrentProcessId());
  EXPECT_EQ(AskedBy(stale), std::vector<UINT>{}) << "a window of another process was asked";
  EXPECT_FALSE(stale.agreed());
  EXPECT_TRUE(stale.done()) << "nothing is left to wait for";

  CloseRequest running(
      win32::unique_handle(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetCurrentProcessId())),
      ::GetCurrentProcessId());
  EXPECT_EQ(AskedBy(running), (std::vector<UINT>{WM_QUERYENDSESSION, WM_ENDSESSION}));
  EXPECT_TRUE(running.agreed());
}

TEST(ProcessListWin32, IndicesOutsideTheSnapshotSelectNothing) {
  ProcessListWin32 list;
  EXPECT_EQ(list.ProcessCount(), 0);
  EXPECT_FALSE(list.ProcessIndex(1));
  ASSERT_TRUE(list.ListProcesses());
  const auto count = list.ProcessCount();
  ASSERT_TRUE(count && *count >= 1);
  ASSERT_TRUE(list.ProcessIndex(1));
  EXPECT_FALSE(list.ProcessIndex(0));
  EXPECT_EQ(list.ProcessPath(), std::nullopt);
  EXPECT_EQ(list.ProcessID(), std::nullopt);
  EXPECT_FALSE(list.ProcessIndex(static_cast<std::int16_t>(*count + 1)));
  EXPECT_FALSE(list.ProcessIndex(-1));
}

}  // namespace
}  // namespace vardex
