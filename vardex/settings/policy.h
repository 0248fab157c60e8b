// What administrators set for every user of the machine: the values under
// HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Vardex, where Group Policy writes
// them. Every policy value is named here, and only here (the administrative
// templates in installer/policy/ are checked against these names). A value
// present and valid wins over the settings file; an absent one leaves the
// file's value or the default; one of the wrong type or out of its range is
// ignored, and Policy::ignored says why. Nothing of them is written to the
// settings file: removing a policy brings the user's own value back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "numbers/policy_values.h"

namespace vardex {

namespace policy {

// Shared by the 32-bit and 64-bit views on 64-bit Windows.
inline constexpr char kKey[] = "SOFTWARE\\Policies\\Vardex";
// Watched, with all below it, for changes of the key: a change there is seen
// whether the key is made, changed or deleted, which a watch on the key
// itself does not see everywhere (Wine signals no deletion of a watched key).
inline constexpr char kWatchedKey[] = "SOFTWARE\\Policies";

// DWORD: the idle limit in whole minutes, 1 to 90, in place of the file's.
inline constexpr char kLimitMinutes[] = "IdleLimitMinutes";
// String: the full path of the watched program, in place of the file's; the
// rules of the settings tool's paths (settings_file.h, RefusePath).
inline constexpr char kProgramPath[] = "ProgramPath";
// DWORD: 1 locks the settings screen for every user, password or none; 0
// leaves the lock to the settings file.
inline constexpr char kLockSettings[] = "LockSettings";
// DWORD: how long before the request to close the warning comes, in seconds,
// 0 (no warning) to 3600.
inline constexpr char kWarningSeconds[] = "WarningSeconds";
// DWORD: how long an asked program has to close before it is ended, in
// seconds, 0 (ended at once, without asking) to 3600.
inline constexpr char kGraceSeconds[] = "GracePeriodSeconds";
// DWORD: 0: only input is use; any other: work counts too (the default).
inline constexpr char kWorkCountsAsUse[] = "WorkCountsAsUse";
// DWORD: CPU time that makes a tick work, in thousandths of one core, 1 to
// 100000.
inline constexpr char kWorkCpuPerMille[] = "WorkCpuThreshold";
// DWORD: bytes read and written that make a tick work, in KiB per second,
// 0 (disk work is not use) to 4194304.
inline constexpr char kWorkIoKibPerSecond[] = "WorkIoThreshold";
// DWORD: how long work may hold the end off after the last use, in minutes,
// 0 (no bound) to 1000000.
inline constexpr char kWorkHoldMinutes[] = "WorkHoldMaxMinutes";
// DWORD: 1 runs everything but the end (a dry run): nothing is asked to
// close or ended, the end is only reported; 0 (the default): programs are
// ended.
inline constexpr char kDryRun[] = "DryRun";
// DWORD: 0: the audit names no user ("-" in the user's place); 1 (the
// default): each event carries the user's SID.
inline constexpr char kAuditNamesUsers[] = "AuditNamesUsers";
// DWORD: how long the offer to reopen a program Vardex closed stands once
// the user is back, in minutes, 0 (no offer) to 1440.
inline constexpr char kReopenOfferMinutes[] = "ReopenOfferMinutes";


}  // namespace policy

// A value as the registry holds it: a DWORD, a string, or another type
// (std::monostate), which no policy takes.
using PolicyValue = std::variant<std::monostate, std::uint32_t, std::string>;

// Where the policy values are read from: the registry (PolicySourceWin32) or
// a fake.
class PolicySource {
 public:
  virtual ~PolicySource() = default;
  // The value `name` of the policy key; none when the key or the value is
  // absent.
  virtual std::optional<PolicyValue> Read(const char* name) = 0;
};

// Every policy, as read at one moment.
struct Policy {
  std::optional<std::int32_t> limit_minutes;
  std::optional<std::string> program_path;
  bool locked = false;
  ClosingPolicy closing;  // with the dry run
  bool names_users = true;  // in the audit's events
  std::int32_t reopen_minutes = kReopenOfferMinutes;  // numbers/policy_values.h
  WorkPolicy work;
  // The values taken, by name, and those present but ignored, each as
  // "Name: why".
  std::vector<std::string> taken;
  std::vector<std::string> ignored;

  bool Takes(const char* name) const;
  // The same values for the window and the watch (not the reasons).
  bool SameAs(const Policy& other) const;
};

Policy ReadPolicy(PolicySource& source);


}  // namespace vardex
