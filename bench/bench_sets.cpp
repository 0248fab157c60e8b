// Benchmark 5 (`sets`): one set of MonitoredAppPath (the walk, the window
// search and both hooks on every thread found) with 1, 2 and 8 copies of the
// watched program running, and with one copy whose 8 windows are each on a
// thread of their own; and (`hung`) a set and its removal while the
// companion hangs.
#include <windows.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "components/hook_client_win32.h"
#include "relay/companion.h"
#include "relay/companion_protocol.h"
#include "vardex_bench.h"
#include "win32/text.h"

namespace bench {
namespace {

struct Case {
  const char* name;
  int copies;
  int windows;
  std::vector<double> ms;     // the timed sets: each finds nothing new
  std::vector<double> first;  // the first set on fresh copies: every thread new
};

// Each round takes the cases in turn on fresh copies, so that a load that
// comes and goes falls on every case alike; the first sets of a case (which
// read the new copies' paths, and start the companion) are not timed.
// `wide`: 64-bit copies, hooked through the companion.
class SetsBench {
 public:
  explicit SetsBench(bool wide) : wide_(wide), path_(win32::wide_to_ansi(TargetExe(wide))) {}

  bool Ready() const { return hook_ != nullptr; }

  // One round of `c`: false when its copies did not start.
  bool Round(Case& c, int sets) {
    std::vector<Child> copies(static_cast<size_t>(c.copies));
    const StopAll stop{copies};
    for (Child& copy : copies) {
      if (!copy.Start(TargetExe(wide_), L"0 " + std::to_wstring(c.windows))) return false;
      ::WaitForInputIdle(copy.process.get(), 30000);
    }
    const std::string watched = c.copies > 0 ? path_ : kMissingProgram;
    for (int i = 0; i < kUntimed + sets; ++i) {
      const double t = NowUs();
      if ((hook_->MonitoredAppPath(watched) != vardex::Watching::kNothing) != (c.copies > 0)) ok_ = false;
      const double ms = (NowUs() - t) / 1000.0;
      if (i >= kUntimed) c.ms.push_back(ms);
      if (i == 0 && starting_set_ < 0) {
        starting_set_ = ms;
      } else if (i == 0) {
        c.first.push_back(ms);
      }
    }
    hook_->MonitoredAppPath("");
    return true;
  }

  int Print(const Case* cases, size_t count, int sets, int rounds) const {
    const std::string program = wide_ ? " (64-bit program)" : "";
    const std::string runs = std::to_string(sets) + " sets x " + std::to_string(rounds) + " rounds";
    const Summary one_copy = Summarize(cases[0].ms);
    for (const Case* c = cases; c != cases + count; ++c) {
      const Summary s = Summarize(c->ms);
      const std::string figure = "5. MonitoredAppPath set" + program + ", " + c->name + ", ms";
      const std::string hooks = std::to_string(2 * c->copies * c->windows);
      if (c->copies > 0) {
        Row(("5. first set on fresh copies" + program + ", " + c->name + ", ms").c_str(), "",
            Cell(Summarize(c->first), 2),
            "every thread new: " + hooks + " hooks set; " + std::to_string(c->first.size()) + " rounds");
      }
      if (c == cases) {
        Row(figure.c_str(), "", Cell(s, 2), "a set that finds nothing new (2 hooks kept); " + runs);
      } else {
        Row(figure.c_str(), Cell(one_copy, 2), Cell(s, 2),
            "baseline: 1 copy; " + hooks + " hooks, " + Fixed(s.median / one_copy.median, 2) + "x; " + runs);
      }
    }
    Row(("5. the first set" + program + ", ms").c_str(), "", Fixed(starting_set_, 2),
        wide_ ? "starts the companion and waits for it: the longest one set holds the monitoring thread"
              : "reads the copy's path for the first time");
    if (!ok_) std::fprintf(stderr, "a set did not give what it should\n");
    return ok_ ? 0 : 1;
  }

 private:
  static constexpr int kUntimed = 3;

  Recorder recorder_;
  vardex::HookComponentFactoryWin32 factory_;
  const std::unique_ptr<vardex::HookComponent> hook_ = factory_.Create(recorder_);
  const bool wide_;
  const std::string path_;
  // The very first set also starts the companion for a 64-bit program: the
  // longest the monitoring thread is held by one set.
  double starting_set_ = -1;
  bool ok_ = true;
};

struct WindowThreadSearch {
  DWORD process_id;
  DWORD thread = 0;
};

BOOL CALLBACK MatchWindowThread(HWND window, LPARAM p) noexcept {
  auto& search = *reinterpret_cast<WindowThreadSearch*>(p);
  DWORD owner = 0;
  const DWORD thread = ::GetWindowThreadProcessId(window, &owner);
  if (owner != search.process_id) return TRUE;
  search.thread = thread;
  return FALSE;
}

// The thread of `process_id`'s first top-level window, waited for up to 5 s;
// 0 when it has none.
DWORD WindowThreadOf(DWORD process_id) {
  WindowThreadSearch search{process_id};
  for (int i = 0; i < 100 && search.thread == 0; ++i) {
    if (i > 0) ::Sleep(50);
    ::EnumWindows(MatchWindowThread, reinterpret_cast<LPARAM>(&search));
  }
  return search.thread;
}

// The companion's helper window, once it has served a set on `thread` (a
// set leaves a slow start pending, for a later one to finish); null when it
// never did.
HWND ServedHelper(tessik::Companion& companion, DWORD thread) {
  DWORD hooked = 0;
  for (int i = 0; i < 40 && hooked == 0; ++i) {
    if (i > 0) ::Sleep(250);
    hooked = companion.SetHooks(&thread, 1, tessik::Companion::SetDeadline());
  }
  const HWND helper = ::FindWindowExA(HWND_MESSAGE, nullptr, tessik::companion::kHostWindowClass, nullptr);
  return hooked != 0 ? helper : nullptr;
}

}  // namespace

int RunSets(int rounds, int sets, bool wide) {
  SetsBench bench(wide);
  if (!bench.Ready()) return 1;
  Case cases[] = {{"1 copy", 1, 1, {}, {}},
                  {"2 copies", 2, 1, {}, {}},
                  {"8 copies", 8, 1, {}, {}},
                  {"1 copy with 8 window threads", 1, 8, {}, {}},
                  {"program not running", 0, 0, {}, {}}};
  for (int round = 0; round < rounds; ++round) {
    for (Case& c : cases) {
      if (!bench.Round(c, sets)) return 1;
    }
  }
  return bench.Print(cases, std::size(cases), sets, rounds);
}

// A set and the removal after it, both sent while the helper's thread is
// suspended, on a 64-bit target's window thread. They run on the monitoring
// (UI) thread, which pumps nothing meanwhile, so together they must keep to
// one set's budget. Each round first has the helper serve a set, then
// suspends it, times, and resumes it.
int RunHungHelper(int rounds) {
  std::vector<Child> targets(1);
  const StopAll stop{targets};
  Child& target = targets.front();
  if (!target.Start(TargetExe(sizeof(void*) == 4), L"0 1")) return 1;
  ::WaitForInputIdle(target.process.get(), 30000);
  DWORD thread = WindowThreadOf(target.id);
  if (thread == 0) {
    std::fprintf(stderr, "the target showed no window\n");
    return 1;
  }
  tessik::Companion companion;
  std::vector<double> held;
  for (int round = 0; round < rounds; ++round) {
    const HWND helper = ServedHelper(companion, thread);
    if (!helper) {
      std::fprintf(stderr, "the helper never served a set\n");
      return 1;
    }
    const win32::unique_handle hung(
        ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, ::GetWindowThreadProcessId(helper, nullptr)));
    if (!hung || ::SuspendThread(hung.get()) == static_cast<DWORD>(-1)) {
      std::fprintf(stderr, "the helper's thread could not be suspended\n");
      return 1;
    }
    const double t = NowUs();
    const DWORD deadline = tessik::Companion::SetDeadline();
    companion.SetHooks(&thread, 1, deadline);
    companion.RemoveHooks(deadline);
    held.push_back((NowUs() - t) / 1000.0);
    ::ResumeThread(hung.get());
  }
  Row("5. a set and its removal with the companion hung, ms", std::to_string(tessik::Companion::kSetBudgetMs),
      Cell(Summarize(held), 0),
      "baseline: one set's budget, which the two share; " + std::to_string(rounds) + " rounds");
  return 0;
}

}  // namespace bench
