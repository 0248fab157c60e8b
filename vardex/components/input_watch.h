// The system's last input and the foreground window, for activity that the
// hooks cannot see: a program they could not hook, a console program whose
// window belongs to the console host, input during a set.
#pragma once

#include <cstdint>
#include <optional>

namespace vardex {

struct InputSample {
  // The tick count of the last input to the session (keyboard or mouse,
  // into any program); only its changes mean anything.
  std::uint32_t last_input_tick = 0;
  // The process that owns the foreground window; for a console window, the
  // console's program rather than its host. None when there is no
  // foreground window or its owner cannot be told.
  std::optional<std::int32_t> foreground_process_id;
  // That process's creation time, in milliseconds since 1601 as the process
  // list reports it, so that an identifier reused since the last presence
  // check is not taken for a copy of the program. None when unread.
  std::optional<std::int64_t> foreground_created;
};

class InputWatch {
 public:
  virtual ~InputWatch() = default;
  virtual InputSample Sample() = 0;
};

}  // namespace vardex
