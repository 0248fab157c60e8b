#include "components/close_request_win32.h"

#include <restartmanager.h>

#include <mutex>
#include <thread>
#include <vector>

#include "win32/result.h"
#include "win32/system_library.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR[]);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT, LPCWSTR[]);
using RmShutdownFn = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO[], LPDWORD);

template <class Fn>
Fn Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// Restart Manager's own request, without force: true when it sent it and
// the program agreed. Its calls wait for the program.
bool AskThroughRestartManager(DWORD process_id, ULONGLONG created) {
  const win32::unique_hmodule rm(win32::load_system_library("rstrtmgr.dll"));
  if (!rm) return false;
  const auto start = Proc<RmStartSessionFn>(rm.get(), "RmStartSession");
  const auto end = Proc<RmEndSessionFn>(rm.get(), "RmEndSession");
  const auto add = Proc<RmRegisterResourcesFn>(rm.get(), "RmRegisterResources");
  const auto shutdown = Proc<RmShutdownFn>(rm.get(), "RmShutdown");
  const auto list = Proc<RmGetListFn>(rm.get(), "RmGetList");
  if (!start || !end || !add || !shutdown || !list) return false;
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start(&session, 0, key) != ERROR_SUCCESS) return false;
  RM_UNIQUE_PROCESS process{};
  process.dwProcessId = process_id;
  process.ProcessStartTime.dwLowDateTime = static_cast<DWORD>(created);
  process.ProcessStartTime.dwHighDateTime = static_cast<DWORD>(created >> 32);
  // A Restart Manager that does not list the process it was given (Wine's
  // stubs, which report success for everything) cannot have asked it.
  UINT needed = 0, none = 0;
  DWORD reasons = 0;
  const bool asked = add(session, 0, nullptr, 1, &process, 0, nullptr) == ERROR_SUCCESS &&
                     list(session, &needed, &none, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0 &&
                     shutdown(session, 0, nullptr) == ERROR_SUCCESS;
  end(session);
  return asked;
}

struct Windows {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) noexcept {
  auto* windows = reinterpret_cast<Windows*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != windows->process_id || ::GetWindow(window, GW_OWNER) != nullptr) return TRUE;
  try {
    windows->found.push_back(window);
    return TRUE;
  } catch (...) {
    return FALSE;  // out of memory: ask the windows found so far
  }
}

// The console window of a process without windows of its own. It belongs
// to the console host, so only attaching to the console names it.
HWND ConsoleWindowOf(DWORD process_id) {
  // A process has one console at a time: requests on other threads wait.
  static std::mutex attach;
  const std::lock_guard<std::mutex> one_at_a_time(attach);
  // Vardex has no console of its own: attaching borrows none of anybody's.
  if (!::AttachConsole(process_id)) return nullptr;
  const HWND console = ::GetConsoleWindow();
  ::FreeConsole();
  return console;
}

void AskThroughMessages(DWORD process_id) {
  Windows windows{process_id, {}};
  ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  if (windows.found.empty()) {
    if (const HWND console = ConsoleWindowOf(process_id)) ::PostMessageW(console, WM_CLOSE, 0, 0);
    return;
  }
  for (const HWND window : windows.found) {
    DWORD_PTR agreed = FALSE;
    // A hung program is given up at once; one that asks its user has as
    // long as the grace period.
    const bool answered = ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                                SMTO_ABORTIFHUNG, kCloseAnswerTimeoutMs, &agreed) != 0;
    if (!answered) continue;
    ::SendMessageTimeoutW(window, WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                          kCloseAnswerTimeoutMs, nullptr);
  }
}

void Ask(DWORD process_id, ULONGLONG created) noexcept {
  try {
    if (!AskThroughRestartManager(process_id, created)) AskThroughMessages(process_id);
  } catch (...) {
    win32::report_exception("RequestClose");  // the grace period's end still comes
  }
}

}  // namespace

bool RequestClose(DWORD process_id, ULONGLONG created) {
  try {
    std::thread(Ask, process_id, created).detach();
    return true;
  } catch (...) {
    return false;  // no thread: the grace period's end still comes
  }
}

}  // namespace vardex
