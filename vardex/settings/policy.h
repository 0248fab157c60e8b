// What administrators set for every user of the machine: the values under
// HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Vardex, where Group Policy writes
// them. Every policy value is named here, and only here; an absent value,
// or one of the wrong type or out of its range, keeps its default. They are
// read at start. Nothing of them is in the settings file.
#pragma once

#include <cstdint>
#include <optional>

#include "monitor/work.h"

namespace vardex {

namespace policy {

// Shared by the 32-bit and 64-bit views on 64-bit Windows.
inline constexpr char kKey[] = "SOFTWARE\\Policies\\Vardex";

// DWORD values.
// 0: only input is use; any other: work counts too (the default).
inline constexpr char kWorkCountsAsUse[] = "WorkCountsAsUse";
// CPU time that makes a tick work, in thousandths of one core, 1 to 100000.
inline constexpr char kWorkCpuPerMille[] = "WorkCpuThreshold";
// Bytes read and written that make a tick work, in KiB per second,
// 0 (disk work is not use) to 4194304.
inline constexpr char kWorkIoKibPerSecond[] = "WorkIoThreshold";
// How long work may hold the end off after the last use, in minutes,
// 0 (no bound) to 1000000.
inline constexpr char kWorkHoldMinutes[] = "WorkHoldMaxMinutes";
// 1: a dry run, nothing is asked to close or ended, the end is only
// reported; 0 (the default): programs are ended.
inline constexpr char kDryRun[] = "DryRun";
// 0: the audit names no user ("-" in the user's place); 1 (the default):
// each event carries the user's SID.
inline constexpr char kAuditNamesUsers[] = "AuditNamesUsers";

}  // namespace policy

// Where the policy values are read from: the registry (PolicySourceWin32) or
// a fake.
class PolicySource {
 public:
  virtual ~PolicySource() = default;
  // The DWORD value `name` of the policy key; none when the key or the value
  // is absent or not a DWORD.
  virtual std::optional<std::uint32_t> Dword(const char* name) = 0;
};

WorkPolicy ReadWorkPolicy(PolicySource& source);

struct AuditPolicy {
  bool dry_run = false;
  bool names_users = true;
};
AuditPolicy ReadAuditPolicy(PolicySource& source);

}  // namespace vardex
