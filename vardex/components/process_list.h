// The process list: a snapshot of the running processes with their paths and
// identifiers, and ending a process. Every operation reports whether it
// worked, so that callers can skip a failing step and go on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vardex {

// What a process has done since it started.
struct WorkDone {
  std::int64_t cpu_ms = 0;    // CPU time, user and kernel
  std::int64_t io_bytes = 0;  // bytes read and written
  bool operator==(const WorkDone& other) const { return cpu_ms == other.cpu_ms && io_bytes == other.io_bytes; }
};

class ProcessList {
 public:
  virtual ~ProcessList() = default;
  // Takes a fresh snapshot. It and its 1-based indices stay valid until the
  // next call, also after a process in it has ended.
  virtual bool ListProcesses() = 0;
  virtual std::optional<std::int32_t> ProcessCount() = 0;
  // Selects the current entry, 1-based.
  virtual bool ProcessIndex(std::int16_t index) = 0;
  // Full executable path of the current entry in upper case; empty when the
  // path cannot be read.
  virtual std::optional<std::string> ProcessPath() = 0;
  virtual std::optional<std::int32_t> ProcessID() = 0;
  // When the current entry's process was created, in milliseconds since
  // 1601-01-01 UTC (the system's file time over 10 000); with the
  // identifier, it tells a process from a later one that took its identifier.
  virtual std::optional<std::int64_t> ProcessCreationTime() = 0;
  // The identifier of the process that started the current entry's, as it
  // was then: by now it may have ended, and its identifier been taken again.
  virtual std::optional<std::int32_t> ProcessParentID() = 0;
  // What the current entry's process has done so far, as the snapshot saw
  // it; none where the list does not say.
  virtual std::optional<WorkDone> ProcessWorkDone() = 0;
  // The process that KillProcess ends.
  virtual bool KillProcessID(std::int32_t process_id) = 0;
  virtual bool KillProcess() = 0;
  // Asks the process that KillProcessID names, under the guards KillProcess
  // applies, to close as Windows asks programs at sign-out; returns at once.
  // The answer is the process closing, or not.
  virtual bool AskToClose() = 0;
  // Whether the process KillProcessID names is done with the last request:
  // it answered yes and returned from being told that the session ends (it
  // has saved what it wanted; Windows ends such a program at sign-out), or
  // it has closed. False while an answer is pending, and for a no, a
  // question to its user or no answer: those keep the whole grace period.
  virtual bool AgreedToClose() = 0;
  // The command line the process KillProcessID names registered to be
  // restarted with (its arguments, without the program), as UTF-8, read
  // under the guards KillProcess applies; none when it registered none or
  // it cannot be read.
  virtual std::optional<std::string> RestartCommand() = 0;
};

}  // namespace vardex
