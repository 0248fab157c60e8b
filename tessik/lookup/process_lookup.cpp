#include "lookup/process_lookup.h"

#include <tlhelp32.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lookup/process_walk.h"
#include "win32/process_reader.h"
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

// The process that the last lookup found, with the path it was looked up by.
// The handle keeps the process's identifier from being taken by another
// process while it is kept, and tells when the process has ended.
struct KnownMatch {
  char path[MAX_PATH] = "";
  DWORD process_id = 0;
  win32::unique_handle process;
};

// The module's process reader and the last match. Walks on different
// threads take turns through the lock; visitors are called outside it.
struct WalkCache {
  SRWLOCK lock = SRWLOCK_INIT;
  win32::ProcessReader reader;
  KnownMatch match;
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
  win32::unique_hmodule psapi(::LoadLibraryA(libraries.psapi));
  if (!psapi) return FALSE;
  std::vector<win32::ProcessEntry> list;
  if (!ListProcessPaths({libraries.ntdll, psapi.get()}, list)) return FALSE;

  // Platforms without a virtual DOS machine may lack VDMDBG or its task walk;
  // the ordinary processes are still walked, only the 16-bit tasks are not.
  win32::unique_hmodule vdmdbg(::LoadLibraryA(libraries.vdmdbg));
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
  win32::unique_hmodule kernel(::LoadLibraryA(libraries.toolhelp));
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
  DWORD process_id;
};

BOOL CALLBACK MatchModulePath(DWORD process_id, WORD, LPCSTR module_path, LPARAM user) noexcept {
  auto* record = reinterpret_cast<LookupRecord*>(user);
  if (::lstrcmpiA(record->path, module_path) != 0) return TRUE;
  record->process_id = process_id;
  return FALSE;
}

// The process that the last match names, when it was found for `path` and
// still runs; else 0. A match found ended is let go. Lookups of other paths
// (a program that is not running, say) leave it alone: the handle it holds
// costs a process that has ended no more than its identifier's reuse, until
// a lookup of its path or a new match lets it go.
DWORD RecallMatch(LPCSTR path) noexcept {
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  KnownMatch& match = cache.match;
  if (!match.process || ::lstrcmpiA(match.path, path) != 0) return 0;
  if (::WaitForSingleObject(match.process.get(), 0) == WAIT_TIMEOUT) return match.process_id;
  match.process.reset();
  return 0;
}

// Keeps `process_id` as the match of `path` when no later walk could find
// another one while it runs. The system lists processes in the order they
// were created, and a process's path never changes: so when every process
// listed before the match has a path known for its life that is not the
// wanted one, and none of them is a virtual DOS machine (whose 16-bit tasks
// come and go), the match stays the first in the walk's order for as long as
// it runs. Checked against the latest list, which may be newer than the walk.
void RememberMatch(LPCSTR path, DWORD process_id) noexcept {
  WalkCache& cache = SharedWalkCache();
  const win32::exclusive_lock hold(cache.lock);
  for (const win32::ProcessRecord& record : cache.reader.records()) {
    const std::string* known = cache.reader.Known(record);
    if (!known || IsVdmHost(known->c_str())) return;
    if (::lstrcmpiA(known->c_str(), path) != 0) continue;
    if (record.id != process_id) return;
    // Limited access is all a waiting handle needs (Vista and later; before,
    // nothing is kept and every lookup walks). The creation time tells that
    // the identifier still names the listed process.
    win32::unique_handle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process || win32::ProcessCreationTime(process.get()) != record.created) return;
    ::lstrcpynA(cache.match.path, path, MAX_PATH);
    cache.match.process_id = process_id;
    cache.match.process = std::move(process);
    return;
  }
}

struct WindowSearch {
  DWORD process_id;
  DWORD thread_id;  // of the first visible window, else of the first window
};

// Hidden helper windows on background threads (GDI+, .NET) see no input:
// the first visible window's thread is the one the user types into.
BOOL CALLBACK MatchWindowProcess(HWND window, LPARAM user) noexcept {
  auto* search = reinterpret_cast<WindowSearch*>(user);
  DWORD process_id = 0;
  const DWORD thread_id = ::GetWindowThreadProcessId(window, &process_id);
  if (process_id != search->process_id) return TRUE;
  if (::IsWindowVisible(window)) {
    search->thread_id = thread_id;
    return FALSE;
  }
  if (search->thread_id == 0) search->thread_id = thread_id;
  return TRUE;
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

bool FindAppThread(LPCSTR path, DWORD* thread_id) noexcept {
  *thread_id = 0;
  detail::LookupRecord record{};
  ::lstrcpynA(record.path, path, MAX_PATH);
  // A path that had to be cut, or an empty one, would otherwise match a
  // shorter program's path or a process whose path cannot be read.
  if (record.path[0] == '\0' || ::lstrlenA(path) >= MAX_PATH) return false;
  // The monitoring process looks the same program up every few seconds:
  // while the process it found last runs, the walk would find it again.
  record.process_id = detail::RecallMatch(record.path);
  if (record.process_id == 0) {
    ForEachProcess(detail::MatchModulePath, reinterpret_cast<LPARAM>(&record));
    if (record.process_id == 0) return false;
    detail::RememberMatch(record.path, record.process_id);
  }

  detail::WindowSearch search{record.process_id, 0};
  ::EnumWindows(detail::MatchWindowProcess, reinterpret_cast<LPARAM>(&search));
  if (search.thread_id == 0) return false;
  *thread_id = search.thread_id;
  return true;
}

}  // namespace tessik
