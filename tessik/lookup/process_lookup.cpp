#include "lookup/process_lookup.h"

#include <tlhelp32.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lookup/process_walk.h"
#include "win32/process_reader.h"
#include "win32/program_path.h"
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

// The module's process reader. Walks on different threads take turns
// through the lock; visitors are called outside it.
struct WalkCache {
  SRWLOCK lock = SRWLOCK_INIT;
  win32::ProcessReader reader;
};

WalkCache& SharedWalkCache() {
  static WalkCache cache;
  return cache;
}

// Every process in the system's order with its path.
BOOL ListProcessPaths(const win32::ProcessLibraries& libraries, std::vector<win32::ProcessEntry>& list) noexcept {
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  return cache.reader.Read(libraries, std::nullopt, list);
}

BOOL WalkNt(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule psapi(win32::load_system_library(libraries.psapi));
  if (!psapi) return FALSE;
  std::vector<win32::ProcessEntry> list;
  if (!ListProcessPaths({libraries.ntdll, psapi.get()}, list)) return FALSE;

  // Platforms without a virtual DOS machine may lack VDMDBG or its task walk;
  // the ordinary processes are still walked, only the 16-bit tasks are not.
  win32::unique_hmodule vdmdbg(win32::load_system_library(libraries.vdmdbg));
  const auto enum_tasks =
      vdmdbg ? win32::ProcAddress<VdmEnumTaskWowExFn>(vdmdbg.get(), "VDMEnumTaskWOWEx") : nullptr;

  for (const win32::ProcessEntry& process : list) {
    if (!visitor(process.id, 0, process.path.c_str(), user)) break;
    if (enum_tasks && IsVdmHost(process.path.c_str())) {
      TaskWalk walk{process.id, visitor, user, FALSE};
      enum_tasks(process.id, VisitTask, reinterpret_cast<LPARAM>(&walk));
      if (walk.stop) break;
    }
  }
  return TRUE;
}

BOOL Walk95(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule kernel(win32::load_system_library(libraries.toolhelp));
  if (!kernel) return FALSE;
  const auto snapshot_fn =
      win32::ProcAddress<CreateToolhelp32SnapshotFn>(kernel.get(), "CreateToolhelp32Snapshot");
  const auto first = win32::ProcAddress<Process32Fn>(kernel.get(), "Process32First");
  const auto next = win32::ProcAddress<Process32Fn>(kernel.get(), "Process32Next");
  if (!snapshot_fn || !first || !next) return FALSE;

  const win32::unique_hfile snapshot(snapshot_fn(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return FALSE;
  ProcessEntryA entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = first(snapshot.get(), &entry); more; more = next(snapshot.get(), &entry)) {
    if (!visitor(entry.th32ProcessID, 0, entry.szExeFile, user)) break;
    entry.dwSize = sizeof(entry);
  }
  return TRUE;
}

struct LookupRecord {
  char path[MAX_PATH];
  std::vector<DWORD> processes;  // in the walk's order
  bool failed;
};

// Every process whose path is the wanted one; a virtual DOS machine with
// several matching tasks counts once.
BOOL CALLBACK MatchModulePath(DWORD process_id, WORD, LPCSTR module_path, LPARAM user) noexcept {
  auto* record = reinterpret_cast<LookupRecord*>(user);
  if (!win32::same_program_path(record->path, module_path)) return TRUE;
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

BOOL CALLBACK MatchWindowProcess(HWND window, LPARAM user) noexcept {
  auto* search = reinterpret_cast<WindowSearch*>(user);
  DWORD process_id = 0;
  const DWORD thread_id = ::GetWindowThreadProcessId(window, &process_id);
  const std::vector<DWORD>& wanted = *search->processes;
  if (std::find(wanted.begin(), wanted.end(), process_id) == wanted.end()) return TRUE;
  try {
    search->windows.push_back(TopLevelWindow{process_id, thread_id, ::IsWindowVisible(window) != FALSE});
    return TRUE;
  } catch (const std::bad_alloc&) {
    search->failed = true;
    return FALSE;
  }
}

}  // namespace

BOOL ForEachProcessOn(DWORD platform_id, const WalkLibraries& libraries, ProcessVisitor visitor,
                      LPARAM user) noexcept {
  switch (platform_id) {
    case kPlatformNt:
      return WalkNt(libraries, visitor, user);
    case kPlatformWindows95:
      return Walk95(libraries, visitor, user);
    default:
      return FALSE;
  }
}

DWORD ChooseAppThreads(const std::vector<DWORD>& processes, const std::vector<TopLevelWindow>& windows,
                       DWORD* threads, DWORD capacity) noexcept {
  DWORD count = 0;
  const auto taken = [&](DWORD thread_id) { return std::find(threads, threads + count, thread_id) != threads + count; };
  for (const DWORD process_id : processes) {
    DWORD first = 0;
    bool visible = false;
    for (const TopLevelWindow& window : windows) {
      if (window.process_id != process_id) continue;
      if (first == 0) first = window.thread_id;
      if (!window.visible) continue;
      visible = true;
      if (count < capacity && !taken(window.thread_id)) threads[count++] = window.thread_id;
    }
    if (!visible && first != 0 && count < capacity) threads[count++] = first;
  }
  return count;
}

}  // namespace detail

BOOL ForEachProcess(ProcessVisitor visitor, LPARAM user) noexcept {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // only the platform family is read, which the shims keep
#endif
  if (!::GetVersionExA(&version)) return FALSE;
  return detail::ForEachProcessOn(version.dwPlatformId, detail::kSystemLibraries, visitor, user);
}

DWORD FindAppThreads(LPCSTR path, DWORD* threads, DWORD capacity) noexcept {
  detail::LookupRecord record{};
  ::lstrcpynA(record.path, path, MAX_PATH);
  // A path that had to be cut, or an empty one, would otherwise match a
  // shorter program's path or a process whose path cannot be read.
  if (record.path[0] == '\0' || ::lstrlenA(path) >= MAX_PATH) return 0;
  // Every set walks anew: copies that started since are picked up, those
  // that ended are dropped. The walk's kept paths make that cheap.
  ForEachProcess(detail::MatchModulePath, reinterpret_cast<LPARAM>(&record));
  if (record.failed || record.processes.empty()) return 0;

  detail::WindowSearch search{&record.processes, {}, false};
  ::EnumWindows(detail::MatchWindowProcess, reinterpret_cast<LPARAM>(&search));
  if (search.failed) return 0;
  return detail::ChooseAppThreads(record.processes, search.windows, threads, capacity);
}

}  // namespace tessik
