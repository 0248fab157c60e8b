#include "monitor/input_check.h"

namespace vardex {
namespace {

ProcessIdentity IdentityOf(const WindowProgram& program) { return {*program.process_id, program.created}; }

}  // namespace

void InputCheck::Tick() {
  std::vector<WindowProgram> copies;
  for (const ProcessIdentity& copy : presence_.copies()) copies.push_back({copy.id, copy.created, std::nullopt});
  watch_.Copies(copies);
  const InputSample sample = watch_.Sample();
  console_unseen_ = sample.console_unknown;
  // The first sample has nothing to compare with: input before it is not
  // known to have gone to the program.
  const std::uint32_t use_tick = sample.last_use_tick.value_or(sample.last_input_tick);
  const bool input = last_use_tick_ && use_tick != *last_use_tick_;
  const bool wheel = last_wheel_tick_ && sample.last_wheel_tick != *last_wheel_tick_;
  last_use_tick_ = use_tick;
  last_wheel_tick_ = sample.last_wheel_tick;

  // A thread hooked by a set since the sample before may have taken the
  // input before its hook was there.
  const std::uint64_t sets = presence_.sets() - sets_seen_;
  sets_seen_ = presence_.sets();

  // A launcher is looked for each second after a key or a button: it may
  // come and go between two presence checks. Its start is use, as a copy the
  // check finds is, whatever the user does next and wherever the front goes.
  const std::int64_t now = system_.MonotonicMs();
  if (input) {
    use_at_ = now;
    input_after_ = sampled_at_;
  }
  sampled_at_ = now;
  if (use_at_ && now - *use_at_ <= kLauncherWindowMs && presence_.loaded() != 0 && presence_.LauncherRuns())
    use_.Launcher();

  const WindowProgram front{sample.foreground_process_id, sample.foreground_created, sample.foreground_thread_id};
  if (input && (UnseenByHooks(front, sets) || sample.front_starts_unknown_console)) use_.KeyOrButton();
  if (wheel && UnseenByHooks(sample.wheel_target, sets)) use_.Wheel();
  // Bringing the program to the front just after a key or a button is use,
  // as the key is; a move between its own windows is not, nor one the user
  // did not cause (the program bringing itself forward, a question it asks
  // before it closes).
  for (const FrontChange& change : sample.front_changes) {
    const bool to_program = change.to.process_id && presence_.Watches(IdentityOf(change.to));
    const bool from_program = change.from.process_id && presence_.Watches(IdentityOf(change.from));
    if (change.after_input && to_program && !from_program) use_.Front();
  }
}

bool InputCheck::UnseenByHooks(const WindowProgram& window, std::uint64_t sets_since) const {
  if (!window.process_id) return false;
  const ProcessIdentity process = IdentityOf(window);
  if (!presence_.Watches(process)) return false;
  return sets_since > 1 || !presence_.Hooked(window.thread_id, process, sets_since == 1);
}

}  // namespace vardex
