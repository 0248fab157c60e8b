#include "monitor/closing.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vardex {
std::string ProgramName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::int32_t> Closing::WarnAfterCount(std::int32_t elapsed, double limit, double tick,
                                                    double counted_for) {
  if (warned_ || asking_ || policy_.warning_seconds <= 0 || !(limit > 0) || !(tick > 0)) return std::nullopt;
  if (2.0 * elapsed < limit) return std::nullopt;
  // The request comes at the first tick whose count passes the limit once
  // the limit has passed on the clock too. One due at this tick unwarned
  // (the first tick of a count longer than the limit) waits a tick for it.
  const double ticks_left =
      std::max({std::floor((limit - elapsed) / tick) + 1, std::ceil((limit - counted_for) / tick), 1.0});
  const auto left = static_cast<std::int32_t>(std::lround(ticks_left * tick));
  if (left > policy_.warning_seconds && ticks_left > 1) return std::nullopt;
  warned_ = true;
  return left;
}

bool Closing::Restart() {
  const bool shown = warned_;
  warned_ = false;
  asking_ = false;
  spared_ = false;
  asked_.clear();
  return shown;
}

void Closing::Asked(std::vector<ProcessIdentity> copies, std::int64_t awake_ms) {
  asked_ = std::move(copies);
  asking_ = true;
  asked_ms_ = awake_ms;
  deadline_ms_ = awake_ms + std::int64_t{policy_.grace_seconds} * 1000;
}

std::vector<ProcessIdentity> Closing::TakeAsked() {
  asking_ = false;
  return std::exchange(asked_, {});
}

std::string ClosingWarningTitle(const std::string& path) { return ProgramName(path) + " will be closed"; }

std::string ClosingWarningText(const std::string& path, std::int32_t seconds_left, double limit_minutes) {
  const long minutes = std::lround(limit_minutes);
  return ProgramName(path) + " will be closed in " + std::to_string(seconds_left) +
         " seconds because it has been idle for " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes") +
         ". Use it to keep it open.";
}

}  // namespace vardex
