#include "lookup/process_lookup.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "lookup/process_walk.h"
#include "lookup/thread_choice.h"
#include "processes/process_query.h"
#include "processes/program_path.h"
#include "win32/result.h"
#include "win32/system_library.h"
#include "win32/unique_any.h"

namespace tessik {
namespace detail {

namespace {

// A process the lookup met, held open: its id is not reused while the
// handle is, and its end shows.
struct KnownProcess {
  DWORD id;
  ULONGLONG created;
  win32::unique_handle handle;
};

// What the lookups of one path remember between walks. The walk reads the
// whole process list, which costs the most at every set; in between, the
// owners of top-level windows tell what is new: a copy that the user can
// type into owns one. Copies without a window (nothing to hook, counted
// only) are picked up at the next walk.
struct LookupMemory {
  std::string path;                   // empty: nothing remembered
  std::vector<KnownProcess> matching;  // found by the walk, or owning a window since
  std::vector<KnownProcess> others;    // window owners whose path is another
  unsigned lookups_since_walk = 0;
};

// The lookups' memory. Lookups on different threads take turns through the
// lock.
struct SharedMemory {
  SRWLOCK lock = SRWLOCK_INIT;
  LookupMemory memory;
};

SharedMemory& TheMemory() {
  static SharedMemory shared;
  return shared;
}

struct LookupRecord {
  std::string path;
  std::vector<DWORD> processes;  // in the walk's order
  bool failed;
};

// Every process whose path is the wanted one; a virtual DOS machine with
// several matching tasks counts once.
BOOL CALLBACK MatchModulePath(DWORD process_id, WORD, LPCSTR module_path, LPARAM user) noexcept {
  auto* record = reinterpret_cast<LookupRecord*>(user);
  if (!win32::same_program_path(record->path.c_str(), module_path)) return TRUE;
  const std::vector<DWORD>& found = record->processes;
  if (std::find(found.begin(), found.end(), process_id) != found.end()) return TRUE;
  try {
    record->processes.push_back(process_id);
    return TRUE;
  } catch (const std::bad_alloc&) {
    record->failed = true;
    return FALSE;
  }
}

struct WindowSearch {
  const std::vector<DWORD>* processes;
  std::vector<TopLevelWindow> windows;  // of those processes, in window order
  bool failed;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM user) noexcept {
  auto* search = reinterpret_cast<WindowSearch*>(user);
  DWORD process_id = 0;
  const DWORD thread_id = ::GetWindowThreadProcessId(window, &process_id);
  try {
    search->windows.push_back(TopLevelWindow{process_id, thread_id, ::IsWindowVisible(window) != FALSE});
    return TRUE;
  } catch (const std::bad_alloc&) {
    search->failed = true;
    return FALSE;
  }
}

// Only the windows of the processes searched for.
BOOL CALLBACK MatchWindowProcess(HWND window, LPARAM user) noexcept {
  const auto* search = reinterpret_cast<const WindowSearch*>(user);
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  const std::vector<DWORD>& wanted = *search->processes;
  if (std::find(wanted.begin(), wanted.end(), process_id) == wanted.end()) return TRUE;
  return CollectWindow(window, user);
}

// The walk gives its visitors no creation times: only the few matching
// processes are asked, once.
KnownProcess Know(DWORD process_id) noexcept {
  KnownProcess known{process_id, 0, win32::unique_handle(::OpenProcess(
                                        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id))};
  if (known.handle) known.created = win32::process_creation_time(known.handle.get());
  return known;
}

bool Gone(const KnownProcess& known) noexcept {
  return !known.handle || ::WaitForSingleObject(known.handle.get(), 0) != WAIT_TIMEOUT;
}

const KnownProcess* Find(const std::vector<KnownProcess>& list, DWORD process_id) noexcept {
  for (const KnownProcess& known : list) {
    if (known.id == process_id) return &known;
  }
  return nullptr;
}


// A walk at least this often, for copies without a window.
constexpr unsigned kWalkEvery = 6;

// The lookup of the path that the last walk looked up, from what is
// remembered and the window owners now. False when a walk must answer: a
// path of its own, the walk's turn, or no window of a matching process.
bool Recall(LPCSTR path, std::vector<MatchedProcess>& matched, std::vector<TopLevelWindow>& windows) noexcept {
  SharedMemory& shared = TheMemory();
  const win32::exclusive_lock hold(shared.lock);
  LookupMemory& memory = shared.memory;
  try {
    if (memory.path.empty() || memory.path != path || ++memory.lookups_since_walk >= kWalkEvery) return false;
    memory.matching.erase(std::remove_if(memory.matching.begin(), memory.matching.end(), Gone),
                          memory.matching.end());
    memory.others.erase(std::remove_if(memory.others.begin(), memory.others.end(), Gone), memory.others.end());
    if (memory.matching.empty()) return false;
    WindowSearch all{nullptr, {}, false};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    if (all.failed) return false;
    win32::unique_hmodule psapi;
    windows.clear();
    for (const TopLevelWindow& window : all.windows) {
      if (Find(memory.matching, window.process_id)) {
        windows.push_back(window);
        continue;
      }
      if (Find(memory.others, window.process_id)) continue;
      // An owner not met before: its path, read once in its life.
      if (!psapi) psapi.reset(win32::load_system_library(kSystemLibraries.psapi));
      const std::string owner_path = ReadPathNow({kSystemLibraries.ntdll, psapi.get()}, window.process_id);
      // One whose path cannot be read yet (just started), or that cannot be
      // held, is read again next time.
      if (owner_path.empty()) continue;
      KnownProcess known = Know(window.process_id);
      if (!known.handle) continue;
      if (win32::same_program_path(owner_path.c_str(), path)) {
        memory.matching.push_back(std::move(known));
        windows.push_back(window);
      } else {
        memory.others.push_back(std::move(known));
      }
    }
    if (windows.empty()) return false;
    matched.clear();
    for (const KnownProcess& known : memory.matching) matched.push_back({known.id, known.created});
    return true;
  } catch (const std::bad_alloc&) {
    memory.path.clear();
    return false;
  }
}

// What a walk of `path` found, for the lookups until the next walk. Once
// the program runs no more, nothing is kept: no process stays held open.
void Remember(LPCSTR path, const std::vector<DWORD>& processes, std::vector<MatchedProcess>& matched) noexcept {
  SharedMemory& shared = TheMemory();
  const win32::exclusive_lock hold(shared.lock);
  LookupMemory& memory = shared.memory;
  if (processes.empty()) {
    memory = LookupMemory{};
    return;
  }
  try {
    if (memory.path != path) memory.others.clear();
    memory.path = path;
    memory.lookups_since_walk = 0;
    std::vector<KnownProcess> matching;
    for (const DWORD process_id : processes) {
      KnownProcess known = Know(process_id);
      matched.push_back({known.id, known.created});
      matching.push_back(std::move(known));
    }
    memory.matching = std::move(matching);
  } catch (const std::bad_alloc&) {
    memory.path.clear();
  }
}

// The processes of `record`'s path and their windows. Between walks, copies
// that started since are picked up by their windows, those that ended are
// dropped; a walk answers every so often, and whenever no matching process
// owns a window. S_FALSE: none runs.
HRESULT MatchingProcesses(LookupRecord& record, std::vector<MatchedProcess>& matched,
                          WindowSearch& search) noexcept {
  if (Recall(record.path.c_str(), matched, search.windows)) return S_OK;
  ForEachProcess(MatchModulePath, reinterpret_cast<LPARAM>(&record));
  if (record.failed || record.processes.empty()) Remember(record.path.c_str(), {}, matched);
  RETURN_HR_IF_MSG(E_OUTOFMEMORY, record.failed, "app lookup: the matching processes");
  if (record.processes.empty()) return S_FALSE;
  search.processes = &record.processes;
  ::EnumWindows(MatchWindowProcess, reinterpret_cast<LPARAM>(&search));
  RETURN_HR_IF_MSG(E_OUTOFMEMORY, search.failed, "app lookup: the matching processes' windows");
  Remember(record.path.c_str(), record.processes, matched);
  RETURN_HR_IF_MSG(E_OUTOFMEMORY, matched.size() != record.processes.size(),
                   "app lookup: remembering the matching processes");
  return S_OK;
}

}  // namespace

}  // namespace detail

void ForgetAppLookups() noexcept {
  detail::SharedMemory& shared = detail::TheMemory();
  const win32::exclusive_lock hold(shared.lock);
  shared.memory = detail::LookupMemory{};
}

DWORD FindAppThreads(LPCSTR path, DWORD* threads, DWORD capacity, AppLookup* found, DWORD* owners) noexcept {
  if (found) *found = AppLookup{};
  detail::LookupRecord record{};
  // An empty path would match a process whose path cannot be read.
  if (!path || path[0] == '\0') return 0;
  try {
    record.path = path;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::vector<detail::MatchedProcess> matched;
  detail::WindowSearch search{nullptr, {}, false};
  if (detail::MatchingProcesses(record, matched, search) != S_OK) return 0;
  if (found) found->processes = static_cast<DWORD>(matched.size());
  DWORD foreground = 0;
  ::GetWindowThreadProcessId(::GetForegroundWindow(), &foreground);
  DWORD threads_found = 0;
  const DWORD count =
      detail::ChooseAppThreads(std::move(matched), foreground, search.windows, threads, owners, capacity, &threads_found);
  if (found) found->threads_found = threads_found;
  return count;
}

}  // namespace tessik
