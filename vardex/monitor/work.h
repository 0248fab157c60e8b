// The program at work: a tick in which the program's copies and the
// processes they started used more CPU time or moved more bytes than an
// idle program does is use, as a key is. Ending a program in the middle of
// a solve, a render or an export loses the user's work.
#pragma once

#include <cstdint>

#include "components/process_list.h"

namespace vardex {

// What administrators may set (settings/policy.h reads it).
struct WorkPolicy {
  bool counts = true;  // false: only input is use
  // CPU time above this share of one core, in thousandths, averaged over the
  // tick. Idle programs that tick over stay far below a tenth (an idle
  // Notepad, WordPad, a 100 ms timer use well under 1 %); one core busy on
  // a machine of any size is ten times above it.
  std::int32_t cpu_per_mille = 100;
  // Bytes read and written per second, averaged over the tick: a program
  // that writes its autosave of a few megabytes once in some minutes stays
  // below it, a render writing frames or an export does not. 0: disk work
  // is not use.
  std::int64_t io_bytes_per_second = 1 << 20;
  // How long work may hold the end off after the last use or start, in
  // minutes; 0: no bound. A program looping forever is busy to any measure.
  std::int32_t hold_minutes = 0;
};

// Whether `done` within `span_ms` (one tick) is work by `policy`.
inline bool AtWork(const WorkPolicy& policy, const WorkDone& done, std::int64_t span_ms) {
  if (!policy.counts || span_ms <= 0) return false;
  return done.cpu_ms * 1000 > static_cast<std::int64_t>(policy.cpu_per_mille) * span_ms ||
         (policy.io_bytes_per_second > 0 && done.io_bytes * 1000 > policy.io_bytes_per_second * span_ms);
}

}  // namespace vardex
