#include "relay/companion.h"

#include <algorithm>
#include <utility>

#include "relay/companion_protocol.h"
#include "relay/hooks.h"
#include "win32/inherit_list.h"
#include "win32/scope_exit.h"

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
  const win32::report_once_scope once(reports_);
  DWORD hooked = 0;
  // A failing step is reported where it fails.
  static_cast<void>(Set(thread_ids, count, deadline, &hooked));
  return hooked;
}

HRESULT Companion::Set(const DWORD* thread_ids, DWORD count, DWORD deadline, DWORD* hooked) noexcept {
  if (count == 0) {
    RemoveHooks(deadline);
    return S_OK;
  }
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (IsRunning() && hooked_ && count == all_hooked_count_ &&
      std::equal(thread_ids, thread_ids + count, all_hooked_, all_hooked_ + count)) {
    *hooked = count;
    return S_OK;
  }
  all_hooked_count_ = 0;
  if (!IsRunning()) RETURN_IF_FAILED_EXPECTED(Start(deadline));
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_TIMEOUT), TimeLeft(deadline) == 0,
                   "companion set: its start took the set's whole time");
  // Even without an answer the helper may have set some: RemoveHooks asks.
  hooked_ = true;
  RETURN_IF_FAILED_EXPECTED(Request(thread_ids, count, deadline, hooked));
  if (*hooked < count) return S_FALSE;
  std::copy(thread_ids, thread_ids + count, all_hooked_);
  all_hooked_count_ = count;
  return S_OK;
}

void Companion::RemoveHooks(DWORD deadline) noexcept {
  const win32::report_once_scope once(reports_);
  all_hooked_count_ = 0;
  DWORD removed = 0;
  if (hooked_ && IsRunning()) static_cast<void>(Request(nullptr, 0, deadline, &removed));
  hooked_ = false;
}

bool Companion::IsRunning() const noexcept {
  return state_ == State::kRunning && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT && ::IsWindow(window_);
}

// Writes the request into the pipe, then tells the helper that it waits and
// takes the answer that names it.
HRESULT Companion::Request(const DWORD* thread_ids, DWORD count, DWORD deadline, DWORD* hooked) noexcept {
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (++sequence_ == 0) sequence_ = 1;
  DWORD request[1 + kMaxHookedThreads] = {};
  const companion::SetHooksHeader header{sequence_, static_cast<WORD>(count)};
  static_assert(sizeof(header) == sizeof(DWORD), "the header takes one slot");
  ::CopyMemory(request, &header, sizeof(header));
  for (DWORD i = 0; i < count; ++i) request[1 + i] = thread_ids[i];
  const DWORD bytes = (1 + count) * static_cast<DWORD>(sizeof(DWORD));
  DWORD written = 0;
  {
    auto back_off = win32::scope_exit([this]() noexcept { Reset(State::kBackingOff); });
    RETURN_LAST_ERROR_IF_MSG(!::WriteFile(requests_.get(), request, bytes, &written, nullptr) || written != bytes,
                             "companion request: writing it into the pipe");
    back_off.release();
  }
  // The helper runs a request left in the pipe at its next notice.
  auto unanswered = win32::scope_exit([this]() noexcept { Unanswered(); });
  const DWORD left = TimeLeft(deadline);
  if (left == 0) {
    // The set's time is spent: the helper runs the request at this notice,
    // and nobody waits for its answer.
    ::PostMessageA(window_, companion::kWmRequestWaiting, sequence_, 0);
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  DWORD_PTR answer = 0;
  RETURN_LAST_ERROR_IF_MSG(!::SendMessageTimeoutA(window_, companion::kWmRequestWaiting, sequence_, 0,
                                                  SMTO_BLOCK | SMTO_ABORTIFHUNG, left, &answer),
                           "companion request: no answer in time");
  RETURN_HR_IF_MSG(E_UNEXPECTED, companion::AnswerSequence(answer) != sequence_,
                   "companion request: an answer that names another request");
  unanswered.release();
  unanswered_ = 0;
  reports_.succeeded();
  *hooked = companion::AnswerHooked(answer);
  return S_OK;
}

void Companion::Unanswered() noexcept {
  if (++unanswered_ >= kMaxUnanswered) Reset(State::kStopped);
}

HRESULT Companion::Start(DWORD deadline) noexcept {
  if (state_ == State::kStarting) return AwaitReady(0);
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_RETRY),
                   state_ == State::kBackingOff && ::GetTickCount() - since_ < kRetryAfterMs,
                   "companion start: waiting after a failed start");
  // A helper that ended of itself, or one we let go, is forgotten first.
  Reset(State::kStopped);
  {
    auto back_off = win32::scope_exit([this]() noexcept { Reset(State::kBackingOff); });
    RETURN_IF_FAILED_EXPECTED(Launch());
    back_off.release();
  }
  return AwaitReady(std::min(kReadyWaitMs, TimeLeft(deadline)));
}

HRESULT Companion::Launch() noexcept {
  wchar_t path[kPathSize] = L"";
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), !HelperPath(path),
                   "companion start: this module's path");
  // The ready signal and the request pipe have no name: only the helper
  // gets them, by inheritance, so nobody else can set the one before the
  // helper does, nor write a request into the other.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  win32::unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  RETURN_LAST_ERROR_IF_MSG(!ready, "companion start: the ready event");
  win32::unique_handle request_reader;
  win32::unique_handle requests;
  RETURN_IF_WIN32_BOOL_FALSE_MSG(
      ::CreatePipe(request_reader.put(), requests.put(), &inheritable, companion::kPipeBufferSize),
      "companion start: the request pipe");
  RETURN_IF_WIN32_BOOL_FALSE_MSG(::SetHandleInformation(requests.get(), HANDLE_FLAG_INHERIT, 0),
                                 "companion start: keeping the pipe's write end");
  // A write never waits for the helper: with the pipe full it writes less,
  // and the helper is given up (Request).
  DWORD no_wait = PIPE_NOWAIT;
  RETURN_IF_WIN32_BOOL_FALSE_MSG(::SetNamedPipeHandleState(requests.get(), &no_wait, nullptr, nullptr),
                                 "companion start: the pipe's write end that never waits");
  // The helper watches this process by a handle it inherits: an identifier
  // could name another process once this one is gone.
  win32::unique_handle parent;
  RETURN_IF_WIN32_BOOL_FALSE_MSG(::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(),
                                                   ::GetCurrentProcess(), parent.put(), SYNCHRONIZE, TRUE, 0),
                                 "companion start: this process's handle for the helper");
  // ... and the helper inherits nothing else.
  HANDLE inherited[] = {parent.get(), ready.get(), request_reader.get()};
  const win32::inherit_list only(inherited, ARRAYSIZE(inherited));
  RETURN_LAST_ERROR_IF_NULL_MSG(only.get(), "companion start: the list of handles to inherit");

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
  RETURN_IF_WIN32_BOOL_FALSE_MSG(::CreateProcessW(path, command_line, nullptr, nullptr, TRUE,
                                                  EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                                  &startup.StartupInfo, &info),
                                 "companion start: CreateProcess of the helper");
  // Processes started later with inheritance do not get it.
  ::SetHandleInformation(ready.get(), HANDLE_FLAG_INHERIT, 0);
  const win32::unique_handle thread(info.hThread);
  process_.reset(info.hProcess);
  ready_ = std::move(ready);
  requests_ = std::move(requests);
  state_ = State::kStarting;
  since_ = ::GetTickCount();
  return S_OK;
}

// Ready with its window: running. Ended, or past its deadline: given up.
// Otherwise still pending.
HRESULT Companion::AwaitReady(DWORD wait_ms) noexcept {
  const HANDLE waits[] = {ready_.get(), process_.get()};
  const DWORD result = ::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, wait_ms);
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_TIMEOUT),
                   result == WAIT_TIMEOUT && ::GetTickCount() - since_ < kStartDeadlineMs,
                   "companion start: not ready yet (left pending)");
  auto give_up = win32::scope_exit([this]() noexcept { Reset(State::kBackingOff); });
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_TIMEOUT), result == WAIT_TIMEOUT,
                   "companion start: not ready by its deadline");
  RETURN_HR_IF_MSG(E_ABORT, result == WAIT_OBJECT_0 + 1, "companion start: the helper ended before it was ready");
  RETURN_LAST_ERROR_IF_MSG(result != WAIT_OBJECT_0, "companion start: waiting for the helper");
  ready_.reset();
  window_ = FindHostWindow(::GetProcessId(process_.get()));
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !window_,
                   "companion start: ready, but its window is not there");
  give_up.release();
  state_ = State::kRunning;
  since_ = ::GetTickCount();
  return S_OK;
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
