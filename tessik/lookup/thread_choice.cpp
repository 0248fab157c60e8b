#include "lookup/thread_choice.h"

#include <algorithm>
#include <new>
#include <utility>

namespace tessik::detail {

DWORD ChooseAppThreads(std::vector<MatchedProcess> processes, DWORD foreground_process,
                       const std::vector<TopLevelWindow>& windows, DWORD* threads, DWORD* owners, DWORD capacity,
                       DWORD* found) noexcept {
  if (found) *found = 0;
  try {
    // What the user works in now, then what was opened last: the copies
    // most likely in use keep their hooks when the bound cuts.
    std::stable_sort(processes.begin(), processes.end(),
                     [foreground_process](const MatchedProcess& a, const MatchedProcess& b) {
                       const bool a_first = a.id == foreground_process;
                       const bool b_first = b.id == foreground_process;
                       if (a_first != b_first) return a_first;
                       return a.created > b.created;
                     });
    std::vector<std::pair<DWORD, DWORD>> chosen;  // thread, its process
    const auto taken = [&chosen](DWORD thread_id) {
      return std::any_of(chosen.begin(), chosen.end(), [thread_id](const auto& c) { return c.first == thread_id; });
    };
    for (const MatchedProcess& process : processes) {
      DWORD first = 0;
      bool visible = false;
      for (const TopLevelWindow& window : windows) {
        if (window.process_id != process.id) continue;
        if (first == 0) first = window.thread_id;
        if (!window.visible) continue;
        visible = true;
        if (!taken(window.thread_id)) chosen.emplace_back(window.thread_id, process.id);
      }
      if (!visible && first != 0) chosen.emplace_back(first, process.id);
    }
    if (found) *found = static_cast<DWORD>(chosen.size());
    const DWORD count = std::min(static_cast<DWORD>(chosen.size()), capacity);
    for (DWORD i = 0; i < count; ++i) {
      threads[i] = chosen[i].first;
      if (owners) owners[i] = chosen[i].second;
    }
    return count;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace tessik::detail
