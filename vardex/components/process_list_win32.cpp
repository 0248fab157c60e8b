#include "components/process_list_win32.h"

#include <iterator>

#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

// The exit code a process ended by Vardex reports.
constexpr UINT kEndedExitCode = 1;

bool InSession(DWORD process_id, DWORD session) {
  DWORD theirs = 0;
  return ::ProcessIdToSessionId(process_id, &theirs) && theirs == session;
}

}  // namespace

ProcessListWin32::ProcessListWin32(const char* ntdll) : ntdll_(ntdll), psapi_(win32::load_system_library(win32::kPsapi)) {}

bool ProcessListWin32::ListProcesses() {
  // A failed snapshot leaves an empty list: an old one could name
  // identifiers that now belong to other processes.
  entries_.clear();
  current_.reset();
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return false;
  // Other users' processes are never listed, so never ended.
  return reader_.read({ntdll_, psapi_.get()}, session, entries_);
}

std::optional<std::int32_t> ProcessListWin32::ProcessCount() {
  return static_cast<std::int32_t>(entries_.size());
}

bool ProcessListWin32::ProcessIndex(std::int16_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > entries_.size()) {
    current_.reset();
    return false;
  }
  current_ = static_cast<std::size_t>(index) - 1;
  return true;
}

std::optional<std::string> ProcessListWin32::ProcessPath() {
  if (!current_) return std::nullopt;
  return entries_[*current_].path;
}

std::optional<std::int32_t> ProcessListWin32::ProcessID() {
  if (!current_) return std::nullopt;
  // Process identifiers are 32-bit values; the interface carries them signed.
  return static_cast<std::int32_t>(entries_[*current_].id);
}

std::optional<std::int64_t> ProcessListWin32::ProcessCreationTime() {
  if (!current_) return std::nullopt;
  ULONGLONG created = entries_[*current_].created;
  if (created == 0) {
    const win32::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entries_[*current_].id));
    if (process) created = win32::process_creation_time(process.get());
  }
  if (created == 0) return std::nullopt;
  return static_cast<std::int64_t>(created / 10000);  // 100-ns units to ms
}

std::optional<std::int32_t> ProcessListWin32::ProcessParentID() {
  if (!current_ || entries_[*current_].parent == 0) return std::nullopt;
  return static_cast<std::int32_t>(entries_[*current_].parent);
}

std::optional<WorkDone> ProcessListWin32::ProcessWorkDone() {
  // Only the query gives creation times with its entries.
  if (!current_ || entries_[*current_].created == 0) return std::nullopt;
  const win32::process_entry& entry = entries_[*current_];
  return WorkDone{static_cast<std::int64_t>(entry.cpu_time / 10000), static_cast<std::int64_t>(entry.io_bytes)};
}

bool ProcessListWin32::KillProcessID(std::int32_t process_id) {
  kill_id_ = static_cast<DWORD>(process_id);
  return true;
}

win32::unique_handle ProcessListWin32::OpenKillTarget(DWORD access) {
  if (!kill_id_) return {};
  const DWORD id = *kill_id_;
  const win32::process_entry* listed = nullptr;
  for (const win32::process_entry& e : entries_)
    if (e.id == id) listed = &e;
  // Only a listed process whose path was read can be recognised again.
  if (!listed || listed->path.empty()) return {};

  // The open handle pins the process and its identifier: what is checked
  // after opening, also through other opens by the identifier, is what is
  // ended or asked.
  win32::unique_handle process(::OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
  if (!process) return {};
  // An ended process that somebody still holds open keeps its identifier;
  // there is nothing left to end.
  if (::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return {};
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session) || !InSession(id, session)) return {};
  if (listed->created != 0 && win32::process_creation_time(process.get()) != listed->created) return {};
  if (reader_.read_path_now({ntdll_, psapi_.get()}, id) != listed->path) return {};
  return process;
}

bool ProcessListWin32::KillProcess() {
  const win32::unique_handle process = OpenKillTarget(PROCESS_TERMINATE);
  return process && ::TerminateProcess(process.get(), kEndedExitCode) != FALSE;
}

bool ProcessListWin32::AskToClose() {
  win32::unique_handle process = OpenKillTarget(0);
  if (!process) return false;
  for (auto it = requests_.begin(); it != requests_.end();) it = it->second->Running() ? std::next(it) : requests_.erase(it);
  auto request = RequestClose(std::move(process), *kill_id_);
  if (!request) return false;
  requests_[*kill_id_] = std::move(request);
  return true;
}

std::optional<std::string> ProcessListWin32::RestartCommand() {
  // The restart settings live in the process's memory.
  const win32::unique_handle process = OpenKillTarget(PROCESS_VM_READ);
  if (!process) return std::nullopt;
  wchar_t command[RESTART_MAX_CMD_LINE];
  DWORD size = RESTART_MAX_CMD_LINE, flags = 0;
  // None registered, or E_NOTIMPL under Wine: the path alone.
  if (FAILED(::GetApplicationRestartSettings(process.get(), command, &size, &flags))) return std::nullopt;
  command[RESTART_MAX_CMD_LINE - 1] = L'\0';
  return win32::wide_to_utf8(command);
}

bool ProcessListWin32::AgreedToClose() {
  if (!kill_id_) return false;
  const auto it = requests_.find(*kill_id_);
  return it != requests_.end() && it->second->done();
}

}  // namespace vardex
