// The promise, as the README states it, judged against what happened in the
// simulated world: Vardex ends only what is idle, only the program the user
// named by its whole path, and loses no settings. Each check names the rule
// broken, or returns "" when none is. Times are simulated milliseconds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace vardex::testing {

using Ms = std::int64_t;
inline constexpr Ms kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute;
// How long after the limit an end may come: two idle ticks, one presence
// period, and the 30 s an asked program has to close with the second tick
// that ends it.
inline constexpr Ms kGrace = 2 * 10 * kSecond + 5 * kSecond + 31 * kSecond;
inline constexpr Ms kLongAgo = -(Ms{1} << 60);

inline std::string Upper(std::string s) {
  for (char& ch : s)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return s;
}

class PromiseOracle {
 public:
  struct Stored {
    std::string limit, path, password;
  };

  // The path or the limit the window shows changed, or Vardex started and
  // shows them: a fresh limit starts. While the limit is retyped and is no
  // number, the last number stays in force.
  void Settings(Ms t, const std::string& path, const std::string& limit) {
    char* end = nullptr;
    const double minutes = std::strtod(limit.c_str(), &end);
    if (!limit.empty() && *end == '\0') limit_ = static_cast<Ms>(minutes * kMinute);
    program_ = Upper(path);
    fresh_ = t;
  }
  // Use of a copy of `program` (its path as the system reports it): a key, a
  // button or the wheel.
  void Input(Ms t, const std::string& program) { input_[program] = t; }
  // The input at `t` could be seen neither by the hooks nor by a look at the
  // window in front: the world broke its own rule that every input can be.
  void Unseeable(Ms t, const std::string& program) { unseeable_[program] = t; }
  // Starting a copy is use too.
  void Started(Ms t, const std::string& program) { start_[program] = t; }
  // Any input to the session, a mouse move included, while a copy of
  // `program` is in front: the system cannot tell which window took it, so
  // it may keep the program running, though it is not use.
  void InFront(Ms t, const std::string& program) { in_front_[program] = t; }
  // Vardex started or "&Done" was pressed: the idle count may start from 0.
  void CountRestarted(Ms t) { count_from_ = t; }

  // Never early: Vardex ended a process of `program`.
  std::string Ended(Ms t, const std::string& program) const {
    if (program != program_) return "ended a program that is not the one named by its whole path";
    if (t - fresh_ < limit_) return "ended within the limit after the path or the limit changed";
    if (t - Last(start_, program) < limit_) return "ended within the limit after a copy started";
    if (t - Last(unseeable_, program) < limit_) return "world model: input that nothing could see";
    if (t - Last(input_, program) < limit_) return "ended within the limit after input into a copy";
    return "";
  }
  // Never late: a copy of the named program that could be ended still runs.
  std::string Running(Ms t) const {
    const Ms idle_since =
        std::max({fresh_, count_from_, Last(start_, program_), Last(input_, program_), Last(in_front_, program_)});
    if (t - idle_since > limit_ + kGrace) return "not ended although idle for the limit";
    return "";
  }

  // No lost settings: what "&Done" saved is what the next load shows, and a
  // saved password locks the window.
  void Saved(const Stored& s) { saved_ = s; }
  std::string Loaded(const std::string& limit, const std::string& path, bool locked) const {
    if (saved_ && (limit != saved_->limit || path != saved_->path || locked != (saved_->password != "unset entry")))
      return "the settings loaded are not those saved";
    return "";
  }

  const std::string& program() const { return program_; }  // upper case
  Ms limit() const { return limit_; }
  Ms fresh() const { return fresh_; }
  const std::optional<Stored>& saved() const { return saved_; }

 private:
  static Ms Last(const std::map<std::string, Ms>& times, const std::string& program) {
    const auto it = times.find(program);
    return it == times.end() ? kLongAgo : it->second;
  }

  std::string program_;
  Ms limit_ = 30 * kMinute, fresh_ = kLongAgo, count_from_ = kLongAgo;
  std::map<std::string, Ms> input_, unseeable_, start_, in_front_;
  std::optional<Stored> saved_;
};

}  // namespace vardex::testing
