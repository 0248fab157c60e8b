#include "monitor/reopen.h"

#include <utility>

#include "monitor/closing.h"

namespace vardex {

void ReopenOffer::Ended(ReopenTarget target) {
  target_ = std::move(target);
  offered_at_.reset();
}

ReopenOffer::Change ReopenOffer::Second(std::int64_t now, std::optional<std::int64_t> input_after, bool running) {
  if (!target_) return Change::kNone;
  if (offered_at_) {
    if (now - *offered_at_ < std::int64_t{minutes_} * 60000) return Change::kNone;
    Started();
    return Change::kWithdrawn;
  }
  if (minutes_ <= 0 || now - target_->ended_at > kReopenComeBackMs) {
    target_.reset();
    return Change::kNone;
  }
  // Input before the end, or during it, is not the user coming back.
  if (!input_after || *input_after < target_->ended_at || running) return Change::kNone;
  offered_at_ = now;
  return Change::kOffered;
}

bool ReopenOffer::Started() {
  const bool stood = offered_at_.has_value();
  target_.reset();
  offered_at_.reset();
  return stood;
}

std::string ReopenOfferTitle(const std::string& path) { return ProgramName(path) + " was closed"; }

std::string ReopenOfferText(const std::string& path) {
  return ProgramName(path) + " was closed while you were away. Reopen it from Vardex's icon.";
}

std::string ReopenMenuItem(const std::string& path) { return "Reopen " + ProgramName(path); }

}  // namespace vardex
