#include "monitor/use.h"

namespace vardex {
namespace {
// Mouse moves over the frame and the client area: shown, but no use.
constexpr std::int32_t kWmNcMouseMove = 160;
constexpr std::int32_t kWmMouseMove = 512;
}  // namespace

bool Use::Key(std::int32_t key_code) {
  // The hooks never relay a code of 0; anyone may post one, and it must not
  // erase the mark of a real key.
  if (key_code == 0) return false;
  last_key_code_ = key_code;
  return true;
}

bool Use::Mouse(std::int32_t event_code) {
  if (event_code == 0 || event_code == kWmNcMouseMove || event_code == kWmMouseMove) return false;
  last_mouse_event_ = event_code;
  return true;
}

void Use::Worked(const WorkDone& since, std::int64_t at) {
  done_.cpu_ms += since.cpu_ms;
  done_.io_bytes += since.io_bytes;
  if (!from_) from_ = at;
  to_ = at;
}

void Use::NotWorking() {
  from_.reset();
  done_ = {};
}

Use::Work Use::TakeWork() {
  Work work;
  if (from_) {
    work = {done_, to_ - *from_};
    from_ = to_;
  }
  done_ = {};
  return work;
}

Use::Seen Use::Take(bool idle_tick) {
  Seen seen;
  seen.input = last_key_code_ != 0 || last_mouse_event_ != 0 || seen_;
  // Work holds the end off within the policy's bound since the last use or
  // start, counted from the first tick it held: use taken between ticks (the
  // user back during a warning or a request) starts the bound again too.
  if (seen.input) {
    ClearInput();
    held_since_.reset();
  }
  if (!idle_tick) return seen;
  const Work work = TakeWork();
  if (!AtWork(work_, work.done, work.span_ms)) return seen;
  const std::int64_t now = system_.MonotonicMs();
  if (!held_since_) held_since_ = now;
  seen.work = work_.hold_minutes <= 0 || now - *held_since_ < std::int64_t{work_.hold_minutes} * 60 * 1000;
  return seen;
}

void Use::ClearInput() {
  last_key_code_ = 0;
  last_mouse_event_ = 0;
  seen_ = false;
}

void Use::Forget() {
  ClearInput();
  held_since_.reset();
}

}  // namespace vardex
