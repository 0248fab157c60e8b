#include "monitor/match_rule.h"

namespace vardex {

bool PathTooShort(const std::string& path) { return path.size() <= 7; }

bool Matches(const SystemServices& system, const std::string& reported, const std::string& configured) {
  return system.SameProgramPath(reported, configured);
}

}  // namespace vardex
