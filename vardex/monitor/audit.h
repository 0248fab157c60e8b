// The audit trail: one event for each step a watched program goes through,
// for the Windows event log (source "Vardex", Application log), which
// Windows Event Forwarding and SIEM agents collect. Each event has a stable
// identifier, a level, and inserts in an order that never changes, since
// collectors read them by position: %1 is always the user (the SID, or "-"
// when the policy names no users), then one fact per insert. The sentences
// live in the message table (window/vardex_events.mc); docs/administrators.md
// lists them, and a test holds the two to each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vardex {

enum class AuditId : std::uint16_t {
  kWatchingStarted = 1000,  // path, limit in minutes, where the settings came from
  kWarningShown = 1001,     // path, seconds until the request
  kEndCalledOff = 1002,     // path
  kAskedToClose = 1003,     // path, process id, grace period in seconds
  kClosedByItself = 1004,   // path, process id, seconds since the request
  kEndedByForce = 1005,     // path, process id, seconds since the request
  kEndRefused = 1006,       // path, process id, why
  kWorkHeldEnd = 1007,      // path
  kSettingsChanged = 1008,  // path, limit in minutes, where the settings came from
  kWouldHaveEnded = 1009,   // path, limit in minutes
  kStartedAgain = 1010,     // path, minutes since the end
  kReopenOffered = 1011,    // path, minutes since the end
  kReopened = 1012,         // path, minutes since the end, how (kReopenedWith...)
};

enum class AuditLevel { kInformation, kWarning, kError };

// Where the events go: the event log (EventLogSink) or a fake.
class AuditSink {
 public:
  virtual ~AuditSink() = default;
  virtual void Report(AuditId id, AuditLevel level, const std::vector<std::string>& inserts) = 0;
};

// Why an end was refused, as kEndRefused names it.
// The copy's creation time is unknown: its identifier may name a later process.
inline constexpr char kRefusedUnknownAge[] = "creation time unknown";
// The system or a guard of the end (another session, another path, no right
// to end it, gone meanwhile) refused it.
inline constexpr char kRefusedBySystem[] = "refused by the system or a guard";

// How a reopen started the program, as kReopened names it.
inline constexpr char kReopenedWithRestartCommand[] = "restart command";
inline constexpr char kReopenedWithPath[] = "path";

// The steps, one call each; every call reports one event. Without a sink it
// reports nothing.
class Audit {
 public:
  // `user`: the user's SID as text, or "-" when users are not named.
  explicit Audit(AuditSink* sink = nullptr, std::string user = "-") : sink_(sink), user_(std::move(user)) {}

  void WatchingStarted(const std::string& path, double limit_minutes, const char* source) {
    Report(AuditId::kWatchingStarted, AuditLevel::kInformation, {path, Minutes(limit_minutes), source});
  }
  void WarningShown(const std::string& path, std::int32_t seconds_left) {
    Report(AuditId::kWarningShown, AuditLevel::kInformation, {path, std::to_string(seconds_left)});
  }
  void EndCalledOff(const std::string& path) { Report(AuditId::kEndCalledOff, AuditLevel::kInformation, {path}); }
  void AskedToClose(const std::string& path, std::int32_t id, std::int32_t grace_seconds) {
    Report(AuditId::kAskedToClose, AuditLevel::kInformation,
           {path, std::to_string(id), std::to_string(grace_seconds)});
  }
  void ClosedByItself(const std::string& path, std::int32_t id, std::int64_t seconds) {
    Report(AuditId::kClosedByItself, AuditLevel::kInformation, {path, std::to_string(id), std::to_string(seconds)});
  }
  void EndedByForce(const std::string& path, std::int32_t id, std::int64_t seconds) {
    Report(AuditId::kEndedByForce, AuditLevel::kWarning, {path, std::to_string(id), std::to_string(seconds)});
  }
  void EndRefused(const std::string& path, std::int32_t id, const std::string& why) {
    Report(AuditId::kEndRefused, AuditLevel::kError, {path, std::to_string(id), why});
  }
  void WorkHeldEnd(const std::string& path) { Report(AuditId::kWorkHeldEnd, AuditLevel::kInformation, {path}); }
  void SettingsChanged(const std::string& path, double limit_minutes, const char* source) {
    Report(AuditId::kSettingsChanged, AuditLevel::kInformation, {path, Minutes(limit_minutes), source});
  }
  void WouldHaveEnded(const std::string& path, double limit_minutes) {
    Report(AuditId::kWouldHaveEnded, AuditLevel::kWarning, {path, Minutes(limit_minutes)});
  }
  void StartedAgain(const std::string& path, std::int64_t minutes) {
    Report(AuditId::kStartedAgain, AuditLevel::kInformation, {path, std::to_string(minutes)});
  }
  void ReopenOffered(const std::string& path, std::int64_t minutes) {
    Report(AuditId::kReopenOffered, AuditLevel::kInformation, {path, std::to_string(minutes)});
  }
  void Reopened(const std::string& path, std::int64_t minutes, const char* how) {
    Report(AuditId::kReopened, AuditLevel::kInformation, {path, std::to_string(minutes), how});
  }

 private:
  // Whole minutes as whole numbers, a fraction with '.' whatever the user's
  // separator: collectors parse one form.
  static std::string Minutes(double minutes);
  void Report(AuditId id, AuditLevel level, std::vector<std::string> facts);

  AuditSink* sink_;
  std::string user_;
};

}  // namespace vardex
