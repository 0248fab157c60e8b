#include "components/process_list_win32.h"

#include <tlhelp32.h>

#include "win32/unique_any.h"

namespace vardex {
namespace {

// The exit code a process ended by Vardex reports.
constexpr UINT kEndedExitCode = 1;

// The full executable path through an open process handle, upper-cased by the
// system's rules for the ANSI code page; empty when it cannot be read.
std::string UpperImagePath(HANDLE process) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameA(process, 0, path.data(), &size)) {
      path.resize(size);
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  if (!path.empty()) ::CharUpperBuffA(path.data(), static_cast<DWORD>(path.size()));
  return path;
}

bool InSession(DWORD process_id, DWORD session) {
  DWORD theirs = 0;
  return ::ProcessIdToSessionId(process_id, &theirs) && theirs == session;
}

// The path of a process that this list has not seen before. A process that
// refuses even limited access keeps refusing for its whole life, so its empty
// path is worth keeping; one that could be opened but not read (it may not
// have mapped its executable yet) is read again next time.
struct FirstRead {
  std::string path;
  bool lasting;
};

FirstRead ReadNew(DWORD process_id) {
  const win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return {std::string(), ::GetLastError() == ERROR_ACCESS_DENIED};
  std::string path = UpperImagePath(process.get());
  const bool lasting = !path.empty();
  return {std::move(path), lasting};
}

ULONGLONG CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

bool ProcessListWin32::ListProcesses() {
  // A failed snapshot leaves an empty list: an old one could name
  // identifiers that now belong to other processes.
  entries_.clear();
  current_.reset();
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return false;

  if (!query_.Read(ntdll_, records_)) return ListFromSnapshot(session);
  paths_.Retain(records_);
  for (const win32::ProcessRecord& record : records_) {
    // Other users' processes are never listed, so never ended.
    if (record.session != session) continue;
    if (const std::string* known = paths_.Find(record)) {
      entries_.push_back(Entry{record.id, *known, record.created});
      continue;
    }
    FirstRead first = ReadNew(record.id);
    if (first.lasting) paths_.Store(record, first.path);
    entries_.push_back(Entry{record.id, std::move(first.path), record.created});
  }
  return true;
}

bool ProcessListWin32::ListFromSnapshot(DWORD session) {
  const win32::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    // Other users' processes are never listed, so never ended.
    if (!InSession(entry.th32ProcessID, session)) continue;
    std::string path;
    if (const win32::unique_handle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        process) {
      path = UpperImagePath(process.get());
    }
    entries_.push_back(Entry{entry.th32ProcessID, std::move(path), 0});
  }
  return ::GetLastError() == ERROR_NO_MORE_FILES || !entries_.empty();
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

bool ProcessListWin32::KillProcessID(std::int32_t process_id) {
  kill_id_ = static_cast<DWORD>(process_id);
  return true;
}

bool ProcessListWin32::KillProcess() {
  if (!kill_id_) return false;
  const DWORD id = *kill_id_;
  const Entry* listed = nullptr;
  for (const Entry& e : entries_)
    if (e.id == id) listed = &e;
  // Only a listed process whose path was read can be recognised again.
  if (!listed || listed->path.empty()) return false;

  // The open handle pins the process and its identifier: what is checked
  // after opening is what is ended.
  const win32::unique_handle process(
      ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
  if (!process) return false;
  // An ended process that somebody still holds open keeps its identifier;
  // there is nothing left to end.
  if (::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return false;
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session) || !InSession(id, session)) return false;
  if (listed->created != 0 && CreationTime(process.get()) != listed->created) return false;
  if (UpperImagePath(process.get()) != listed->path) return false;
  return ::TerminateProcess(process.get(), kEndedExitCode) != FALSE;
}

}  // namespace vardex
