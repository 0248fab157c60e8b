// The connection list of the event source: one sink held directly; from the
// second connection on an array of 4 slots that doubles whenever no slot is
// free. An empty slot is taken by the next connection; the array never
// shrinks. `Sink` is the slot type, owning or not (an empty value is an empty
// slot); the list owns what it holds. Portable, so it is tested on any host.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace tessik {

template <typename Sink>
class ConnectionList {
 public:
  ConnectionList() = default;
  ConnectionList(const ConnectionList&) = delete;
  ConnectionList& operator=(const ConnectionList&) = delete;

  // Slots of the list: 0 or 1 while a sink is held directly.
  std::size_t size() const noexcept {
    if (slots_) return capacity_;
    return direct_ ? 1 : 0;
  }

  // A copy of the sink in slot `index`; empty for an empty slot or an index
  // outside the list.
  Sink get(std::size_t index) const noexcept {
    if (slots_) return index < capacity_ ? slots_[index] : Sink{};
    return index == 0 ? direct_ : Sink{};
  }

  // Takes `sink` into the first free slot. False, with `sink` left as it
  // was, when the list cannot grow.
  bool Add(Sink& sink) noexcept {
    if (!slots_) {
      if (!direct_) {
        direct_ = std::move(sink);
        return true;
      }
      if (!Grow(kFirstArraySize)) return false;
      slots_[0] = std::exchange(direct_, Sink{});
      slots_[1] = std::move(sink);
      return true;
    }
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (!slots_[i]) {
        slots_[i] = std::move(sink);
        return true;
      }
    }
    const std::size_t used = capacity_;
    if (used > kMaxSlots / 2 || !Grow(used * 2)) return false;
    slots_[used] = std::move(sink);
    return true;
  }

  // Empties the first occupied slot for which `match` holds and hands its
  // sink out; empty when none matches.
  template <typename Match>
  Sink RemoveFirst(Match match) noexcept {
    if (!slots_) {
      return direct_ && match(direct_) ? std::exchange(direct_, Sink{}) : Sink{};
    }
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (slots_[i] && match(slots_[i])) return std::exchange(slots_[i], Sink{});
    }
    return Sink{};
  }

  // Empties the list, slots and all. The sinks are let go only after the
  // list is consistent again, since letting go of one may call back.
  void Clear() noexcept {
    [[maybe_unused]] Sink direct = std::exchange(direct_, Sink{});
    std::unique_ptr<Sink[]> slots = std::move(slots_);
    capacity_ = 0;
  }

 private:
  static constexpr std::size_t kFirstArraySize = 4;
  static constexpr std::size_t kMaxSlots = static_cast<std::size_t>(-1) / sizeof(Sink);

  bool Grow(std::size_t capacity) noexcept {
    std::unique_ptr<Sink[]> grown(new (std::nothrow) Sink[capacity]());
    if (!grown) return false;
    for (std::size_t i = 0; i < capacity_; ++i) grown[i] = std::move(slots_[i]);
    slots_ = std::move(grown);
    capacity_ = capacity;
    return true;
  }

  Sink direct_{};
  std::unique_ptr<Sink[]> slots_;
  std::size_t capacity_ = 0;
};

}  // namespace tessik
