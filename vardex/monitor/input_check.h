// The input check, one tick of tmrInputCheck: input that the hooks could not
// see still counts. Input to the session since the sample before, while the
// foreground window belongs to a copy of the program that the last presence
// check found, is activity, as a relayed event is: a program the hooks could
// not be set in (a console program, one of higher integrity, one whose
// companion is missing), a copy or window thread since the last set.
#pragma once

#include <cstdint>
#include <optional>

#include "components/input_watch.h"
#include "monitor/activity.h"
#include "monitor/presence.h"

namespace vardex {

// The period of tmrInputCheck, in milliseconds.
inline constexpr std::int32_t kInputCheckInterval = 1000;

class InputCheck {
 public:
  InputCheck(InputWatch& watch, const PresenceCheck& presence, ActivityMarks& marks)
      : watch_(watch), presence_(presence), marks_(marks) {}

  void Tick();

 private:
  InputWatch& watch_;
  const PresenceCheck& presence_;
  ActivityMarks& marks_;
  std::optional<std::uint32_t> last_input_tick_;  // of the sample before
};

}  // namespace vardex
