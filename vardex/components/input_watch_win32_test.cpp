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

}  // namespace
}  // namespace vardex
