// The promise, as docs/behaviour.md states it, judged against what happened in the
// simulated world: Vardex ends only what is idle, only the program the user
// named by its whole path, asks it to close within the limit and a tick on
// the world's own clock and ends it when the request's grace is over, and
// loses no settings. The oracle learns the settings
// from the user's keystrokes and "&Done", never from Vardex's window. Each
// check names the rule broken, or returns "" when none is. Times are
// simulated milliseconds.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vardex::testing {

using Ms = std::int64_t;
inline constexpr Ms kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute;
// The idle tick, the one step of Vardex's count of idle seconds, as at
// start-up. Its field lies in the part of the window never shown; a script
// may set it, to 20 to 90 s.
inline constexpr Ms kTick = 10 * kSecond;
// How long after the limit the request to close (or, in a dry run, the
// report) may come, by what began the idle run, with ticks of `tick`. The
// request comes at the first idle tick that finds the count at the limit:
// the first tick of a count may come up to 3 s late (the count then runs
// from it); what restarts the count is seen at once by the hooks and at the
// latest one presence period (5 s) after it happened otherwise (a copy's
// start, input only the look at the window sees); and the ticks drift
// behind their schedule by up to a system tick each, until the one-second
// tick counts the one that is a second behind, up to 2 s. So: a tick + 3 s
// + 5 s + 2 s, and a second for the timers' own slack (measured: 19.8 s
// with 10-second ticks).
constexpr Ms AskBound(Ms tick) { return tick + 3 * kSecond + 5 * kSecond + 2 * kSecond + kSecond; }
// A tick and its lateness more for what Vardex learns only at an idle tick:
// work, measured over the span between two presence checks and counted at
// the tick after it; and the wake, where the tick that fell due in the
// sleep comes once and the timer keeps a new schedule from there.
constexpr Ms AskBoundAtTick(Ms tick) { return AskBound(tick) + tick + 3 * kSecond; }
inline constexpr Ms kLongAgo = -(Ms{1} << 60);
inline constexpr Ms kNever = Ms{1} << 60;
// How far the warning's "N seconds" may be from the awake time the request
// then took: the N seconds are counted in ticks, and the warning's tick and
// the request's may each be counted by the one-second check up to a second
// before its message, or come up to a system tick late (measured: within
// 1.98 s either way); a second more for the timers' own slack.
inline constexpr Ms kWarningSlack = 3 * kSecond;
// Work: the program's processes (its copies and what they started) using
// more than a tenth of one core in all. Vardex measures it over a tick
// between presence checks, so the oracle takes 10 % either side as unsure;
// and surely seen only work that lasted a tick and two presence periods,
// and only up to the count a tick restarts (a tick and a presence period
// before its end, a tick before that): 30 s with 10-second ticks.
inline constexpr int kWorkSure = 110, kWorkMaybe = 90;
constexpr Ms WorkUnseen(Ms tick) { return 2 * tick + 2 * 5 * kSecond; }

inline std::string Upper(std::string s) {
  for (char& ch : s)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return s;
}

// Where Vardex may keep a program running that the user left idle, because
// Windows hides what it would need to tell. Each use is counted, so that a
// change that leans on them shows.
enum class Excuse {
  // Any input, a move included, while a copy the hooks cannot watch is in
  // front: the system's last-input time tells neither which window took it
  // nor a move from a key.
  kUnhookedInFront,
  // The machine slept: nothing ran, the idle timer's missed ticks come as
  // one, so the end may come up to the limit after the wake.
  kAsleep,
  // The front moved to a copy within 2 s of a key or a button elsewhere:
  // the foreground event says where the front went, not who moved it, so a
  // copy that brings itself forward just after the user typed is taken for
  // the user's own move.
  kFrontAfterInput,
  // The front moved to a copy within 10 s of a key or a button that a copy
  // started from outside followed: a launcher takes seconds before it hands
  // over, and nothing tells its move from the program's own.
  kFrontAfterLaunch,
  // A key, a button or the wheel into a hung copy's window that the hooks do
  // not watch. A hung thread takes no input, so no hook runs in it and the
  // user's input is no use; but the look at the window in front or under the
  // pointer still names the copy (until the system puts its ghost window in
  // the hung one's place), and counts the session's key there. Into a hooked
  // window the same input is seen by nothing: Vardex leaves hooked threads to
  // their hooks.
  kHungWindow,
  // Input just before the machine sleeps, while a copy is in front or under
  // the pointer. The presence check that the wake brings comes before the
  // input check; where one ran since the last input sample too, two sets of
  // hooks came between the samples, and the input check cannot tell that a
  // hook was there when the input came: the copy may have taken it.
  kBeforeSleep,
  kCount
};
inline constexpr std::array<const char*, static_cast<std::size_t>(Excuse::kCount)> kExcuseNames = {
    "input while an unhooked copy is in front (last-input time names no window, no kind)",
    "the machine slept (no timer ran; the end may come up to the limit after the wake)",
    "the front moved to a copy just after a key or a button (no one says who moved it)",
    "the front moved to a copy within 10 s of a launcher's start (no one says who moved it)",
    "input into a hung copy's unhooked window (the window look credits it; no hook runs)",
    "input into a copy just before a sleep (the sample after the wake follows two sets of hooks)",
};
using ExcuseCounts = std::array<long long, static_cast<std::size_t>(Excuse::kCount)>;

class PromiseOracle {
 public:
  struct Stored {
    Ms limit = 30 * kMinute;
    std::string path, password;
  };
  // The limit the window's design shows when no settings were ever saved.
  static constexpr Ms kDefaultLimit = 30 * kMinute;

  PromiseOracle() { counted_.fill(kLongAgo); }

  // A keystroke in the limit field, `text` what it holds after it: a fresh
  // start. A number is the limit, 1 to 90 minutes with its fraction, one
  // outside them its nearest bound; while the text is no number (blank, or
  // half typed), the last number stays in force. The user's `separator`
  // stands for the decimal point.
  void LimitTyped(Ms t, const std::string& text, char separator) {
    const auto minutes = Number(text, separator);
    limit_text_is_number_ = minutes.has_value();
    if (minutes) limit_ = static_cast<Ms>(std::llround(std::clamp(*minutes, 1.0, 90.0) * kMinute));
    fresh_ = t;
    Used(t);
  }
  // A keystroke in the path field: a fresh start, and the program it names.
  void PathTyped(Ms t, const std::string& text) {
    path_ = text;
    fresh_ = t;
    Used(t);
  }
  // Vardex started (the count starts at 0), or its window was brought back:
  // it shows the settings saved last, a fresh start if they differ from the
  // ones in force. With nothing saved it shows the defaults, no program and
  // 30 minutes, and writes nothing.
  void Shown(Ms t, bool start, const std::string& no_password) {
    no_password_ = no_password;
    typed_.clear();
    if (start) {  // the old icon went, and its warning with it
      warning_.reset();
      dial_ = 0;
      TickPeriod(t, kTick);
    }
    if (!saved_) saved_ = Stored{kDefaultLimit, "", no_password};
    // A field left without a number shows one again: a change of the field.
    Reload(t, start, Limit());
  }
  // A policy sets the limit (none: lifts it): the settings saved are shown
  // again with the policy's limit over them. The policy's limit is never
  // saved.
  void PolicySet(Ms t, std::optional<Ms> limit) {
    if (limit == policy_limit_ || !saved_) return;
    const Ms before = Limit();
    policy_limit_ = limit;
    Reload(t, false, before);
  }
  // The settings file a day starts with.
  void Saved(const Stored& s) { saved_ = s; }
  // A script sets the tick's field to `text`: a number gives the idle timer
  // its period at once, 20 to 90 s, one outside them its nearest bound; any
  // other text leaves the period as it was.
  void TickTyped(Ms t, const std::string& text, char separator) {
    const auto seconds = Number(text, separator);
    if (!seconds) return;
    // The timer starts its period afresh even when it is the same.
    ticks_.push_back({t, static_cast<Ms>(std::llround(std::clamp(*seconds, 20.0, 90.0) * kSecond))});
  }
  // The idle timer's period in force.
  Ms tick() const { return ticks_.back().second; }
  // A keystroke in the password field, `text` what it holds after it: the
  // password shown last, typed whole, opens the window, and the field
  // empties.
  void PasswordTyped(const std::string& text) {
    typed_ = text;
    if (text != loaded_password_) return;
    locked_ = false;
    typed_.clear();
  }
  // The lock, by the user's own actions: the window shows the settings saved
  // with a password locked until it is typed. A locked field, and the limit
  // while a policy sets it, take no keystroke.
  bool Locked() const { return locked_; }
  bool LimitOpen() const { return !locked_ && !policy_limit_; }
  // What the password field holds, as the user typed it.
  const std::string& typed() const { return typed_; }
  // "&Done": what is in force is saved, and the count starts at 0.
  void Done(Ms t, const std::string& password) {
    saved_ = Stored{policy_limit_ ? saved_->limit : limit_, path_, password};
    limit_text_is_number_ = true;  // the window shows what it saved
    count_from_ = t;
    Used(t);
  }
  // "Show Task": the user asks for the end of the program named now. Its
  // copies are asked to close, and ended by force after the grace period,
  // as an idle program's are; input, "&Done" or an edit since calls it off.
  void ShowTask(Ms t) { show_task_ = t; }
  // Use of a copy of `program` (its path as the system reports it): a key, a
  // button or the wheel.
  void Input(Ms t, const std::string& program) {
    input_[program] = t;
    if (program == Upper(path_)) Used(t);
  }
  // The input at `t` could be seen neither by the hooks nor by a look at the
  // window in front: the world broke its own rule that every input can be.
  void Unseeable(Ms t, const std::string& program) { unseeable_[program] = t; }
  // The program's processes use `per_mille` of one core in all from `t`
  // on. Work while the program is asked to close is its saving, no use; but
  // after input that Vardex may take as use (an excused one) the request
  // may be off, and the work may count again: then it may keep the program,
  // though it need not.
  void Load(Ms t, const std::string& program, int per_mille) {
    int& raw = raw_load_[program];
    if (raw > kWorkMaybe) raw_loaded_[program] = t;
    raw = per_mille;
    auto& [load, sure_since] = load_.try_emplace(program, 0, kLongAgo).first->second;
    const bool saving = Saving(program);
    const int now = saving ? 0 : per_mille;
    int& maybe = maybe_load_[program];
    if (maybe > kWorkMaybe) maybe_work_[program] = t;
    maybe = saving && !InputExcusedSince(program, Last(asked_, program)) ? 0 : per_mille;
    auto& spells = sure_spells_[program];
    if (load > kWorkSure && now <= kWorkSure) {
      sure_work_[program] = SurelySeen(sure_since, t, program);
      if (!spells.empty()) spells.back().second = t;
    }
    if (load <= kWorkSure && now > kWorkSure) {
      sure_since = t;
      spells.emplace_back(t, kNever);
      if (spells.size() > 64) spells.erase(spells.begin());
    }
    load = now;
  }
  // Vardex said it called a warning or a request to close off.
  void CalledOff(Ms t) { called_off_ = t; }
  // Vardex asked the program to close.
  void Asked(Ms t, const std::string& program) {
    Load(t, program, 0);
    asked_[program] = t;
  }
  // Starting a copy is use too.
  void Started(Ms t, const std::string& program) {
    start_[program] = t;
    if (program == Upper(path_)) Used(t);
  }
  // Input that is no use of `program` but that Vardex may count as use, and why.
  void Excused(Ms t, const std::string& program, Excuse why) {
    auto it = excused_.find(program);
    if (it == excused_.end()) {
      it = excused_.emplace(program, std::array<Ms, static_cast<std::size_t>(Excuse::kCount)>{}).first;
      it->second.fill(kLongAgo);
    }
    it->second[Index(why)] = t;
  }

  // A dry run: nothing may be asked to close or ended; where the end is
  // due, Vardex reports that it would have ended the program, by the same
  // rules as an end.
  void DryRun() { dry_run_ = true; }
  bool dry_run() const { return dry_run_; }
  // Vardex reported that it would have ended `program` now. It stays
  // reported while no use, start or fresh start follows: the program runs
  // on, and one report an idle run is the end that would have come. (Work
  // after the report is left out: the report stands whether Vardex saw it.)
  std::string WouldHaveEnded(Ms t, const std::string& program) {
    reported_ = t;
    return Early(t, program);
  }

  // Never early: Vardex ended a process of `program`.
  std::string Ended(Ms t, const std::string& program) const {
    if (dry_run_) return "ended or closed in a dry run";
    return Early(t, program);
  }
  std::string Early(Ms t, const std::string& program) const {
    if (program != Upper(path_)) return "ended a program that is not the one named by its whole path";
    // A copy started since the click is not asked, and the ones asked may
    // end before the presence check sees it: not use that calls the end off.
    if (TaskAsked(program)) return "";
    if (t - fresh_ < Limit()) return "ended within the limit after the path or the limit changed";
    if (t - count_from_ < Limit()) return "ended within the limit after \"&Done\" or Vardex's start";
    if (t - Last(start_, program) < Limit()) return "ended within the limit after a copy started";
    if (t - Last(unseeable_, program) < Limit()) return "world model: input that nothing could see";
    if (t - Last(input_, program) < Limit()) return "ended within the limit after input into a copy";
    const auto it = load_.find(program);
    const Ms worked = it != load_.end() && it->second.first > kWorkSure ? SurelySeen(it->second.second, t, program)
                                                                        : Last(sure_work_, program);
    if (t - worked < Limit()) {
      // The hold runs from the first tick that held since a use that Vardex
      // surely saw ("&Done" is none).
      const Ms used = std::max({fresh_, Last(start_, program), Last(input_, program)});
      if (hold_ <= 0 || t - WorkedWithinHold(program, t, used) < Limit())
        return "ended within the limit after the program worked";
    }
    return "";
  }

  // The warning, `warning` ahead of the request by the policy (0: none):
  // once an approach to the limit, saying in `text` the seconds until the
  // request (judged at the request): at most the warning time, and not
  // before half the limit has passed; and within a tick of either, since it
  // comes at the first tick that may carry it. The title names the program,
  // the text the limit in whole minutes.
  std::string Warned(Ms t, Ms awake, Ms warning, const std::string& title, const std::string& text) {
    const bool twice = warning_.has_value();
    const std::string name = path_.substr(path_.find_last_of("\\/") + 1);
    const std::string when = name + " will be closed in ";
    const Ms said = text.rfind(when, 0) == 0 ? std::atoll(text.c_str() + when.size()) * kSecond : -1;
    warning_ = Warning{t, awake, said};
    if (twice) return "warned twice in one approach to the limit";
    if (warning <= 0) return "warned although the policy has no warning";
    const long minutes = std::lround(static_cast<double>(Limit()) / kMinute);
    const std::string why = " seconds because it has been idle for " + std::to_string(minutes) +
                            (minutes == 1 ? " minute" : " minutes") + ". Use it to keep it open.";
    if (title != name + " will be closed" || said < 0 || text != when + std::to_string(said / kSecond) + why)
      return "the warning does not name the program, the time left and the limit";
    // A warning time shorter than a tick warns at the tick before the
    // request; a new period since the count began moves it by what it cut.
    const Ms step = TickSince(UsedSince()) + CutSince(UsedSince());
    if (said > std::max(warning, step + kSecond)) return "warned sooner than the warning time before the request";
    // Half the limit counted leaves at most half the limit and the tick
    // that passes it; where the ticks do not divide the limit, the request
    // may wait a tick more for the limit on the clock.
    if (said > Limit() / 2 + step + (Overshoot(UsedSince()) > 0 ? step : 0))
      return "warned before half the limit had passed";
    // A request to close holds the warning back: one of "Show Task" that
    // found no copy to end leaves the count to go on, warned late.
    if (said <= std::min(warning, Limit() / 2) - step && !Saving(Upper(path_)))
      return "warned later than a tick after the warning time";
    return "";
  }
  // The warning went: the count went back, an approach of its own.
  bool warning_shown() const { return warning_.has_value(); }
  void WarningGone() {
    warning_.reset();
    judged_at_ = kLongAgo;
  }
  // The tray icon shows `eighths` of the dial filled (0: a picture of no
  // part of it). Its eighths go up as the idle count does, until a picture
  // of no part of it, and show no more of the limit than has passed since
  // use that Vardex has surely seen by now: the count's first tick counts at
  // once, so a tick more.
  std::string DialShows(Ms t, int eighths) {
    const int before = std::exchange(dial_, eighths);
    if (eighths == 0) return "";
    if (eighths < before) return "the dial went back without emptying";
    for (; !uses_.empty() && uses_.front() <= t - kUseSeen; uses_.pop_front()) seen_use_ = uses_.front();
    if (eighths * Limit() / 8 >= t - seen_use_ + TickSince(seen_use_) + kSecond)
      return "the dial shows more of the limit than has passed since use";
    // Since the idle timer was turned on, with nothing since that starts the
    // count again (use, an edit, "&Done", work, input Vardex may take as use)
    // nor a new period, each tick counted waited for its period.
    const std::string program = Upper(path_);
    if (idle_started_ >= std::max(UsedSince(), Loaded(program, t)) && !InputExcusedSince(program, idle_started_) &&
        ticks_.back().first <= idle_started_ && eighths * Limit() / 8 >= t - idle_started_ + kSecond)
      return "the dial shows more of the limit than has passed since the idle timer was turned on";
    return "";
  }
  // The idle request to close (or a dry run's report) at `t`, `awake` on the
  // awake clock: the dial is full, its approach was warned, and the warning
  // said when. Judged at the first request of an approach; "Show Task" asks
  // unwarned.
  std::string RequestWarned(Ms t, Ms awake, Ms warning) {
    const std::string program = Upper(path_);
    if (TaskAsked(program) || judged_at_ > UsedSince()) return "";
    judged_at_ = t;
    if (dial_ != 7) return "asked to close while the dial shows " + std::to_string(dial_) + " eighths";
    if (warning <= 0) return "";
    if (!warning_) return "asked to close without a warning";
    const auto excused = excused_.find(program);
    // A sleep cuts the tick it fell in short: that tick comes at the wake,
    // and the ticks it missed are made up one a message, at once when
    // another process posts the idle timer's message in a burst.
    if (excused != excused_.end() && excused->second[Index(Excuse::kAsleep)] > UsedSince()) return "";
    // A new period since the warning moves the request by what it cut
    // from the count and by a tick of either length.
    const Ms moved = CutSince(warning_->t) > 0 ? CutSince(warning_->t) + TickSince(warning_->t) : 0;
    if (std::llabs(awake - warning_->awake - warning_->said) > kWarningSlack + moved)
      return "the warning's seconds are not the time until the request";
    return "";
  }

  // How long an asked copy has to close before it may be ended by force, in
  // awake time (a sleep is no part of it), as the machine's policy sets it:
  // none ends an idle program at once, unasked.
  void Grace(Ms grace) { grace_ = grace; }
  // How long before the request the policy warns (0: never).
  void WarningTime(Ms warning) { warning_time_ = warning; }
  // Vardex turned its idle timer on.
  void IdleTimerStarted(Ms t) { idle_started_ = t; }
  // How long work may hold the end off since the last use (0: as long as
  // it goes on).
  void WorkHold(Ms hold) { hold_ = hold; }
  // A copy (`pid`) was asked to close at `t`, `awake` on the world's awake
  // clock; the copies asked at one awake time are one request. `agreed`: it
  // answered yes and returned from the end of the session, as a program
  // does that has saved what it wanted and stays. `endable`: the user may
  // end it (one above the user's integrity level stays whatever Vardex does).
  void AskedToClose(std::int32_t pid, Ms t, Ms awake, bool agreed, bool endable) {
    if (request_.copies.empty() || request_.awake != awake) request_ = Request{t, awake, {}};
    request_.copies[pid] = {agreed, endable, true};
    asked_copies_[pid] = {awake, agreed};
  }
  // Never ahead of the request: Vardex ended the copy `pid` by force. One
  // that agreed may go at once, any other only when the grace period of its
  // last request is over in awake seconds (a wake ends nothing at once). A
  // copy that did not agree may be asked again at the tick that ends the
  // others, so its request is its own, not the last one.
  std::string EndedByForce(std::int32_t pid, Ms awake) {
    if (const auto in = request_.copies.find(pid); in != request_.copies.end()) in->second.runs = false;
    const auto it = asked_copies_.find(pid);
    if (it == asked_copies_.end()) return grace_ > 0 ? "ended by force without being asked to close" : "";
    const LastAsked a = it->second;
    asked_copies_.erase(it);
    if (!a.agreed && awake - a.awake < grace_)
      return "ended by force within the grace period's awake seconds of the request";
    return "";
  }
  // The copy `pid` is gone: its identifier may be another's next.
  void Gone(std::int32_t pid) {
    asked_copies_.erase(pid);
    const auto it = request_.copies.find(pid);
    if (it != request_.copies.end()) it->second.runs = false;
  }
  // Never late after the request, checked at each of Vardex's one-second
  // ticks (`awake` on the awake clock): a copy of the request still runs
  // although its end was due, at once when every copy asked agreed, else
  // when the grace period is over. Use since the request calls the end off.
  std::string OverGrace(Ms awake) const {
    if (!RequestStands() || awake <= request_.awake) return "";
    const bool all_agreed = std::all_of(request_.copies.begin(), request_.copies.end(),
                                        [](const auto& c) { return c.second.agreed; });
    if (!all_agreed && awake - request_.awake < grace_) return "";
    for (const auto& [pid, c] : request_.copies)
      if (c.runs && c.endable)
        return all_agreed ? "not ended at the tick after every copy asked agreed to close"
                          : "not ended at the tick after the grace period";
    return "";
  }

  // Never late, checked at every whole simulated second in (from, until]
  // while a copy of the named program that could be ended runs. Returns the
  // rule and sets `at` to the first second past the limit and its grace;
  // counts each excuse that held the end off. The dial keeps up on the same
  // terms: each eighth of the limit idle shows by that bound after it.
  // While a request stands, its copies are judged by OverGrace.
  std::string Late(Ms from, Ms until, Ms& at) {
    if (RequestStands()) return "";
    const std::string program = Upper(path_);
    const Ms since = IdleSince(until);
    // Idle for the limit by `due`; the bound after each thing that restarts
    // the count, the latest of which holds.
    Ms base = since + (since > UsedSince() ? AskBoundAtTick(TickSince(since)) : AskBound(TickSince(since))) +
              CutSince(since) + Overshoot(since);
    const auto excused = excused_.find(program);
    if (excused != excused_.end()) {
      for (std::size_t i = 0; i < excused->second.size(); ++i) {
        const Ms when = excused->second[i], step = TickSince(when);
        const Ms e = when + (i == Index(Excuse::kAsleep) ? AskBoundAtTick(step) : AskBound(step)) + CutSince(when) +
                     Overshoot(when);
        if (e <= base) continue;
        // Held off by this excuse: counted once per excused input.
        if (FirstSecondAfter(base + Limit()) <= until && counted_[i] != excused->second[i]) {
          counted_[i] = excused->second[i];
          ++counts_[i];
        }
        base = e;
      }
    }
    // Load from before a fresh start, a copy's saving included once nothing
    // asks it to close, may be measured at the first tick after it, which
    // then starts the count again.
    if (Ms loaded = Loaded(program, until); loaded > kLongAgo) {
      if (hold_ > 0) loaded = std::min(loaded, HoldEnds(program));
      base = std::max(base, loaded + AskBoundAtTick(TickSince(loaded)) + CutSince(loaded) + Overshoot(loaded));
    }
    // A tick longer than the warning time, or than half the limit (no
    // warning before it), may leave no tick to warn at before the request
    // is due: the request then waits a tick for it.
    if (warning_time_ > 0 && std::min(warning_time_, Limit() / 2) < TickSince(since)) base += TickSince(since);
    at = std::max(FirstSecondAfter(base + Limit()), FirstSecondAfter(from));
    // The next eighth the dial owes: the k-th shows once more than k
    // eighths of the limit have been counted.
    const int owed = dial_ + 1;
    const Ms dial_at = std::max(FirstSecondAfter(base + owed * Limit() / 8), FirstSecondAfter(from));
    if (owed <= 7 && dial_at <= until && dial_at < at) {
      at = dial_at;
      return "the dial shows " + std::to_string(dial_) + " eighths although idle for " + std::to_string(owed) +
             " eighths of the limit";
    }
    if (at > until) return "";
    if (!dry_run_) return "not asked to close although idle for the limit";
    return reported_ > UsedSince() ? "" : "not reported as would-have-been-ended although idle for the limit";
  }

  // No lost settings: what "&Done" saved is what the next load shows, and a
  // saved password locks the window, whichever decimal separator the user
  // who saved it had.
  std::string Loaded(const std::string& limit, const std::string& path, bool locked, char separator) {
    if (!saved_) return "";
    const Ms shown = static_cast<Ms>(std::llround(std::strtod(Plain(limit, separator).c_str(), nullptr) * kMinute));
    if (shown != policy_limit_.value_or(saved_->limit)) return "the settings loaded are not those saved";
    if (path != saved_->path || locked != (saved_->password != "unset entry"))
      return "the settings loaded are not those saved";
    return "";
  }

  // Since when the named program has been idle, by the rules alone.
  // Work that goes on counts until `now`, or from its start without one.
  Ms IdleSince(Ms now = kLongAgo) const {
    const std::string program = Upper(path_);
    const Ms worked = hold_ > 0 ? std::min(MaybeWorked(program, now), HoldEnds(program)) : MaybeWorked(program, now);
    return std::max({fresh_, count_from_, Last(start_, program), Last(input_, program), worked});
  }
  std::string program() const { return Upper(path_); }
  // The limit in force: a policy's, else the field's.
  Ms limit() const { return Limit(); }
  Ms fresh() const { return fresh_; }
  const std::optional<Stored>& saved() const { return saved_; }
  const ExcuseCounts& excuses() const { return counts_; }

 private:
  static std::size_t Index(Excuse e) { return static_cast<std::size_t>(e); }
  static std::string Plain(std::string text, char separator) {
    std::replace(text.begin(), text.end(), separator, '.');
    return text;
  }
  // A field's text as a number, the user's `separator` for the decimal
  // point; none for a blank, half-typed or other text.
  static std::optional<double> Number(const std::string& text, char separator) {
    const std::string plain = Plain(text, separator);
    char* end = nullptr;
    const double value = std::strtod(plain.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
  }
  static Ms FirstSecondAfter(Ms t) { return (t / kSecond + (t % kSecond < 0 ? 0 : 1)) * kSecond; }
  static Ms Last(const std::map<std::string, Ms>& times, const std::string& program) {
    const auto it = times.find(program);
    return it == times.end() ? kLongAgo : it->second;
  }

  // When `program` may last have worked: `now` while it may, or without
  // a `now`, the last report.
  Ms MaybeWorked(const std::string& program, Ms now) const {
    const auto it = maybe_load_.find(program);
    if (it != maybe_load_.end() && it->second > kWorkMaybe) return std::max(now, Last(maybe_work_, program));
    return Last(maybe_work_, program);
  }
  // When `program` last had load that may be work, its saving included:
  // `now` while it has.
  Ms Loaded(const std::string& program, Ms now) const {
    const auto it = raw_load_.find(program);
    if (it != raw_load_.end() && it->second > kWorkMaybe) return now;
    return Last(raw_loaded_, program);
  }
  // The last work surely seen before the policy's hold from `used` ran out
  // (a tick before it, for the tick's lateness): work after it, in the same
  // spell or a later one, holds nothing until the next use.
  Ms WorkedWithinHold(const std::string& program, Ms t, Ms used) const {
    const Ms hold_ends = used + hold_ - TickSince(used) - 3 * kSecond;
    Ms worked = kLongAgo;
    if (const auto spells = sure_spells_.find(program); spells != sure_spells_.end())
      for (const auto& [from, to] : spells->second) {
        const Ms until = std::min(to, t), unseen = WorkUnseen(TickSince(from));
        if (until - from >= unseen && from <= hold_ends) worked = std::max(worked, std::min(until - unseen, hold_ends));
      }
    return worked;
  }
  // By when work has held the end off the policy's hold at the latest: the
  // hold runs from the first tick that held since the last use, or what
  // Vardex may take as it, and that tick comes by the time sure work takes
  // to be seen, in the first spell of it long enough.
  Ms HoldEnds(const std::string& program) const {
    const Ms since = std::max(UsedSince(program), LastExcusedInput(program));
    const Ms unseen = WorkUnseen(TickSince(since));
    const auto spells = sure_spells_.find(program);
    if (spells == sure_spells_.end()) return kNever;
    for (const auto& [from, to] : spells->second)
      if (to - std::max(from, since) >= unseen) return std::max(from, since) + unseen + TickSince(since) + hold_;
    return kNever;
  }
  // Whether input into `program` that Vardex may take as use, or a move of
  // the front to it that Vardex may take for the user's, was excused after
  // `t`. A sleep is neither.
  bool InputExcusedSince(const std::string& program, Ms t) const { return LastExcusedInput(program) > t; }
  Ms LastExcusedInput(const std::string& program) const {
    Ms last = kLongAgo;
    if (const auto it = excused_.find(program); it != excused_.end())
      for (std::size_t i = 0; i < it->second.size(); ++i)
        if (i != Index(Excuse::kAsleep)) last = std::max(last, it->second[i]);
    return last;
  }
  // The use that sure work from `since` until `until` makes: none when too
  // short to be seen.
  Ms SurelySeen(Ms since, Ms until, const std::string& program) const {
    const Ms unseen = WorkUnseen(TickSince(since));
    return until - since >= unseen ? until - unseen : Last(sure_work_, program);
  }
  // "Show Task" asked last: input, "&Done" or an edit since calls it off.
  bool TaskAsked(const std::string& program) const {
    return show_task_ > std::max({fresh_, count_from_, Last(input_, program)});
  }
  bool Saving(const std::string& program) const { return Last(asked_, program) > UsedSince(program); }
  // The last fresh start, start of a copy or input into one: use, or what
  // counts as it.
  Ms UsedSince() const { return UsedSince(Upper(path_)); }
  Ms UsedSince(const std::string& program) const {
    return std::max({fresh_, count_from_, Last(start_, program), Last(input_, program)});
  }
  // A request to close stands while a copy it asked runs and nothing since
  // may have called it off: no use, no excused input, no dry run.
  bool RequestStands() const {
    if (dry_run_ || request_.copies.empty() || request_.t <= UsedSince()) return false;
    // Input that Vardex may take as use may have called it off, and then
    // Vardex says so; a sleep does not: the grace period goes on in awake
    // time after the wake.
    if (InputExcusedSince(Upper(path_), request_.t - 1) && called_off_ >= request_.t) return false;
    return std::any_of(request_.copies.begin(), request_.copies.end(),
                       [](const auto& c) { return c.second.runs && c.second.endable; });
  }

  std::string path_;  // as typed
  Ms Limit() const { return policy_limit_.value_or(limit_); }
  // The idle timer's periods: each from its time on, until the next.
  std::vector<std::pair<Ms, Ms>> ticks_ = {{kLongAgo, kTick}};
  void TickPeriod(Ms t, Ms period) {
    if (period != tick()) ticks_.push_back({t, period});
  }
  // The longest period in force at any time since `t`.
  Ms TickSince(Ms t) const {
    Ms longest = 0;
    for (std::size_t i = 0; i < ticks_.size(); ++i)
      if (i + 1 == ticks_.size() || ticks_[i + 1].first > t) longest = std::max(longest, ticks_[i].second);
    return longest;
  }
  // How far past the limit the first tick at or after it may come, the
  // count started at a tick: its first tick counts a whole one, so the end
  // waits for the limit on the clock, at a whole number of ticks (and for a
  // tick longer than the limit, the warning takes that tick first). Where
  // the period changed since `t`, the count is a sum of both lengths, and
  // the tick that passes the limit passes it by less than its own length:
  // 7 ticks of 25.5 s leave 1.5 s, and a 30-second tick then overshoots by
  // 28.5 s, more than either length's own whole number of ticks would.
  Ms Overshoot(Ms t) const {
    const Ms step = TickSince(t);
    if (CutSince(t) > 0) return step;
    return (Limit() + step - 1) / step * step - Limit();
  }
  // What the new periods since `t` cut from the count: each starts the
  // timer afresh, and the part of a tick that had passed is not counted.
  Ms CutSince(Ms t) const {
    Ms cut = 0;
    for (std::size_t i = 1; i < ticks_.size(); ++i)
      if (ticks_[i].first > t) cut += ticks_[i - 1].second;
    return cut;
  }
  // The saved settings shown again over `before`, the limit shown until
  // then: a fresh start when the field or the path changes on the way, the
  // file's limit showing before a policy's.
  void Reload(Ms t, bool start, Ms before) {
    if (start || saved_->limit != before || saved_->limit != Limit() || saved_->path != path_ ||
        !limit_text_is_number_)
      fresh_ = t;
    limit_text_is_number_ = true;
    if (start) count_from_ = t;
    if (fresh_ == t || start) Used(t);
    limit_ = saved_->limit;
    path_ = saved_->path;
    loaded_password_ = saved_->password;
    locked_ = loaded_password_ != no_password_;
  }

  Ms limit_ = kDefaultLimit, fresh_ = kLongAgo, count_from_ = kLongAgo, show_task_ = kLongAgo;
  std::optional<Ms> policy_limit_;
  std::map<std::string, Ms> input_, unseeable_, start_, asked_, sure_work_, maybe_work_;
  std::map<std::string, std::pair<int, Ms>> load_;  // by program: its load now, surely work since when
  std::map<std::string, int> maybe_load_;           // by program: its load now, that may be work
  std::map<std::string, int> raw_load_;             // by program: its load now, saving included
  std::map<std::string, Ms> raw_loaded_;            // by program: when that last may have been work
  std::map<std::string, std::vector<std::pair<Ms, Ms>>> sure_spells_;  // by program: sure work, from and to
  std::map<std::string, std::array<Ms, static_cast<std::size_t>(Excuse::kCount)>> excused_;
  std::optional<Stored> saved_;
  struct AskedCopy {
    bool agreed, endable, runs;
  };
  struct Request {
    Ms t = kLongAgo, awake = kLongAgo;
    std::map<std::int32_t, AskedCopy> copies;  // by process identifier
  };
  Request request_;  // the last request to close
  Ms called_off_ = kLongAgo;  // the last time Vardex said it called one off
  struct LastAsked {
    Ms awake;
    bool agreed;
  };
  std::map<std::int32_t, LastAsked> asked_copies_;  // by process identifier: its last request
  bool limit_text_is_number_ = true;  // what the limit field holds
  std::string no_password_, loaded_password_, typed_;
  bool locked_ = false;
  bool dry_run_ = false;
  Ms reported_ = kLongAgo;  // the last report of an end that would have come
  struct Warning {
    Ms t, awake, said;
  };
  std::optional<Warning> warning_;  // the warning showing
  int dial_ = 0;  // eighths shown
  Ms grace_ = 30 * kSecond;
  Ms warning_time_ = 0;
  Ms hold_ = 0;
  Ms idle_started_ = kLongAgo;
  // Use of the named program as it came, and the last that Vardex has
  // surely seen: starts and input that only a look at the windows finds
  // wait for a presence check.
  static constexpr Ms kUseSeen = 5 * kSecond + kSecond;
  std::deque<Ms> uses_;
  Ms seen_use_ = kLongAgo;
  void Used(Ms t) { uses_.push_back(t); }
  // When this approach's request was judged for its warning.
  Ms judged_at_ = kLongAgo;
  std::array<Ms, static_cast<std::size_t>(Excuse::kCount)> counted_{};
  ExcuseCounts counts_{};
};

}  // namespace vardex::testing
