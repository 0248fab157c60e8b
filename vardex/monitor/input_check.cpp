#include "monitor/input_check.h"

namespace vardex {

void InputCheck::Tick() {
  const InputSample sample = watch_.Sample();
  // The first sample has nothing to compare with: input before it is not
  // known to have gone to the program.
  const bool input = last_input_tick_ && sample.last_input_tick != *last_input_tick_;
  last_input_tick_ = sample.last_input_tick;
  if (input && sample.foreground_process_id &&
      presence_.Watches({*sample.foreground_process_id, sample.foreground_created}))
    marks_.Input();
}

}  // namespace vardex
