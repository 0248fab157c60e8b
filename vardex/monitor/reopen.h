// The offer to reopen what Vardex ended while the user was away. An idle end
// (the program closed by itself after the request, or ended by force) is
// remembered with the program's restart command line, read before the
// request; the first key or button in the session after the end, within a
// day of it, makes the offer, once. It stands for the policy's minutes from
// then, and goes when the program runs again or the user takes it. A later
// end replaces an earlier one. Kept in memory only: an offer does not
// outlive Vardex.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "numbers/policy_values.h"

namespace vardex {

// The user must come back within this long after the end for an offer.
inline constexpr std::int64_t kReopenComeBackMs = 24LL * 60 * 60 * 1000;

struct ReopenTarget {
  std::string path;  // as watched when it was ended
  // What the program registered to be restarted with (arguments only, as
  // UTF-8); empty when it registered none or it could not be read.
  std::string arguments;
  std::int64_t ended_at = 0;  // SystemServices::MonotonicMs
};

class ReopenOffer {
 public:
  enum class Change { kNone, kOffered, kWithdrawn };

  explicit ReopenOffer(std::int32_t minutes = kReopenOfferMinutes) : minutes_(minutes) {}
  // From the next second on; a standing offer keeps the time it was made.
  void SetMinutes(std::int32_t minutes) { minutes_ = minutes; }
  void Ended(ReopenTarget target);
  // Every second. `input_after`: the last key or button came after this
  // moment; `running`: a copy of the program runs (no offer is made then).
  Change Second(std::int64_t now, std::optional<std::int64_t> input_after, bool running);
  // The program runs again: the end is forgotten. True when an offer stood.
  bool Started();
  // The offer standing, or null.
  const ReopenTarget* standing() const { return offered_at_ ? &*target_ : nullptr; }
  // The user took the offer, and the program was started.
  void Taken() { Started(); }

 private:
  std::int32_t minutes_;
  std::optional<ReopenTarget> target_;
  std::optional<std::int64_t> offered_at_;
};

// The notification's title and text, and the tray menu's item.
std::string ReopenOfferTitle(const std::string& path);
std::string ReopenOfferText(const std::string& path);
std::string ReopenMenuItem(const std::string& path);

}  // namespace vardex
