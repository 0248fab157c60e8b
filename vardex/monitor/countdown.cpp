#include "monitor/countdown.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "monitor/match_rule.h"
#include "numbers/number_text.h"

namespace vardex {
namespace {

// Below this share of the limit the ratio is shown as 0.
constexpr double kDisplayThreshold = 0.124;

// Two steps of the system's clock (15.6 ms): how much sooner than its period
// the timer's own tick can seem to come.
constexpr std::int64_t kTickResolutionMs = 32;

// The picture for a ratio: one band per eighth above the first (lower edge
// exclusive, upper edge inclusive); null at or below one eighth.
const Picture* BandPicture(double r, const std::array<const Picture*, 7>& pictures) {
  if (r > 0.875) return pictures[6];
  for (int k = 1; k <= 6; ++k)
    if (r > k / 8.0 && r <= (k + 1) / 8.0) return pictures[static_cast<std::size_t>(k - 1)];
  return nullptr;
}

}  // namespace

void Countdown::Restart() {
  elapsed_seconds_ = 0;
  exact_seconds_ = 0;
  count_began_ = system_.MonotonicMs();
  // The next tick, however soon, is the new count's first, and each one
  // after it a whole period later: ticks lost before cannot be made up
  // after a new start.
  anchor_ = system_.MonotonicMs() - c_.tmrAppShotDown.Interval() + kTickResolutionMs;
  counted_ = 0;
  refused_.clear();
  if (rooms_.closing.Restart()) tray_.HideWarning();
  c_.lblCompletionRatio.SetCaption("0");
  if (rooms_.run.loaded() != 0) tray_.TrayIcon(c_.picTimerOn);
}

void Countdown::StartAfresh() {
  busy_ = false;
  Restart();
  c_.LblElapsedTime.SetCaption("0");
}

void Countdown::PeriodChanged() {
  // Before the first tick the anchor is a start, not a schedule.
  if (!anchor_ || counted_ == 0) return;
  anchor_ = system_.MonotonicMs() - counted_ * c_.tmrAppShotDown.Interval();
}

void Countdown::Tick() {
  if (PathTooShort(c_.txtApplicationName.Text())) return;
  if (!TickDue()) return;
  const Use::Seen seen = rooms_.use.Take(true);
  const bool used = seen.input;
  // Work never calls off a request: the program saves because it was asked.
  const bool was_busy = busy_;
  busy_ = seen.work && !used && !rooms_.closing.asking();
  if (busy_) ++ticks_held_by_work_;
  if (busy_ && !was_busy) rooms_.audit.WorkHeldEnd(c_.txtApplicationName.Text());
  if (used) Used();
  if (used || busy_) {
    Restart();
    // This tick is the new count's first, and the count runs from it: the use
    // may have come just before it, so no time before it is credited. A next
    // message that comes early for the new count is counted by the check each
    // second instead.
    counted_ = 1;
  }

  // The 16-bit count stays at its ends rather than overflow: past 32767 it
  // only grows while a shutdown fails to end the program, and it keeps
  // counting as "above the limit" there.
  constexpr double kTop = std::numeric_limits<std::int16_t>::max(), kBottom = std::numeric_limits<std::int16_t>::min();
  exact_seconds_ = std::clamp(rooms_.fields.intAppUseTime.Read() + exact_seconds_, kBottom, kTop);
  elapsed_seconds_ = RoundToInt16(exact_seconds_).value_or(elapsed_seconds_);
  c_.LblElapsedTime.SetCaption(FormatInteger(elapsed_seconds_));

  const double limit = rooms_.fields.intAppShutDownTime.Read() * 60;
  if (!(limit > 0)) return;  // the field's bounds keep it at 60 or more
  const auto counted_for = CountedFor();
  const auto left = rooms_.closing.WarnAfterCount(elapsed_seconds_, limit, rooms_.fields.intAppUseTime.Read(),
                                                  counted_for.value_or(limit));
  if (left) {
    const std::string path = c_.txtApplicationName.Text();
    tray_.ShowWarning(ClosingWarningTitle(path), ClosingWarningText(path, *left, limit / 60));
    rooms_.audit.WarningShown(path, *left);
  }
  double r = elapsed_seconds_ / limit;
  if (r < kDisplayThreshold) r = 0;
  c_.lblCompletionRatio.SetCaption(r == 0 ? "0" : FormatGeneral(r, system_.DecimalSeparator()));
  // At work the program is not on its way to the end: the icon shows no part of it.
  if (const Picture* band = BandPicture(r, c_.dial); band && !busy_) tray_.TrayIcon(*band);

  const double limit_now = rooms_.fields.intAppShutDownTime.Read() * 60;
  // A second guard beside the fresh count for each new copy: a copy that has
  // not run for the whole limit has not been idle for it. And the count,
  // a tick ahead of the clock from its first tick, ends nothing before the
  // limit has passed on the clock since it began.
  // The tick that warns asks nothing: the warning said when.
  if (limit_now < elapsed_seconds_ && counted_for.value_or(limit_now) >= limit_now && !rooms_.closing.asking() &&
      !left)
    End(std::llround(limit_now * 1000));
}

std::optional<double> Countdown::CountedFor() const {
  if (!count_began_) return std::nullopt;
  // The tick's time on the count's schedule, not when its message came: a
  // late message must not bring the request a tick sooner than the warning
  // said. A counted tick's message never comes more than the clock's
  // resolution before it (TickDue).
  const std::int64_t period = c_.tmrAppShotDown.Interval();
  const std::int64_t at = anchor_ && period > 0 && counted_ > 0 ? *anchor_ + counted_ * period
                                                                : system_.MonotonicMs() + kTickResolutionMs;
  return static_cast<double>(at - *count_began_) / 1000;
}

bool Countdown::TickDue() {
  const std::int64_t period = c_.tmrAppShotDown.Interval();
  if (period <= 0) return true;
  const std::int64_t now = system_.MonotonicMs();
  if (rooms_.run.idle_timer_started() != timer_started_) {
    timer_started_ = rooms_.run.idle_timer_started();
    // The anchor only moves forward: a timer started before a new count
    // (Restart) must not make its ticks count against the time before it.
    if (!anchor_ || *timer_started_ > *anchor_) {
      anchor_ = timer_started_;
      counted_ = 0;
    }
  }
  // WM_TIMER comes late, or coalesced, never early by more than the clock's
  // resolution; a message posted by another process comes at any time. So
  // the ticks counted since the anchor never outnumber the periods passed:
  // a burst counts nothing, and a late tick costs the next one nothing,
  // since the timer keeps its own schedule. Ticks lost while the thread was
  // busy are made up one a message, never ahead of the time passed.
  if (anchor_ && counted_ >= PeriodsTo(now + kTickResolutionMs, period)) return false;
  // The first tick after the anchor sets the schedule the later ones keep: a
  // count started between two messages does not run a message behind.
  if (anchor_ && counted_ == 0) anchor_ = std::max(*anchor_, now - period);
  ++counted_;
  return true;
}

void Countdown::Second() {
  Closing& closing = rooms_.closing;
  if (closing.warned() || closing.asking()) {
    // The user came back, perhaps to answer the program's own question.
    if (!TakeInput() && closing.asking() && (closing.Due(system_.AwakeMs()) || AllAgreed())) EndAsked();
  }
  // The timer's lateness adds up over hundreds of ticks: a tick a second
  // behind the schedule its first tick set is counted here, so that the end
  // comes on the clock. Its own message then counts nothing. A longer gap
  // (the machine slept) is still made up one a message, so that a wake does
  // not end the program at once.
  const std::int64_t period = c_.tmrAppShotDown.Interval();
  const std::int64_t now = system_.MonotonicMs();
  if (c_.tmrAppShotDown.Enabled() && period > 0 && anchor_ && counted_ > 0 &&
      PeriodsTo(now - 1000, period) > counted_ && PeriodsTo(now, period) == counted_ + 1)
    Tick();
}

void Countdown::Used() {
  if (rooms_.closing.warned() || rooms_.closing.asking()) rooms_.audit.EndCalledOff(c_.txtApplicationName.Text());
}

void Countdown::RunStarted() {
  const std::string path = c_.txtApplicationName.Text();
  if (last_end_ && last_end_->path == path)
    rooms_.audit.StartedAgain(path, (system_.MonotonicMs() - last_end_->at) / 60000);
  last_end_.reset();
}

void Countdown::Refused(const ProcessIdentity& copy, const char* why) {
  if (std::find(refused_.begin(), refused_.end(), copy) != refused_.end()) return;
  refused_.push_back(copy);
  rooms_.audit.EndRefused(c_.txtApplicationName.Text(), copy.id, why);
}

void Countdown::Ended(bool idle) {
  const std::string path = c_.txtApplicationName.Text();
  last_end_ = LastEnd{path, system_.MonotonicMs()};
  if (idle) rooms_.reopen.Ended({path, restart_, system_.MonotonicMs()});
}

void Countdown::EndMatchingProcesses() {
  TakeInput();
  End(std::nullopt);
}

bool Countdown::TakeInput() {
  if (!rooms_.use.Take(false).input) return false;
  Used();
  Restart();
  return true;
}

void Countdown::End(std::optional<std::int64_t> limit_ms) {
  Closing& closing = rooms_.closing;
  // An end already asked for runs its grace period to the end; one spared
  // by a dry run stays spared for the rest of the idle run.
  if (closing.asking() || closing.spared()) return;
  const auto copies = MatchingCopies(limit_ms);
  if (!copies) return;
  const std::string path = c_.txtApplicationName.Text();
  // Past every guard, and so exactly where the end would come.
  if (closing.policy().dry_run) {
    if (!copies->empty() && closing.Spare())
      rooms_.audit.WouldHaveEnded(path, rooms_.fields.intAppShutDownTime.Read());
    return;
  }
  // While the program still runs: what it registered to be restarted with.
  restart_.clear();
  for (const ListedCopy& copy : *copies) {
    if (!list_.KillProcessID(copy.who.id)) continue;
    if (const auto restart = list_.RestartCommand(); restart && !restart->empty()) {
      restart_ = *restart;
      break;
    }
  }
  if (closing.policy().grace_seconds <= 0) {
    Kill(*copies, limit_ms.has_value(), 0, limit_ms.has_value());
    return;
  }
  std::vector<ProcessIdentity> asked;
  for (const ListedCopy& copy : *copies) {
    if (limit_ms && !copy.who.created) {  // spared: it keeps the run
      Refused(copy.who, kRefusedUnknownAge);
      continue;
    }
    // The answer is the copy closing; a copy that cannot be asked is ended
    // after the grace period as one that does not answer.
    if (list_.KillProcessID(copy.who.id)) list_.AskToClose();
    rooms_.audit.AskedToClose(path, copy.who.id, closing.policy().grace_seconds);
    asked.push_back(copy.who);
  }
  if (asked.empty()) return;
  rooms_.closing.Asked(std::move(asked), system_.AwakeMs());
  idle_end_ = limit_ms.has_value();
}

void Countdown::EndAsked() {
  const std::int64_t seconds = rooms_.closing.SecondsSinceAsked(system_.AwakeMs());
  const std::vector<ProcessIdentity> asked = rooms_.closing.TakeAsked();
  // A copy started from outside the program during the grace period is use,
  // as at the request.
  std::optional<std::int64_t> limit_ms;
  if (idle_end_) limit_ms = std::llround(rooms_.fields.intAppShutDownTime.Read() * 60 * 1000);
  const auto copies = MatchingCopies(limit_ms);
  if (!copies) return;
  // Every guard again at the hard end: the match rule on a fresh snapshot,
  // and the same copy (identifier and creation time) as the one asked.
  std::vector<ListedCopy> still;
  for (const ListedCopy& copy : *copies)
    if (std::find(asked.begin(), asked.end(), copy.who) != asked.end()) still.push_back(copy);
  const std::string path = c_.txtApplicationName.Text();
  for (const ProcessIdentity& copy : asked) {
    const bool closed = std::none_of(copies->begin(), copies->end(), [&](const ListedCopy& c) { return c.who == copy; });
    if (closed) rooms_.audit.ClosedByItself(path, copy.id, seconds);
  }
  if (still.size() < asked.size()) Ended(idle_end_);
  if (!still.empty())
    Kill(still, false, seconds, idle_end_);
  else if (!asked.empty() && copies->empty())
    // Every copy closed when asked and none runs: the run has ended, as
    // after an end by force, and not only at the next check, which a path
    // changed meanwhile never makes.
    rooms_.run.RunEnded();
}

// As Windows at sign-out: a program that said yes and returned from the end
// of the session has saved what it wanted, so the licence is not held for
// the rest of the grace period. The end itself keeps every guard.
bool Countdown::AllAgreed() {
  const std::vector<ProcessIdentity>& asked = rooms_.closing.asked();
  return std::all_of(asked.begin(), asked.end(),
                     [this](const ProcessIdentity& copy) { return list_.KillProcessID(copy.id) && list_.AgreedToClose(); });
}

std::optional<std::vector<ListedCopy>> Countdown::MatchingCopies(std::optional<std::int64_t> limit_ms) {
  const std::string configured = c_.txtApplicationName.Text();
  if (PathTooShort(configured)) return std::nullopt;

  // Without a fresh snapshot there is nothing safe to end: an old one may
  // name identifiers that now belong to other processes.
  auto scan = ScanCopies(list_, system_, configured);
  if (!scan || !scan->fresh) return std::nullopt;
  std::vector<ListedCopy>& copies = scan->copies;
  // A copy started from outside the program less than the limit ago is use,
  // so no copy of the program has been idle for the limit.
  if (limit_ms && rooms_.use.HoldsOffEnd(copies, *limit_ms)) return std::nullopt;
  return std::move(copies);
}

void Countdown::Kill(const std::vector<ListedCopy>& copies, bool idle_end, std::int64_t asked_seconds, bool away) {
  const std::string path = c_.txtApplicationName.Text();
  int ended = 0, survived = 0;
  for (const ListedCopy& copy : copies) {
    // Without its creation time a copy's identifier may have passed to a
    // later process since the check that first saw it, so its age is unknown.
    if (idle_end && !copy.who.created) {
      Refused(copy.who, kRefusedUnknownAge);
      ++survived;
      continue;
    }
    if (list_.KillProcessID(copy.who.id) && list_.KillProcess()) {
      rooms_.audit.EndedByForce(path, copy.who.id, asked_seconds);
      ++ended;
    } else {
      Refused(copy.who, kRefusedBySystem);
      ++survived;
    }
    tray_.TrayIcon(c_.picTimerOff);
  }
  if (ended > 0) Ended(away);
  // A copy that could not be ended, or was spared, keeps the run, and with
  // it the count above the limit, so that every tick tries again; a copy
  // started later still gets a count of its own (PresenceCheck::Tick).
  if (ended > 0 && survived == 0) rooms_.run.RunEnded();
}

}  // namespace vardex
