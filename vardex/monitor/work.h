// The program at work: a tick in which the program's copies and the
// processes they started used more CPU time or moved more bytes than an
// idle program does is use, as a key is. Ending a program in the middle of
// a solve, a render or an export loses the user's work.
#pragma once

#include <cstdint>

#include "components/process_list.h"
#include "numbers/policy_values.h"

namespace vardex {

// Whether `done` within `span_ms` (one tick) is work by `policy`.
inline bool AtWork(const WorkPolicy& policy, const WorkDone& done, std::int64_t span_ms) {
  if (!policy.counts || span_ms <= 0) return false;
  return done.cpu_ms * 1000 > static_cast<std::int64_t>(policy.cpu_per_mille) * span_ms ||
         (policy.io_bytes_per_second > 0 && done.io_bytes * 1000 > policy.io_bytes_per_second * span_ms);
}

}  // namespace vardex
