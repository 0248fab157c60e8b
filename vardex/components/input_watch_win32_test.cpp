// The input watch against a real console: the console window's owner is
// taken to its program, cmd.exe, on Windows (where the host names the
// program) and under Wine (where the host, conhost.exe, owns the window).
#include "components/input_watch_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32/unique_any.h"

namespace vardex {
namespace {

BOOL CALLBACK CollectConsoleWindow(HWND window, LPARAM found) noexcept {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (::lstrcmpA(name, "ConsoleWindowClass") == 0 || ::lstrcmpA(name, "WineConsoleClass") == 0)
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

std::vector<HWND> ConsoleWindows() {
  std::vector<HWND> found;
  ::EnumWindows(CollectConsoleWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST(InputWatchWin32, AConsoleWindowStandsForItsProgram) {
  const std::vector<HWND> before = ConsoleWindows();
  char dir[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
  std::string command = "\"" + std::string(dir, n) + "\\cmd.exe\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                                        nullptr, &si, &pi);
  const DWORD error = ::GetLastError();
  ASSERT_TRUE(started) << command << ": CreateProcessA failed with error " << error;
  const win32::unique_handle cmd(pi.hProcess), thread(pi.hThread);
  struct End {
    HANDLE process;
    ~End() { ::TerminateProcess(process, 0); }
  } end{cmd.get()};

  HWND console = nullptr;
  for (int i = 0; i < 100 && !console; ++i) {
    for (const HWND w : ConsoleWindows())
      if (std::find(before.begin(), before.end(), w) == before.end()) console = w;
    if (!console) ::Sleep(100);
  }
  ASSERT_NE(console, nullptr) << "no console window appeared";
  DWORD owner = 0;
  ::GetWindowThreadProcessId(console, &owner);
  const InputWatchWin32 watch;
  EXPECT_EQ(watch.ProgramOf(owner), pi.dwProcessId);
  EXPECT_EQ(watch.ProgramOf(::GetCurrentProcessId()), ::GetCurrentProcessId()) << "any other window is its owner's";
}

// The front's moves arrive through the event hook while the thread pumps
// messages, or with the next sample where no event comes (Wine), each naming
// the window's program and thread; raw input is registered beside it.
TEST(InputWatchWin32, TheFrontsMovesAreRecordedInOrder) {
  InputWatchWin32 watch;
  EXPECT_TRUE(watch.raw_input());
  const auto make = [] {
    return win32::unique_hwnd(::CreateWindowExW(0, L"STATIC", L"front", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                                nullptr, nullptr, nullptr));
  };
  const win32::unique_hwnd one = make(), two = make();
  ASSERT_TRUE(one && two);
  (void)watch.Sample();
  const DWORD front_thread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
  std::vector<FrontChange> changes;
  for (const HWND to : {one.get(), two.get()}) {
    ::SetForegroundWindow(to);
    const std::size_t before = changes.size();
    for (int i = 0; i < 50 && changes.size() == before; ++i) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
      for (const FrontChange& change : watch.Sample().front_changes) changes.push_back(change);
      if (changes.size() == before) ::Sleep(20);
    }
    // Without the event (Wine raises none) only a sample sees the front move,
    // and only from one program's thread to another's.
    if (changes.size() == before && (::GetForegroundWindow() != to || front_thread == ::GetCurrentThreadId()))
      GTEST_SKIP() << "no foreground event, and no move a sample could see";
  }
  ASSERT_FALSE(changes.empty()) << "no foreground event arrived";
  const FrontChange& last = changes.back();
  EXPECT_EQ(last.to.process_id, static_cast<std::int32_t>(::GetCurrentProcessId()));
  EXPECT_EQ(last.to.thread_id, static_cast<std::int32_t>(::GetCurrentThreadId()));
  EXPECT_TRUE(last.to.created.has_value());
}

}  // namespace
}  // namespace vardex
