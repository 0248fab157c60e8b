#include "relay/companion.h"

#include <utility>

#include "companion/protocol.h"
#include "relay/hooks.h"

namespace tessik {
namespace {

// How long the helper may take to start, and to answer one request.
constexpr DWORD kStartTimeoutMs = 15000;
constexpr UINT kReplyTimeoutMs = 5000;

bool IsWow64(HANDLE process) noexcept {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(process, &wow64) && wow64;
}

// The helper's message-only window, found by its class and process.
HWND FindHostWindow(DWORD process_id) noexcept {
  for (HWND window = nullptr;
       (window = ::FindWindowExA(HWND_MESSAGE, window, companion::kHostWindowClass, nullptr)) != nullptr;) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) return window;
  }
  return nullptr;
}

}  // namespace

Companion::~Companion() {
  if (IsRunning()) ::PostMessageA(window_, WM_CLOSE, 0, 0);
}

bool Companion::IsNeededFor(DWORD thread_id) noexcept {
  // A 32-bit system, or a 64-bit build of this module, hooks every program itself.
  if (!IsWow64(::GetCurrentProcess())) return false;
  const win32::unique_handle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_id));
  if (!thread) return false;
  const win32::unique_handle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetProcessIdOfThread(thread.get())));
  return process && !IsWow64(process.get());
}

DWORD Companion::SetHooks(const DWORD* thread_ids, DWORD count) noexcept {
  if (count == 0 || (!IsRunning() && !Start())) return 0;
  COPYDATASTRUCT request{};
  request.dwData = companion::kSetHooksRequest;
  request.cbData = count * static_cast<DWORD>(sizeof(DWORD));
  request.lpData = const_cast<DWORD*>(thread_ids);
  DWORD_PTR hooked = 0;
  // Even without an answer the helper may have set some: RemoveHooks asks.
  hooked_ = true;
  if (!Ask(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request), &hooked)) return 0;
  return hooked < count ? static_cast<DWORD>(hooked) : count;
}

void Companion::RemoveHooks() noexcept {
  DWORD_PTR removed = 0;
  if (hooked_ && IsRunning()) Ask(companion::kWmRemoveHooks, 0, 0, &removed);
  hooked_ = false;
}

bool Companion::IsRunning() const noexcept {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_);
}

bool Companion::Ask(UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) noexcept {
  return ::SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                               result) != 0;
}

bool Companion::Start() noexcept {
  process_.reset();
  window_ = nullptr;
  hooked_ = false;

  // The helper sits beside this module.
  wchar_t path[MAX_PATH + ARRAYSIZE(companion::kHostFileName)] = L"";
  const DWORD length = ::GetModuleFileNameW(HookModule(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  ::lstrcpyW(name, companion::kHostFileName);

  char event_name[64];
  ::wsprintfA(event_name, "TessikHost64Ready-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
  const win32::unique_handle ready(::CreateEventA(nullptr, TRUE, FALSE, event_name));
  if (!ready) return false;

  wchar_t command_line[ARRAYSIZE(path) + 96];
  ::wsprintfW(command_line, L"\"%s\" %lu %S", path, ::GetCurrentProcessId(), event_name);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(path, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  win32::unique_handle process(info.hProcess);
  const win32::unique_handle thread(info.hThread);

  // Ready, or ended before it was.
  const HANDLE waits[] = {ready.get(), process.get()};
  if (::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, kStartTimeoutMs) != WAIT_OBJECT_0) return false;
  window_ = FindHostWindow(info.dwProcessId);
  if (!window_) return false;
  process_ = std::move(process);
  return true;
}

}  // namespace tessik
