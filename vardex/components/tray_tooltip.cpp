#include "components/tray_tooltip.h"

namespace vardex {

std::string TrayTooltip(bool loaded, const std::string& path, std::int16_t elapsed_seconds,
                        const std::string& limit_minutes, bool activity_unseen, bool closing, bool busy) {
  const std::string plain = "Vardex";
  if (!loaded) return plain;
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A count below zero never means idle time.
  const int minutes = elapsed_seconds > 0 ? elapsed_seconds / 60 : 0;
  const std::string unseen = activity_unseen ? " (activity not seen)" : "";
  const std::string tail = closing ? std::string(" closing...")
                           : busy  ? " busy" + unseen
                                   : " idle " + std::to_string(minutes) + " of " + limit_minutes + " min" + unseen;
  const std::string head = plain + ": ";
  if (head.size() + name.size() + tail.size() > kTrayTooltipMax) {
    // The name gives way first; a limit text too long for any name is dropped.
    if (head.size() + tail.size() + 3 > kTrayTooltipMax) return plain;
    name = name.substr(0, kTrayTooltipMax - head.size() - tail.size() - 3) + "...";
  }
  return head + name + tail;
}

}  // namespace vardex
