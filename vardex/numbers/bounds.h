// The bounds of what a user or an administrator sets, in one place: the
// window's fields, the settings file, the settings tool and the policies all
// take them from here, so that no two of them can disagree. Portable.
#pragma once

#include <cstdint>
#include <string_view>

namespace vardex {

// A closed range of numbers that a field keeps its value within.
struct FieldBounds {
  double lower, upper;
  constexpr bool Holds(double value) const { return value >= lower && value <= upper; }
};

// Seconds between idle ticks (intAppUseTime).
inline constexpr FieldBounds kIdleTickBounds{20, 90};
// The idle limit in minutes (intAppShutDownTime, the file's line 1, the
// tool's "set", the policy), 1 to 90; the tool and the policy take whole
// minutes only.
inline constexpr FieldBounds kLimitMinutesBounds{1, 90};
inline constexpr int kMinLimitMinutes = static_cast<int>(kLimitMinutesBounds.lower);
inline constexpr int kMaxLimitMinutes = static_cast<int>(kLimitMinutesBounds.upper);
// Seconds between presence checks (intAppCheckTime).
inline constexpr FieldBounds kPresenceCheckBounds{5, 60};

// The warning before the request to close, and the grace after it, in
// seconds, from 0 (none) to these.
inline constexpr std::int32_t kMaxWarningSeconds = 3600;
inline constexpr std::int32_t kMaxGraceSeconds = 3600;

// The guard of the timers, of "Show Task" and of every path an administrator
// sets: a path of 7 characters or fewer. An empty path would name nothing a
// user means, a very short one at most a program in a drive's root.
constexpr bool PathTooShort(std::string_view path) { return path.size() <= 7; }

}  // namespace vardex
