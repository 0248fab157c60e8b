// ProcessList over the Win32 process APIs: the processes in the caller's own
// session, with each one's executable path in upper case, and TerminateProcess
// for the one KillProcessID names. The list comes from one system-wide query,
// and each process's path is read once in its life and kept while it runs; a
// toolhelp snapshot with every path read afresh takes its place where the
// query is absent.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/process_list.h"
#include "win32/process_query.h"

namespace vardex {

class ProcessListWin32 final : public ProcessList {
 public:
  // `ntdll`: the library that holds the system-wide query.
  explicit ProcessListWin32(const char* ntdll = win32::kNtdll) : ntdll_(ntdll) {}

  bool ListProcesses() override;
  std::optional<std::int32_t> ProcessCount() override;
  bool ProcessIndex(std::int16_t index) override;
  std::optional<std::string> ProcessPath() override;
  std::optional<std::int32_t> ProcessID() override;
  bool KillProcessID(std::int32_t process_id) override;
  // Ends the process only while its identifier still names the snapshot's
  // process: same session, same executable path, and the same creation time
  // where the query gave one. An identifier that is not in the snapshot, or
  // whose process has gone and been replaced by another, is refused.
  bool KillProcess() override;

 private:
  struct Entry {
    DWORD id;
    std::string path;   // upper case; empty when it could not be read
    ULONGLONG created;  // 0 when unknown
  };
  bool ListFromSnapshot(DWORD session);

  const char* ntdll_;
  win32::SystemProcessQuery query_;
  std::vector<win32::ProcessRecord> records_;
  win32::ProcessPathCache paths_;
  std::vector<Entry> entries_;
  std::optional<std::size_t> current_;
  std::optional<DWORD> kill_id_;
};

}  // namespace vardex
