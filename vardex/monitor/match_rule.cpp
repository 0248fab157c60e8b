#include "monitor/match_rule.h"

namespace vardex {

bool PathTooShort(const std::string& path) { return path.size() <= 7; }

bool Matches(const std::string& reported, const std::string& upper_path) {
  return reported.size() >= upper_path.size() && reported.compare(0, upper_path.size(), upper_path) == 0;
}

}  // namespace vardex
