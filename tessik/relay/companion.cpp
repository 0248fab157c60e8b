#include "relay/companion.h"

#include <utility>

#include "companion/protocol.h"
#include "relay/hooks.h"

namespace tessik {
namespace {

// The longest a set waits for the helper to come up: it runs on the
// client's UI thread, which pumps no messages meanwhile. A helper still
// coming up is looked at again by later sets, and given up (ended) once
// kStartDeadlineMs have passed since its start. After a failed start the
// next one comes kRetryAfterMs later, not at every set.
constexpr DWORD kReadyWaitMs = 1000;
constexpr DWORD kStartDeadlineMs = 10000;
constexpr DWORD kRetryAfterMs = 60000;
// How long one request may take.
constexpr UINT kReplyTimeoutMs = 1000;

// Set at the module's unload: nothing is sent to the helper under the loader lock.
LONG g_unloading = 0;

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
  if (ready_) {
    // Our own helper that never came up: nothing else would end it.
    ::TerminateProcess(process_.get(), 1);
  } else if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_)) {
    ::PostMessageA(window_, WM_CLOSE, 0, 0);
  }
}

void Companion::PrepareForUnload() noexcept { ::InterlockedExchange(&g_unloading, 1); }

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
  return process_ && !ready_ && ::InterlockedCompareExchange(&g_unloading, 0, 0) == 0 &&
         ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_);
}

bool Companion::Ask(UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) noexcept {
  return ::SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                               result) != 0;
}

bool Companion::Start() noexcept {
  if (ready_) return AwaitReady(0);
  if (backing_off_ && static_cast<LONG>(::GetTickCount() - retry_at_) < 0) return false;
  backing_off_ = false;
  if (!Launch()) {
    GiveUp();
    return false;
  }
  return AwaitReady(kReadyWaitMs);
}

bool Companion::Launch() noexcept {
  process_.reset();
  ready_.reset();
  window_ = nullptr;
  hooked_ = false;

  // The helper sits beside this module.
  wchar_t path[MAX_PATH + ARRAYSIZE(companion::kHostFileName)] = L"";
  const DWORD length = ::GetModuleFileNameW(HookModule(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  ::lstrcpyW(name, companion::kHostFileName);

  // The ready signal has no name: only the helper gets it, by inheritance,
  // so nobody else can set it before the helper does.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  win32::unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  if (!ready) return false;
  // ... and the helper inherits nothing else.
  SIZE_T list_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  const win32::unique_process_heap_block list_block(::HeapAlloc(::GetProcessHeap(), 0, list_size));
  const auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_block.get());
  if (!list || !::InitializeProcThreadAttributeList(list, 1, 0, &list_size)) return false;
  HANDLE inherited = ready.get();
  const bool listed = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                                  sizeof(inherited), nullptr, nullptr) != FALSE;

  // Handle values are 32 bits wide in both bitnesses.
  wchar_t command_line[ARRAYSIZE(path) + 32];
  ::wsprintfW(command_line, L"\"%s\" %lu %lu", path, ::GetCurrentProcessId(),
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(ready.get())));
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = list;
  PROCESS_INFORMATION info{};
  const BOOL started = listed && ::CreateProcessW(path, command_line, nullptr, nullptr, TRUE,
                                                  EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                                  &startup.StartupInfo, &info);
  ::DeleteProcThreadAttributeList(list);
  if (!started) return false;
  // Processes started later with inheritance do not get it.
  ::SetHandleInformation(ready.get(), HANDLE_FLAG_INHERIT, 0);
  const win32::unique_handle thread(info.hThread);
  process_.reset(info.hProcess);
  ready_ = std::move(ready);
  started_at_ = ::GetTickCount();
  return true;
}

// Ready with its window: running. Ended, or past its deadline: given up.
// Otherwise still pending.
bool Companion::AwaitReady(DWORD wait_ms) noexcept {
  const HANDLE waits[] = {ready_.get(), process_.get()};
  const DWORD result = ::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, wait_ms);
  if (result == WAIT_OBJECT_0) {
    ready_.reset();
    window_ = FindHostWindow(::GetProcessId(process_.get()));
    if (window_) return true;
  } else if (result == WAIT_TIMEOUT && ::GetTickCount() - started_at_ < kStartDeadlineMs) {
    return false;
  }
  GiveUp();
  return false;
}

void Companion::GiveUp() noexcept {
  // Our own helper, which did not come up: nothing else would end it.
  if (process_) ::TerminateProcess(process_.get(), 1);
  process_.reset();
  ready_.reset();
  window_ = nullptr;
  backing_off_ = true;
  retry_at_ = ::GetTickCount() + kRetryAfterMs;
}

}  // namespace tessik
