// The notification icon's tooltip: "Vardex", and while the watched program
// runs, how many whole minutes of the limit it has been idle, for instance
// "Vardex: FIN.EXE idle 12 of 30 min".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vardex {

// What the shell shows of a tooltip, without its terminator.
inline constexpr std::size_t kTrayTooltipMax = 127;

// `path` is the configured path, `elapsed_seconds` the idle count and
// `limit_minutes` the limit field's text; `loaded` the presence check's result.
// `activity_unseen`: the hook component could not watch the running program,
// so its idle count runs blind; the tooltip ends with " (activity not seen)".
// `closing`: the program has been asked to close and the grace period runs;
// the tooltip says "closing..." instead of the count.
// `busy`: the program's work holds the count (monitor/work.h); the tooltip
// says "busy" instead of the idle count's share.
std::string TrayTooltip(bool loaded, const std::string& path, std::int16_t elapsed_seconds,
                        const std::string& limit_minutes, bool activity_unseen = false, bool closing = false,
                        bool busy = false);

}  // namespace vardex
