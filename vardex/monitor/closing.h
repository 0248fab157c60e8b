// Ending without losing work: the warning before the end, then the request to
// close and its grace period. A state machine over the idle count and the
// awake clock; the countdown acts on what it decides (the balloon, the
// request, the hard end through its guarded scan).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "monitor/presence.h"
#include "numbers/policy_values.h"

namespace vardex {

class Closing {
 public:
  explicit Closing(const ClosingPolicy& policy = {}) : policy_(policy) {}

  // After a counting tick: the seconds until the request when the warning is
  // due now, once per approach to the limit. `limit` and `tick` in seconds;
  // `counted_for`: seconds on the clock since the count began (the request
  // waits for the limit there too). A warning time shorter than a tick warns
  // at the last tick before the request; a request due unwarned waits a
  // tick for its warning.
  std::optional<std::int32_t> WarnAfterCount(std::int32_t elapsed, double limit, double tick, double counted_for);
  // The count went back (use, a fresh start): the next approach warns again
  // and a pending request is off. True when a warning was showing.
  bool Restart();

  // The copies are asked to close now; the hard end is due after the grace,
  // on the clock that stands still while the machine sleeps
  // (SystemServices::AwakeMs): a question the program asks before it closes
  // gets its whole grace period of awake time, a wake does not end it at once.
  void Asked(std::vector<ProcessIdentity> copies, std::int64_t awake_ms);
  bool asking() const { return asking_; }
  bool warned() const { return warned_; }
  bool Due(std::int64_t awake_ms) const { return asking_ && awake_ms >= deadline_ms_; }
  const std::vector<ProcessIdentity>& asked() const { return asked_; }
  // The asked copies, for the hard end; the request is over.
  std::vector<ProcessIdentity> TakeAsked();
  const ClosingPolicy& policy() const { return policy_; }
  // Awake seconds since the copies were asked (SystemServices::AwakeMs).
  std::int64_t SecondsSinceAsked(std::int64_t awake_ms) const { return (awake_ms - asked_ms_) / 1000; }

  // In a dry run, the end due now is spared: true the first time since the
  // count went back, when the caller reports what would have been ended.
  // The count stays past the limit, and the program is not looked at again
  // until use restarts the count: it is still the same idle run, and one
  // report a run is what the end would have been.
  bool Spare() { return !std::exchange(spared_, true); }
  bool spared() const { return spared_; }
  // From the next warning or request on; a grace period running keeps its
  // deadline.
  void SetPolicy(const ClosingPolicy& policy) { policy_ = policy; }

 private:
  ClosingPolicy policy_;
  bool warned_ = false;
  bool asking_ = false;
  bool spared_ = false;
  std::int64_t asked_ms_ = 0, deadline_ms_ = 0;
  std::vector<ProcessIdentity> asked_;
};

// The file name of the program at `path`, as the user's messages name it.
std::string ProgramName(const std::string& path);
// The balloon's title and text for the program at `path`.
std::string ClosingWarningTitle(const std::string& path);
std::string ClosingWarningText(const std::string& path, std::int32_t seconds_left, double limit_minutes);

}  // namespace vardex
