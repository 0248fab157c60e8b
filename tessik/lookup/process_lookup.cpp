#include "lookup/process_lookup.h"

#include <tlhelp32.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lookup/process_walk.h"
#include "win32/process_query.h"
#include "win32/process_reader.h"
#include "win32/program_path.h"
#include "win32/result.h"
#include "win32/system_library.h"
#include "win32/unique_any.h"

namespace tessik {
namespace detail {

namespace {

using TaskEnumProcEx = BOOL(WINAPI*)(DWORD thread_id, WORD module16, WORD task16, LPSTR module_name,
                                     LPSTR file_name, LPARAM user);
using VdmEnumTaskWowExFn = INT(WINAPI*)(DWORD process_id, TaskEnumProcEx callback, LPARAM user);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD process_id);
// The ANSI entry (296 bytes on 32-bit Windows), whatever UNICODE says.
using ProcessEntryA = tagPROCESSENTRY32;
using Process32Fn = BOOL(WINAPI*)(HANDLE snapshot, ProcessEntryA* entry);

struct TaskWalk {
  DWORD process_id;
  ProcessVisitor visitor;
  LPARAM user;
  BOOL stop;
};

BOOL WINAPI VisitTask(DWORD, WORD, WORD task16, LPSTR, LPSTR file_name, LPARAM user) noexcept {
  auto* walk = reinterpret_cast<TaskWalk*>(user);
  if (walk->visitor(walk->process_id, task16, file_name, walk->user)) return FALSE;
  walk->stop = TRUE;
  return TRUE;
}

bool IsVdmHost(LPCSTR path) noexcept {
  constexpr char kVdm[] = "NTVDM.EXE";
  constexpr int kVdmLength = sizeof(kVdm) - 1;
  const int length = ::lstrlenA(path);
  return length >= kVdmLength && ::lstrcmpiA(path + length - kVdmLength, kVdm) == 0;
}

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

// The module's process reader and the lookups' memory. Walks on different
// threads take turns through the lock; visitors are called outside it.
struct WalkCache {
  SRWLOCK lock = SRWLOCK_INIT;
  win32::process_reader reader;
  LookupMemory memory;
};

WalkCache& SharedWalkCache() {
  static WalkCache cache;
  return cache;
}

// Every process of the caller's session in the system's order with its
// path. A copy in another session (another user's, on a terminal server) is
// no one's here: it can be neither hooked nor ended from this session, and
// counting it would show "(activity not seen)" for good.
BOOL ListProcessPaths(const win32::process_libraries& libraries, std::vector<win32::process_entry>& list) noexcept {
  static const std::optional<DWORD> own_session = []() -> std::optional<DWORD> {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return std::nullopt;
    return session;
  }();
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  return cache.reader.read(libraries, own_session, list);
}

HRESULT WalkNt(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule psapi(win32::load_system_library(libraries.psapi));
  RETURN_LAST_ERROR_IF_MSG(!psapi, "process walk: loading PSAPI");
  std::vector<win32::process_entry> list;
  RETURN_IF_WIN32_BOOL_FALSE_MSG(ListProcessPaths({libraries.ntdll, psapi.get()}, list),
                                 "process walk: the process list");

  // Platforms without a virtual DOS machine may lack VDMDBG or its task walk;
  // the ordinary processes are still walked, only the 16-bit tasks are not.
  win32::unique_hmodule vdmdbg(win32::load_system_library(libraries.vdmdbg));
  const auto enum_tasks =
      vdmdbg ? win32::proc_address<VdmEnumTaskWowExFn>(vdmdbg.get(), "VDMEnumTaskWOWEx") : nullptr;

  for (const win32::process_entry& process : list) {
    if (!visitor(process.id, 0, process.path.c_str(), user)) break;
    if (enum_tasks && IsVdmHost(process.path.c_str())) {
      TaskWalk walk{process.id, visitor, user, FALSE};
      enum_tasks(process.id, VisitTask, reinterpret_cast<LPARAM>(&walk));
      if (walk.stop) break;
    }
  }
  return S_OK;
}

HRESULT Walk95(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule kernel(win32::load_system_library(libraries.toolhelp));
  RETURN_LAST_ERROR_IF_MSG(!kernel, "process walk: loading the toolhelp functions' library");
  const auto snapshot_fn =
      win32::proc_address<CreateToolhelp32SnapshotFn>(kernel.get(), "CreateToolhelp32Snapshot");
  const auto first = win32::proc_address<Process32Fn>(kernel.get(), "Process32First");
  const auto next = win32::proc_address<Process32Fn>(kernel.get(), "Process32Next");
  RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), !snapshot_fn || !first || !next,
                   "process walk: the toolhelp functions");

  const win32::unique_hfile snapshot(snapshot_fn(TH32CS_SNAPPROCESS, 0));
  RETURN_LAST_ERROR_IF_MSG(!snapshot, "process walk: the process snapshot");
  ProcessEntryA entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = first(snapshot.get(), &entry); more; more = next(snapshot.get(), &entry)) {
    if (!visitor(entry.th32ProcessID, 0, entry.szExeFile, user)) break;
    entry.dwSize = sizeof(entry);
  }
  return S_OK;
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
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  LookupMemory& memory = cache.memory;
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
      const std::string owner_path =
          cache.reader.read_path_now({kSystemLibraries.ntdll, psapi.get()}, window.process_id);
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
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  LookupMemory& memory = cache.memory;
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

BOOL ForEachProcessOn(DWORD platform_id, const WalkLibraries& libraries, ProcessVisitor visitor,
                      LPARAM user) noexcept {
  switch (platform_id) {
    case kPlatformNt:
      return SUCCEEDED(WalkNt(libraries, visitor, user));
    case kPlatformWindows95:
      return SUCCEEDED(Walk95(libraries, visitor, user));
    default:
      return FALSE;
  }
}

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

}  // namespace detail

void ForgetAppLookups() noexcept {
  detail::WalkCache& cache = detail::SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  cache.memory = detail::LookupMemory{};
}

BOOL ForEachProcess(ProcessVisitor visitor, LPARAM user) noexcept {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // only the platform family is read, which the shims keep
#endif
  if (!::GetVersionExA(&version)) return FALSE;
  return detail::ForEachProcessOn(version.dwPlatformId, detail::kSystemLibraries, visitor, user);
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
