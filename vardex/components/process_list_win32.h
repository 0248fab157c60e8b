// ProcessList over the Win32 process APIs: the processes in the caller's own
// session, with each one's executable path in upper case, and TerminateProcess
// for the one KillProcessID names. The list and the paths come from the
// module's process reader (common/processes/process_reader.h): one system-wide
// query, and each process's path read once in its life and kept while it
// runs; PSAPI's identifier list with every path read afresh where the query
// is absent.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/close_request_win32.h"
#include "components/process_list.h"
#include "processes/process_reader.h"
#include "win32/unique_any.h"

namespace vardex {

class ProcessListWin32 final : public ProcessList {
 public:
  // `ntdll`: the library that holds the system-wide query.
  explicit ProcessListWin32(const char* ntdll = win32::kNtdll);

  bool ListProcesses() override;
  std::optional<std::int32_t> ProcessCount() override;
  bool ProcessIndex(std::int16_t index) override;
  std::optional<std::string> ProcessPath() override;
  std::optional<std::int32_t> ProcessID() override;
  // From the list where it gives one, else read from the process.
  std::optional<std::int64_t> ProcessCreationTime() override;
  // From the system-wide query; none from the older list.
  std::optional<std::int32_t> ProcessParentID() override;
  // From the system-wide query (its times are the kernel's: GetProcessTimes
  // on another process gives zeros under Wine); none from the older list.
  std::optional<WorkDone> ProcessWorkDone() override;
  bool KillProcessID(std::int32_t process_id) override;
  // Ends the process only while its identifier still names the snapshot's
  // process: same session, same executable path, and the same creation time
  // where the query gave one. An identifier that is not in the snapshot, or
  // whose process has gone and been replaced by another, is refused.
  bool KillProcess() override;
  // Under the same checks; the request runs on a thread of its own and
  // holds the process's handle, so that its identifier names that process
  // alone while the request lasts.
  bool AskToClose() override;
  // From the request that AskToClose started for that identifier.
  bool AgreedToClose() override;
  std::optional<std::string> RestartCommand() override;

 private:
  // The process KillProcessID names, opened with `access`, once it passed
  // the checks of KillProcess; null otherwise.
  win32::unique_handle OpenKillTarget(DWORD access);

  const char* ntdll_;
  win32::unique_hmodule psapi_;  // loaded once: Vardex lists every few seconds
  win32::process_reader reader_{win32::path_form::kUpper};
  std::vector<win32::process_entry> entries_;
  std::optional<std::size_t> current_;
  std::optional<DWORD> kill_id_;
  // The last request to each process asked; one that closed is forgotten at
  // the next request, since its handle keeps its identifier from reuse.
  std::map<DWORD, std::shared_ptr<CloseRequest>> requests_;
};

}  // namespace vardex
