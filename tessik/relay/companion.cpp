#include "relay/companion.h"

#include <algorithm>
#include <utility>

#include "relay/companion_protocol.h"
#include "relay/hooks.h"
#include "win32/result.h"

namespace tessik {
namespace {

// A set runs on the client's UI thread, which pumps no messages meanwhile:
// waiting for the helper to come up and its answer together stay within
// kSetBudgetMs. A helper still coming up is looked at again by later sets,
// and given up (ended) once kStartDeadlineMs have passed since its start.
// After a failed start the next one comes kRetryAfterMs later, not at every
// set. A helper that leaves kMaxUnanswered requests in a row unanswered is
// given up too: its requests would otherwise pile up in the pipe.
constexpr DWORD kSetBudgetMs = 1000;
constexpr DWORD kReadyWaitMs = 750;
constexpr DWORD kStartDeadlineMs = 10000;
constexpr DWORD kRetryAfterMs = 60000;
constexpr int kMaxUnanswered = 3;

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
  if (pending_ready_) {
    // Our own helper that never came up: nothing else would end it.
    ::TerminateProcess(process_.get(), 1);
  } else if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_)) {
    // A closed pipe lets the helper go, once it looks.
    requests_.reset();
    ::PostMessageA(window_, companion::kWmRequestWaiting, 0, 0);
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
  if (count == 0) {
    RemoveHooks();
    return 0;
  }
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (IsRunning() && hooked_ && count == all_hooked_count_ &&
      std::equal(thread_ids, thread_ids + count, all_hooked_, all_hooked_ + count)) {
    return count;
  }
  all_hooked_count_ = 0;
  const DWORD began = ::GetTickCount();
  if (!IsRunning() && !Start()) return 0;
  const DWORD spent = ::GetTickCount() - began;
  if (spent >= kSetBudgetMs) {
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_TIMEOUT), "companion set: its start took the set's whole time");
    return 0;
  }
  DWORD_PTR hooked = 0;
  // Even without an answer the helper may have set some: RemoveHooks asks.
  hooked_ = true;
  if (!Request(thread_ids, count, kSetBudgetMs - spent, &hooked)) return 0;
  if (hooked < count) return static_cast<DWORD>(hooked);
  std::copy(thread_ids, thread_ids + count, all_hooked_);
  all_hooked_count_ = count;
  return count;
}

void Companion::RemoveHooks() noexcept {
  all_hooked_count_ = 0;
  DWORD_PTR removed = 0;
  if (hooked_ && IsRunning()) Request(nullptr, 0, kSetBudgetMs, &removed);
  hooked_ = false;
}

bool Companion::IsRunning() const noexcept {
  return process_ && !pending_ready_ && ::InterlockedCompareExchange(&g_unloading, 0, 0) == 0 &&
         ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_);
}

// Writes the request into the pipe, then tells the helper that it waits.
bool Companion::Request(const DWORD* thread_ids, DWORD count, DWORD timeout_ms, DWORD_PTR* hooked) noexcept {
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  DWORD request[1 + kMaxHookedThreads] = {count};
  for (DWORD i = 0; i < count; ++i) request[1 + i] = thread_ids[i];
  const DWORD bytes = (1 + count) * static_cast<DWORD>(sizeof(DWORD));
  DWORD written = 0;
  if (!::WriteFile(requests_.get(), request, bytes, &written, nullptr) || written != bytes) {
    REPORT_LAST_ERROR("companion request: writing it into the pipe");
    GiveUp();
    return false;
  }
  if (!::SendMessageTimeoutA(window_, companion::kWmRequestWaiting, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, timeout_ms,
                             hooked)) {
    REPORT_LAST_ERROR("companion request: no answer in time");
    // The helper runs a request left in the pipe at its next notice.
    if (++unanswered_ >= kMaxUnanswered) GiveUp();
    return false;
  }
  unanswered_ = 0;
  return true;
}

bool Companion::Start() noexcept {
  if (pending_ready_) return AwaitReady(0);
  if (backing_off_ && static_cast<LONG>(::GetTickCount() - retry_at_) < 0) {
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_RETRY), "companion start: waiting after a failed start");
    return false;
  }
  backing_off_ = false;
  if (!Launch()) {
    GiveUp();
    return false;
  }
  return AwaitReady(kReadyWaitMs);
}

bool Companion::Launch() noexcept {
  process_.reset();
  pending_ready_.reset();
  requests_.reset();
  window_ = nullptr;
  hooked_ = false;
  unanswered_ = 0;

  // The helper sits beside this module.
  wchar_t path[MAX_PATH + ARRAYSIZE(companion::kHostFileName)] = L"";
  const DWORD length = ::GetModuleFileNameW(HookModule(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), "companion start: this module's path");
    return false;
  }
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  ::lstrcpyW(name, companion::kHostFileName);

  // The ready signal and the request pipe have no name: only the helper
  // gets them, by inheritance, so nobody else can set the one before the
  // helper does, nor write a request into the other.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  win32::unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  if (!ready) {
    REPORT_LAST_ERROR("companion start: the ready event");
    return false;
  }
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, companion::kPipeBufferSize)) {
    REPORT_LAST_ERROR("companion start: the request pipe");
    return false;
  }
  const win32::unique_handle request_reader(read_end);
  win32::unique_handle requests(write_end);
  if (!::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0)) {
    REPORT_LAST_ERROR("companion start: keeping the pipe's write end");
    return false;
  }
  // ... and the helper inherits nothing else.
  SIZE_T list_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  const win32::unique_process_heap_block list_block(::HeapAlloc(::GetProcessHeap(), 0, list_size));
  const auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_block.get());
  if (!list || !::InitializeProcThreadAttributeList(list, 1, 0, &list_size)) {
    REPORT_LAST_ERROR("companion start: the attribute list");
    return false;
  }
  HANDLE inherited[] = {ready.get(), read_end};
  if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited),
                                   nullptr, nullptr)) {
    REPORT_LAST_ERROR("companion start: the handles to inherit");
    ::DeleteProcThreadAttributeList(list);
    return false;
  }

  // Handle values are 32 bits wide in both bitnesses.
  wchar_t command_line[ARRAYSIZE(path) + 48];
  ::wsprintfW(command_line, L"\"%s\" %lu %lu %lu", path, ::GetCurrentProcessId(),
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(ready.get())),
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(read_end)));
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = list;
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(path, command_line, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                                        nullptr, nullptr, &startup.StartupInfo, &info);
  if (!started) REPORT_LAST_ERROR("companion start: CreateProcess of the helper");
  ::DeleteProcThreadAttributeList(list);
  if (!started) return false;
  // Processes started later with inheritance do not get it.
  ::SetHandleInformation(ready.get(), HANDLE_FLAG_INHERIT, 0);
  const win32::unique_handle thread(info.hThread);
  process_.reset(info.hProcess);
  pending_ready_ = std::move(ready);
  requests_ = std::move(requests);
  started_at_ = ::GetTickCount();
  return true;
}

// Ready with its window: running. Ended, or past its deadline: given up.
// Otherwise still pending.
bool Companion::AwaitReady(DWORD wait_ms) noexcept {
  const HANDLE waits[] = {pending_ready_.get(), process_.get()};
  const DWORD result = ::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, wait_ms);
  if (result == WAIT_OBJECT_0) {
    pending_ready_.reset();
    window_ = FindHostWindow(::GetProcessId(process_.get()));
    if (window_) return true;
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), "companion start: ready, but its window is not there");
  } else if (result == WAIT_TIMEOUT && ::GetTickCount() - started_at_ < kStartDeadlineMs) {
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_TIMEOUT), "companion start: not ready yet (left pending)");
    return false;
  } else if (result == WAIT_TIMEOUT) {
    REPORT_FAILURE(HRESULT_FROM_WIN32(ERROR_TIMEOUT), "companion start: not ready by its deadline");
  } else if (result == WAIT_OBJECT_0 + 1) {
    REPORT_FAILURE(E_ABORT, "companion start: the helper ended before it was ready");
  } else {
    REPORT_LAST_ERROR("companion start: waiting for the helper");
  }
  GiveUp();
  return false;
}

void Companion::GiveUp() noexcept {
  // Our own helper, which did not come up or stopped answering: nothing else
  // would end it.
  if (process_) ::TerminateProcess(process_.get(), 1);
  process_.reset();
  pending_ready_.reset();
  requests_.reset();
  window_ = nullptr;
  hooked_ = false;
  backing_off_ = true;
  retry_at_ = ::GetTickCount() + kRetryAfterMs;
}

}  // namespace tessik
