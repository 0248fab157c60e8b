#include "relay/companion.h"

#include <algorithm>
#include <utility>

#include "relay/companion_protocol.h"
#include "relay/hooks.h"
#include "win32/inherit_list.h"

namespace tessik {
namespace {

// Waiting for the helper to come up takes at most kReadyWaitMs of a set. A
// helper still coming up is looked at again by later sets, and given up
// (ended) once kStartDeadlineMs have passed since its start. After a failed
// start the next one comes kRetryAfterMs later, not at every set. A helper
// that leaves kMaxUnanswered requests in a row without their own answer (no
// answer in time, one that names another request, or none waited for) is
// ended, and the next set starts another: its requests would otherwise pile
// up in the pipe. So at most that many requests are ever in the pipe, which
// holds many more, and writing one never waits for the helper to read.
constexpr DWORD kReadyWaitMs = 750;
constexpr DWORD kStartDeadlineMs = 10000;
constexpr DWORD kRetryAfterMs = 60000;
constexpr int kMaxUnanswered = 3;

bool IsWow64(HANDLE process) noexcept {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(process, &wow64) && wow64;
}

// What is left of a set's time, in milliseconds.
DWORD TimeLeft(DWORD deadline) noexcept {
  const LONG left = static_cast<LONG>(deadline - ::GetTickCount());
  return left > 0 ? static_cast<DWORD>(left) : 0;
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

// The helper's full path: it sits beside this module.
constexpr DWORD kPathSize = MAX_PATH + ARRAYSIZE(companion::kHostFileName);
bool HelperPath(wchar_t (&path)[kPathSize]) noexcept {
  const DWORD length = ::GetModuleFileNameW(HookModule(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  ::lstrcpyW(name, companion::kHostFileName);
  return true;
}

}  // namespace

Companion::~Companion() {
  if (state_ == State::kRunning && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_)) {
    // A closed pipe lets the helper go, once it looks: it is not ended.
    requests_.reset();
    ::PostMessageA(window_, companion::kWmRequestWaiting, 0, 0);
    process_.reset();
  }
  Reset(State::kStopped);
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

DWORD Companion::SetHooks(const DWORD* thread_ids, DWORD count, DWORD deadline) noexcept {
  if (count == 0) {
    RemoveHooks(deadline);
    return 0;
  }
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (IsRunning() && hooked_ && count == all_hooked_count_ &&
      std::equal(thread_ids, thread_ids + count, all_hooked_, all_hooked_ + count)) {
    return count;
  }
  all_hooked_count_ = 0;
  if (!IsRunning() && !Start(deadline)) return 0;
  if (TimeLeft(deadline) == 0) {
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_TIMEOUT),
                        "companion set: its start took the set's whole time");
    return 0;
  }
  DWORD hooked = 0;
  // Even without an answer the helper may have set some: RemoveHooks asks.
  hooked_ = true;
  if (!Request(thread_ids, count, deadline, &hooked)) return 0;
  if (hooked < count) return hooked;
  std::copy(thread_ids, thread_ids + count, all_hooked_);
  all_hooked_count_ = count;
  return count;
}

void Companion::RemoveHooks(DWORD deadline) noexcept {
  all_hooked_count_ = 0;
  DWORD removed = 0;
  if (hooked_ && IsRunning()) Request(nullptr, 0, deadline, &removed);
  hooked_ = false;
}

bool Companion::IsRunning() const noexcept {
  return state_ == State::kRunning && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_);
}

// Writes the request into the pipe, then tells the helper that it waits and
// takes the answer that names it.
bool Companion::Request(const DWORD* thread_ids, DWORD count, DWORD deadline, DWORD* hooked) noexcept {
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (++sequence_ == 0) sequence_ = 1;
  DWORD request[1 + kMaxHookedThreads] = {};
  const companion::SetHooksHeader header{sequence_, static_cast<WORD>(count)};
  static_assert(sizeof(header) == sizeof(DWORD), "the header takes one slot");
  ::CopyMemory(request, &header, sizeof(header));
  for (DWORD i = 0; i < count; ++i) request[1 + i] = thread_ids[i];
  const DWORD bytes = (1 + count) * static_cast<DWORD>(sizeof(DWORD));
  DWORD written = 0;
  if (!::WriteFile(requests_.get(), request, bytes, &written, nullptr) || written != bytes) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion request: writing it into the pipe");
    Reset(State::kBackingOff);
    return false;
  }
  const DWORD left = TimeLeft(deadline);
  if (left == 0) {
    // The set's time is spent: the helper runs the request at this notice,
    // and nobody waits for its answer.
    ::PostMessageA(window_, companion::kWmRequestWaiting, sequence_, 0);
    Unanswered();
    return false;
  }
  DWORD_PTR answer = 0;
  if (!::SendMessageTimeoutA(window_, companion::kWmRequestWaiting, sequence_, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                             left, &answer)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion request: no answer in time");
    // The helper runs a request left in the pipe at its next notice.
    Unanswered();
    return false;
  }
  if (companion::AnswerSequence(answer) != sequence_) {
    REPORT_FAILURE_ONCE(reports_, E_UNEXPECTED, "companion request: an answer that names another request");
    Unanswered();
    return false;
  }
  unanswered_ = 0;
  reports_.succeeded();
  *hooked = companion::AnswerHooked(answer);
  return true;
}

void Companion::Unanswered() noexcept {
  if (++unanswered_ >= kMaxUnanswered) Reset(State::kStopped);
}

bool Companion::Start(DWORD deadline) noexcept {
  if (state_ == State::kStarting) return AwaitReady(0);
  if (state_ == State::kBackingOff && ::GetTickCount() - since_ < kRetryAfterMs) {
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_RETRY), "companion start: waiting after a failed start");
    return false;
  }
  // A helper that ended of itself, or one we let go, is forgotten first.
  Reset(State::kStopped);
  if (!Launch()) {
    Reset(State::kBackingOff);
    return false;
  }
  return AwaitReady(std::min(kReadyWaitMs, TimeLeft(deadline)));
}

bool Companion::Launch() noexcept {
  wchar_t path[kPathSize] = L"";
  if (!HelperPath(path)) {
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
                        "companion start: this module's path");
    return false;
  }
  // The ready signal and the request pipe have no name: only the helper
  // gets them, by inheritance, so nobody else can set the one before the
  // helper does, nor write a request into the other.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  win32::unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  if (!ready) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: the ready event");
    return false;
  }
  win32::unique_handle request_reader;
  win32::unique_handle requests;
  if (!::CreatePipe(request_reader.put(), requests.put(), &inheritable, companion::kPipeBufferSize)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: the request pipe");
    return false;
  }
  if (!::SetHandleInformation(requests.get(), HANDLE_FLAG_INHERIT, 0)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: keeping the pipe's write end");
    return false;
  }
  // A write never waits for the helper: with the pipe full it writes less,
  // and the helper is given up (Request).
  DWORD no_wait = PIPE_NOWAIT;
  if (!::SetNamedPipeHandleState(requests.get(), &no_wait, nullptr, nullptr)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: the pipe's write end that never waits");
    return false;
  }
  // The helper watches this process by a handle it inherits: an identifier
  // could name another process once this one is gone.
  win32::unique_handle parent;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), parent.put(),
                         SYNCHRONIZE, TRUE, 0)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: this process's handle for the helper");
    return false;
  }
  // ... and the helper inherits nothing else.
  HANDLE inherited[] = {parent.get(), ready.get(), request_reader.get()};
  const win32::inherit_list only(inherited, ARRAYSIZE(inherited));
  if (!only.get()) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: the list of handles to inherit");
    return false;
  }

  // Handle values are 32 bits wide in both bitnesses.
  wchar_t command_line[kPathSize + 48];
  ::wsprintfW(command_line, L"\"%s\" %lu %lu %lu", path,
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(parent.get())),
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(ready.get())),
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(request_reader.get())));
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = only.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(path, command_line, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                        &startup.StartupInfo, &info)) {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: CreateProcess of the helper");
    return false;
  }
  // Processes started later with inheritance do not get it.
  ::SetHandleInformation(ready.get(), HANDLE_FLAG_INHERIT, 0);
  const win32::unique_handle thread(info.hThread);
  process_.reset(info.hProcess);
  ready_ = std::move(ready);
  requests_ = std::move(requests);
  state_ = State::kStarting;
  since_ = ::GetTickCount();
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
    if (window_) {
      state_ = State::kRunning;
      since_ = ::GetTickCount();
      return true;
    }
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                        "companion start: ready, but its window is not there");
  } else if (result == WAIT_TIMEOUT && ::GetTickCount() - since_ < kStartDeadlineMs) {
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_TIMEOUT), "companion start: not ready yet (left pending)");
    return false;
  } else if (result == WAIT_TIMEOUT) {
    REPORT_FAILURE_ONCE(reports_, HRESULT_FROM_WIN32(ERROR_TIMEOUT), "companion start: not ready by its deadline");
  } else if (result == WAIT_OBJECT_0 + 1) {
    REPORT_FAILURE_ONCE(reports_, E_ABORT, "companion start: the helper ended before it was ready");
  } else {
    REPORT_LAST_ERROR_ONCE(reports_, "companion start: waiting for the helper");
  }
  Reset(State::kBackingOff);
  return false;
}

void Companion::Reset(State next) noexcept {
  if (process_) ::TerminateProcess(process_.get(), 1);
  process_.reset();
  ready_.reset();
  requests_.reset();
  window_ = nullptr;
  hooked_ = false;
  unanswered_ = 0;
  all_hooked_count_ = 0;
  state_ = next;
  since_ = ::GetTickCount();
}

}  // namespace tessik
