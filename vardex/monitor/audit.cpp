#include "monitor/audit.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace vardex {

std::string Audit::Minutes(double minutes) {
  if (minutes == std::floor(minutes)) return std::to_string(std::llround(minutes));
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", minutes);
  return text;
}

void Audit::Report(AuditId id, AuditLevel level, std::vector<std::string> facts) {
  if (!sink_) return;
  facts.insert(facts.begin(), user_);
  sink_->Report(id, level, facts);
}

}  // namespace vardex
