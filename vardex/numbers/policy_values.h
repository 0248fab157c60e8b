// The shapes of what administrators set for how a program is ended, and where
// the settings in force came from: beneath both the monitor, which acts on
// them, and the settings, which read them from the policy key, so that
// neither room stands on the other. Portable.
#pragma once

#include <cstdint>

namespace vardex {

// Ending without losing work (monitor/closing.h).
struct ClosingPolicy {
  // The warning comes when this much is left before the request, but not
  // before half the limit has passed; 0: no warning.
  std::int32_t warning_seconds = 60;
  // How long an asked copy has to close before it is ended; 0: ended at once,
  // without asking.
  std::int32_t grace_seconds = 30;
  // A dry run: nothing is asked to close or ended; the end that would have
  // come is only reported, once per approach to the limit.
  bool dry_run = false;
};

// When the program's own work is use (monitor/work.h).
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

// How long the offer to reopen an ended program stands (monitor/reopen.h),
// in minutes, unless the policy says otherwise; 0: no offer.
inline constexpr std::int32_t kReopenOfferMinutes = 60;

// Where the settings in force came from, as the audit's events and the
// settings tool name it.
inline constexpr char kFromSettingsFile[] = "settings file";
inline constexpr char kFromPolicy[] = "policy";
inline constexpr char kFromDefault[] = "default";

}  // namespace vardex
