#include "components/close_request_win32.h"

#include <restartmanager.h>

#include <memory>
#include <vector>

#include "processes/process_query.h"
#include "win32/console_attachment.h"
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

}  // namespace

void CloseRequest::Ask() noexcept {
  try {
    if (AskThroughRestartManager(id_, win32::process_creation_time(process_.get())))
      agreed_ = true;
    else
      AskThroughMessages();
  } catch (...) {
    win32::report_exception("RequestClose");  // the grace period's end still comes
  }
}

// A window's handle may pass to another process's window once it is
// destroyed; the process's own handle keeps its identifier while it runs.
bool CloseRequest::Owns(HWND window) const {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  return owner == id_ && Running();
}

void CloseRequest::AskThroughMessages() {
  Windows windows{id_, {}};
  if (Running()) ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  if (windows.found.empty()) {
    AskThroughConsole();
    return;
  }
  bool every_one = true;  // answered yes and returned from WM_ENDSESSION
  for (const HWND window : windows.found) {
    DWORD_PTR agreed = FALSE;
    // A hung program is given up at once; one that asks its user has as
    // long as the grace period.
    const bool answered = Owns(window) && ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                                                SMTO_ABORTIFHUNG, kCloseAnswerTimeoutMs, &agreed) != 0;
    const bool told = answered && Owns(window) &&
                      ::SendMessageTimeoutW(window, WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_CLOSEAPP,
                                            SMTO_ABORTIFHUNG, kCloseAnswerTimeoutMs, nullptr) != 0;
    every_one = every_one && told && agreed;
  }
  agreed_ = every_one;
}

// A process without windows of its own: its console window belongs to the
// console host, so only attaching to the console names it. Closing it ends
// every process in that console, so it is closed only when the copy is the
// console's only client (besides Vardex, attached); a copy started from a
// shell is left to the hard end, which ends that process alone.
void CloseRequest::AskThroughConsole() {
  if (!Running()) return;
  HWND console = nullptr;
  DWORD clients[2] = {};
  DWORD count = 0;
  win32::with_console_of(id_, [&] {
    console = ::GetConsoleWindow();
    count = ::GetConsoleProcessList(clients, 2);
  });
  const bool alone = count == 2 && (clients[0] == id_ || clients[1] == id_);
  if (console && alone && Running()) ::PostMessageW(console, WM_CLOSE, 0, 0);
}

namespace {

// One request on a thread of the system's pool. The context is a copy of the
// request's shared pointer made for the callback alone, so the request lives
// until its Ask returns, whatever became of the list that asked; the
// callback touches nothing else of Vardex's but the console attachment's
// lock and the report channel, neither of which has a destructor that exit
// could run under it. Nothing waits for it at exit: ExitProcess ends the
// pool's threads before any module is detached, and its code lies in the
// executable, which is never unloaded while they run.
void CALLBACK AskOnPool(PTP_CALLBACK_INSTANCE instance, void* context) noexcept {
  const std::unique_ptr<std::shared_ptr<CloseRequest>> request(static_cast<std::shared_ptr<CloseRequest>*>(context));
  // The answers may take the grace period: the pool need not wait for this
  // thread before it runs the next request.
  ::CallbackMayRunLong(instance);
  (*request)->Ask();
}

}  // namespace

std::shared_ptr<CloseRequest> RequestClose(win32::unique_handle process, DWORD id) {
  try {
    auto request = std::make_shared<CloseRequest>(std::move(process), id);
    auto context = std::make_unique<std::shared_ptr<CloseRequest>>(request);
    if (!::TrySubmitThreadpoolCallback(AskOnPool, context.get(), nullptr)) return nullptr;
    context.release();  // the callback's now
    return request;
  } catch (...) {
    return nullptr;  // not started: the grace period's end still comes
  }
}

}  // namespace vardex
