// The audit's sink on Windows: the source "Vardex" of the Application log,
// whose sentences are the message table built into Vardex.exe
// (vardex_events.mc) and whose registration the package writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "monitor/audit.h"
#include "win32/unique_any.h"

namespace vardex {

inline constexpr wchar_t kEventSource[] = L"Vardex";

class EventLogSink final : public AuditSink {
 public:
  // `name_user`: each event carries the user's SID, as the event's user and
  // as its first insert; otherwise neither, and "-" stands in the insert.
  explicit EventLogSink(bool name_user);
  // The first insert of every event.
  const std::string& user() const { return user_; }
  // Nothing is reported when the source cannot be opened; the program runs
  // on (the log is an administrator's aid, never a condition of the end).
  void Report(AuditId id, AuditLevel level, const std::vector<std::string>& inserts) override;

 private:
  win32::unique_event_source source_;
  win32::unique_process_heap_block token_user_;
  std::string user_ = "-";
};

}  // namespace vardex
