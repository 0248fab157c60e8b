#include "settings/policy.h"

namespace vardex {
namespace {

template <typename T>
void ReadInRange(PolicySource& source, const char* name, std::uint32_t low, std::uint32_t high, T& value) {
  if (const auto read = source.Dword(name); read && *read >= low && *read <= high) value = static_cast<T>(*read);
}

}  // namespace

WorkPolicy ReadWorkPolicy(PolicySource& source) {
  WorkPolicy work;
  if (const auto counts = source.Dword(policy::kWorkCountsAsUse)) work.counts = *counts != 0;
  ReadInRange(source, policy::kWorkCpuPerMille, 1, 100000, work.cpu_per_mille);
  std::int64_t io_kib = work.io_bytes_per_second / 1024;
  ReadInRange(source, policy::kWorkIoKibPerSecond, 0, 4194304, io_kib);
  work.io_bytes_per_second = io_kib * 1024;
  ReadInRange(source, policy::kWorkHoldMinutes, 0, 1000000, work.hold_minutes);
  return work;
}

AuditPolicy ReadAuditPolicy(PolicySource& source) {
  AuditPolicy audit;
  ReadInRange(source, policy::kDryRun, 0, 1, audit.dry_run);
  ReadInRange(source, policy::kAuditNamesUsers, 0, 1, audit.names_users);
  return audit;
}

}  // namespace vardex
