// Clean-up that runs however a scope is left, written once beside what it
// undoes (wil's scope_exit): `auto undo = win32::scope_exit([&]() noexcept {...});`
// and `undo.release()` once the work is kept.
#pragma once

#include <utility>

namespace win32 {

template <typename F>
class scope_exit_guard {
 public:
  explicit scope_exit_guard(F undo) noexcept : undo_(std::move(undo)) {}
  scope_exit_guard(scope_exit_guard&& other) noexcept
      : undo_(std::move(other.undo_)), armed_(std::exchange(other.armed_, false)) {}
  scope_exit_guard(const scope_exit_guard&) = delete;
  scope_exit_guard& operator=(const scope_exit_guard&) = delete;
  scope_exit_guard& operator=(scope_exit_guard&&) = delete;
  ~scope_exit_guard() {
    if (armed_) undo_();
  }

  // The work is kept: nothing runs.
  void release() noexcept { armed_ = false; }

 private:
  F undo_;
  bool armed_ = true;
};

template <typename F>
[[nodiscard]] scope_exit_guard<F> scope_exit(F undo) noexcept {
  return scope_exit_guard<F>(std::move(undo));
}

}  // namespace win32
