#include "monitor/match_rule.h"

#include <limits>

namespace vardex {

bool Matches(const SystemServices& system, const std::string& reported, const std::string& configured) {
  return system.SameProgramPath(reported, configured);
}

std::optional<CopyScan> ScanCopies(ProcessList& list, const SystemServices& system, const std::string& configured) {
  CopyScan scan;
  scan.fresh = list.ListProcesses();
  const auto count = list.ProcessCount();
  if (!count || *count > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
  for (std::int32_t i = 1; i <= *count; ++i) {
    if (!list.ProcessIndex(static_cast<std::int16_t>(i))) continue;
    const auto reported = list.ProcessPath();
    const bool copy = reported && Matches(system, *reported, configured);
    scan.found = scan.found || copy;
    const auto id = list.ProcessID();
    if (!id) continue;
    if (copy) {
      scan.copies.push_back({{*id, list.ProcessCreationTime()}, list.ProcessParentID(), list.ProcessWorkDone()});
    } else if (auto work = list.ProcessWorkDone()) {
      if (auto created = list.ProcessCreationTime()) scan.others.push_back({{*id, created}, list.ProcessParentID(), work});
    }
  }
  return scan;
}

}  // namespace vardex
