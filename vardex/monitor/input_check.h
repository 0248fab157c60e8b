// The input check, one tick of tmrInputCheck: input that the hooks could not
// see still counts, and is told to the ledger of use (monitor/use.h). A key or a button since the sample before, while the
// foreground window is one of a copy the last presence check found, on a
// thread the last set did not hook, is activity, as a relayed event is: a
// program the hooks could not be set in (a console program, one of higher
// integrity, one whose companion is missing), a window thread beyond the
// bound or since the last set. So is the wheel over such a window behind,
// and the front brought to the program by the user just after a key or a
// button. So is a launcher's start: a copy started from outside after a key
// or a button, which may hand a document to the running copy and exit
// between two presence checks. Where the hooks watch, they alone judge: a
// move is no use. A copy
// in a console whose window cannot be told (a terminal's pseudo-console)
// counts as in use while keys and buttons reach the terminal or shell that
// started it.
#pragma once

#include <cstdint>
#include <optional>

#include "components/form_services.h"
#include "components/input_watch.h"
#include "monitor/presence.h"
#include "monitor/use.h"

namespace vardex {

// The period of tmrInputCheck, in milliseconds.
inline constexpr std::int32_t kInputCheckInterval = 1000;
// How long after a key or a button the input check looks each second for a
// launcher that no presence check has seen. Only a copy the last check did
// not find counts, so the count restarts no later than the next check would
// have restarted it for that copy.
inline constexpr std::int64_t kLauncherWindowMs = 10000;

class InputCheck {
 public:
  InputCheck(InputWatch& watch, PresenceCheck& presence, Use& use, const SystemServices& system)
      : watch_(watch), presence_(presence), use_(use), system_(system) {}

  void Tick();
  // A copy runs in a console whose input cannot be told from its terminal's
  // (InputSample::console_unknown), as of the last tick.
  bool console_unseen() const { return console_unseen_; }
  // The last key or button anywhere in the session came after this moment
  // (SystemServices::MonotonicMs of the sample before the one that saw it);
  // none before any was seen.
  std::optional<std::int64_t> input_after() const { return input_after_; }

 private:
  InputWatch& watch_;
  PresenceCheck& presence_;
  Use& use_;
  const SystemServices& system_;
  bool UnseenByHooks(const WindowProgram& window, std::uint64_t sets_since) const;

  // Of the sample before.
  std::optional<std::uint32_t> last_use_tick_;
  std::optional<std::uint32_t> last_wheel_tick_;
  std::uint64_t sets_seen_ = 0;  // PresenceCheck::sets() at the sample before
  // SystemServices::MonotonicMs of the sample that saw the last key or button.
  std::optional<std::int64_t> use_at_;
  std::optional<std::int64_t> sampled_at_;  // of the sample before
  std::optional<std::int64_t> input_after_;
  bool console_unseen_ = false;
};

}  // namespace vardex
