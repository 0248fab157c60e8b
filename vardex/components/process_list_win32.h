// ProcessList over the Win32 process APIs: a toolhelp snapshot of the
// processes in the caller's own session, with each one's executable path in
// upper case, and TerminateProcess for the one KillProcessID names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/process_list.h"

namespace vardex {

class ProcessListWin32 final : public ProcessList {
 public:
  bool ListProcesses() override;
  std::optional<std::int32_t> ProcessCount() override;
  bool ProcessIndex(std::int16_t index) override;
  std::optional<std::string> ProcessPath() override;
  std::optional<std::int32_t> ProcessID() override;
  bool KillProcessID(std::int32_t process_id) override;
  // Ends the process only while its identifier still names the snapshot's
  // process: same session, same executable path. An identifier that is not
  // in the snapshot, or whose process has gone and been replaced by another
  // program, is refused.
  bool KillProcess() override;

 private:
  struct Entry {
    DWORD id;
    std::string path;  // upper case; empty when it could not be read
  };
  std::vector<Entry> entries_;
  std::optional<std::size_t> current_;
  std::optional<DWORD> kill_id_;
};

}  // namespace vardex
