// A launcher as single-instance programs have: it finds the running copy's
// window (by class), brings it to the front and exits, as a copy started by a
// double click on a document does after passing it on. A heavy launcher
// takes its time: with MS and PROGRAM, a hidden copy of PROGRAM (the
// launcher's own copy of the program, started from outside it) runs for MS
// before the hand-over and is ended after it.
//   hand_over CLASS [MS PROGRAM]   exit 0 when the window was found and brought forward
#include <windows.h>

#include <cwchar>

struct Search {
  const wchar_t* window_class;
  DWORD besides;  // the launcher's own copy, whose window is hidden
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t name[256] = {};
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->besides || !::IsWindowVisible(window) || !::GetClassNameW(window, name, 256) ||
      std::wcscmp(name, search->window_class) != 0)
    return TRUE;
  search->found = window;
  return FALSE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 4) return 2;
  PROCESS_INFORMATION copy{};
  if (argc == 4) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    if (!::CreateProcessW(argv[3], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &copy)) return 4;
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  Search search{argv[1], copy.dwProcessId, nullptr};
  ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  const HWND running = search.found;
  const int result = !running ? 1 : ::SetForegroundWindow(running) ? 0 : 3;
  if (copy.hProcess) {
    ::TerminateProcess(copy.hProcess, 0);
    ::CloseHandle(copy.hProcess);
    ::CloseHandle(copy.hThread);
  }
  return result;
}
