#include "settings/policy.h"

#include <algorithm>

#include "numbers/bounds.h"
#include "settings/settings_file.h"

namespace vardex {
namespace {

// Reads the values one by one, keeping what was taken and why others were
// not.
class Reader {
 public:
  Reader(PolicySource& source, Policy& policy) : source_(source), policy_(policy) {}

  std::optional<std::uint32_t> Dword(const char* name, std::uint32_t low, std::uint32_t high) {
    const auto value = source_.Read(name);
    if (!value) return std::nullopt;
    const auto* dword = std::get_if<std::uint32_t>(&*value);
    if (!dword) return Ignore(name, "not a DWORD");
    if (*dword < low || *dword > high)
      return Ignore(name, std::to_string(*dword) + " is outside " + std::to_string(low) + " to " + std::to_string(high));
    policy_.taken.emplace_back(name);
    return *dword;
  }

  template <typename T>
  void DwordInto(const char* name, std::uint32_t low, std::uint32_t high, T& into) {
    if (const auto value = Dword(name, low, high)) into = static_cast<T>(*value);
  }

  std::optional<std::string> Path(const char* name) {
    const auto value = source_.Read(name);
    if (!value) return std::nullopt;
    const auto* text = std::get_if<std::string>(&*value);
    if (!text) return Ignore(name, "not a string");
    if (const auto refusal = RefusePath(*text)) return Ignore(name, *refusal);
    policy_.taken.emplace_back(name);
    return *text;
  }

 private:
  std::nullopt_t Ignore(const char* name, const std::string& why) {
    policy_.ignored.push_back(std::string(name) + ": " + why);
    return std::nullopt;
  }

  PolicySource& source_;
  Policy& policy_;
};

}  // namespace

bool Policy::Takes(const char* name) const { return std::find(taken.begin(), taken.end(), name) != taken.end(); }

bool Policy::SameAs(const Policy& o) const {
  return limit_minutes == o.limit_minutes && program_path == o.program_path && locked == o.locked &&
         closing.warning_seconds == o.closing.warning_seconds && closing.grace_seconds == o.closing.grace_seconds &&
         closing.dry_run == o.closing.dry_run && names_users == o.names_users && reopen_minutes == o.reopen_minutes &&
         work.counts == o.work.counts && work.cpu_per_mille == o.work.cpu_per_mille &&
         work.io_bytes_per_second == o.work.io_bytes_per_second && work.hold_minutes == o.work.hold_minutes;
}

Policy ReadPolicy(PolicySource& source) {
  Policy p;
  Reader read(source, p);
  if (const auto minutes = read.Dword(policy::kLimitMinutes, kMinLimitMinutes, kMaxLimitMinutes))
    p.limit_minutes = static_cast<std::int32_t>(*minutes);
  p.program_path = read.Path(policy::kProgramPath);
  p.locked = read.Dword(policy::kLockSettings, 0, 1).value_or(0) != 0;
  read.DwordInto(policy::kWarningSeconds, 0, kMaxWarningSeconds, p.closing.warning_seconds);
  read.DwordInto(policy::kGraceSeconds, 0, kMaxGraceSeconds, p.closing.grace_seconds);
  if (const auto counts = read.Dword(policy::kWorkCountsAsUse, 0, 0xFFFFFFFF)) p.work.counts = *counts != 0;
  read.DwordInto(policy::kWorkCpuPerMille, 1, 100000, p.work.cpu_per_mille);
  std::int64_t io_kib = p.work.io_bytes_per_second / 1024;
  read.DwordInto(policy::kWorkIoKibPerSecond, 0, 4194304, io_kib);
  p.work.io_bytes_per_second = io_kib * 1024;
  read.DwordInto(policy::kWorkHoldMinutes, 0, 1000000, p.work.hold_minutes);
  read.DwordInto(policy::kDryRun, 0, 1, p.closing.dry_run);
  read.DwordInto(policy::kAuditNamesUsers, 0, 1, p.names_users);
  read.DwordInto(policy::kReopenOfferMinutes, 0, 1440, p.reopen_minutes);
  return p;
}

}  // namespace vardex
