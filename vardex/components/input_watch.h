// The system's input and the foreground window, for activity that the hooks
// cannot see (a program they could not hook, a console program whose window
// belongs to the console host, a window thread since the last set), and the
// moves of the front from one program to another.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vardex {

// The program behind a window: its process (a console's program rather than
// its host), with the creation time that tells it from a later process of
// the same identifier, and the window's thread.
struct WindowProgram {
  std::optional<std::int32_t> process_id;  // none when it cannot be told
  // In milliseconds since 1601 as the process list reports it; none when unread.
  std::optional<std::int64_t> created;
  std::optional<std::int32_t> thread_id;
};

// The foreground window moved from one program's window to another's.
struct FrontChange {
  WindowProgram from, to;
  // The user had given input just before (a click, Alt+Tab, a double click
  // that started a copy): the program did not take the front on its own.
  bool after_input = false;
};

struct InputSample {
  // The tick count of the last input to the session (keyboard or mouse,
  // into any program); only its changes mean anything.
  std::uint32_t last_input_tick = 0;
  // The process that owns the foreground window; for a console window, a
  // copy of the program in that console, else the console's program rather
  // than its host. None when there is no
  // foreground window or its owner cannot be told.
  std::optional<std::int32_t> foreground_process_id;
  // That process's creation time, in milliseconds since 1601 as the process
  // list reports it, so that an identifier reused since the last presence
  // check is not taken for a copy of the program. None when unread.
  std::optional<std::int64_t> foreground_created;
  // The foreground window's thread.
  std::optional<std::int32_t> foreground_thread_id;
  // The tick count of the last key or button (no move, no wheel); none where
  // no source tells them from moves, and then last_input_tick stands for it.
  std::optional<std::uint32_t> last_use_tick;
  // The tick count of the last turn of the wheel, and the window it went to:
  // the one under the pointer, in front or not.
  std::uint32_t last_wheel_tick = 0;
  WindowProgram wheel_target;
  // Since the sample before, in order.
  std::vector<FrontChange> front_changes;
  // A copy runs in a console whose window cannot be told (a pseudo-console,
  // as in Windows Terminal): input into it is not seen apart from the
  // terminal's.
  bool console_unknown = false;
  // The foreground window belongs to a process that started such a copy
  // (its shell, the terminal): input there may be the copy's.
  bool front_starts_unknown_console = false;
};

class InputWatch {
 public:
  virtual ~InputWatch() = default;
  // The copies of the program the last presence check found (identifier and
  // creation time): a console window stands for the copies in its console,
  // whoever created it.
  virtual void Copies(const std::vector<WindowProgram>& copies) { static_cast<void>(copies); }
  virtual InputSample Sample() = 0;
};

}  // namespace vardex
