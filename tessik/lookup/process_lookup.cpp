#include "lookup/process_lookup.h"

#include <tlhelp32.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "lookup/process_walk.h"
#include "win32/process_query.h"
#include "win32/unique_any.h"

namespace tessik {
namespace detail {

BOOL ReadProcessIds(EnumProcessesFn enum_processes, HeapBlock& ids, DWORD* count) noexcept {
  for (DWORD size = 1024;; size *= 2) {
    ids.reset(::HeapAlloc(::GetProcessHeap(), 0, size));
    if (!ids) return FALSE;
    DWORD filled = 0;
    if (!enum_processes(static_cast<DWORD*>(ids.get()), size, &filled)) {
      ids.reset();
      return FALSE;
    }
    // A full buffer may have cut the list short.
    if (filled != size) {
      *count = filled / sizeof(DWORD);
      return TRUE;
    }
    if (size > MAXDWORD / 2) {
      ids.reset();
      return FALSE;
    }
  }
}

namespace {

using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPSTR name, DWORD size);
using TaskEnumProcEx = BOOL(WINAPI*)(DWORD thread_id, WORD module16, WORD task16, LPSTR module_name,
                                     LPSTR file_name, LPARAM user);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR name, DWORD* size);
using VdmEnumTaskWowExFn = INT(WINAPI*)(DWORD process_id, TaskEnumProcEx callback, LPARAM user);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD process_id);
// The ANSI entry (296 bytes on 32-bit Windows), whatever UNICODE says.
using ProcessEntryA = tagPROCESSENTRY32;
using Process32Fn = BOOL(WINAPI*)(HANDLE snapshot, ProcessEntryA* entry);

constexpr DWORD kProcessQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410

template <typename Fn>
Fn Lookup(HMODULE library, LPCSTR name) noexcept {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

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

struct ModulePathReader {
  EnumProcessModulesFn enum_modules;
  GetModuleFileNameExAFn module_file_name;
  QueryFullProcessImageNameAFn image_name;  // null before Vista

  // The executable's path of one process into `path`, empty when it cannot
  // be read. True when that holds for the process's life: the path was read;
  // access was refused; no open can reach the process (the idle process, id
  // 0, or one that has ended since the list was taken); or, from Vista on,
  // the process has no image name, which the system gives a process when it
  // makes it (System, Registry, Memory Compression never have one). Before
  // Vista, a process that could be opened but not read may not have mapped
  // its executable yet, and is read again at the next walk.
  bool Read(DWORD process_id, char (&path)[MAX_PATH]) const noexcept {
    path[0] = '\0';
    bool unreachable = false;
    if (const win32::unique_handle process{::OpenProcess(kProcessQueryAndRead, FALSE, process_id)}) {
      HMODULE first_module = nullptr;
      DWORD needed = 0;
      if (enum_modules(process.get(), &first_module, sizeof(first_module), &needed) &&
          module_file_name(process.get(), first_module, path, MAX_PATH) != 0) {
        return true;
      }
      path[0] = '\0';
    } else {
      unreachable = IsPermanentOpenFailure(::GetLastError());
    }
    // A 32-bit process cannot walk a 64-bit one's modules; the image name it
    // can read (Vista and later).
    if (!image_name) return unreachable;
    const win32::unique_handle limited{::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id)};
    if (!limited) return IsPermanentOpenFailure(::GetLastError());
    DWORD size = MAX_PATH;
    if (!image_name(limited.get(), 0, path, &size)) path[0] = '\0';
    return true;
  }

  static bool IsPermanentOpenFailure(DWORD error) noexcept {
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_PARAMETER;
  }
};

struct ProcessPath {
  DWORD process_id;
  std::string path;
};

// The paths read so far by any walk of this module and the query's buffers.
// Walks on different threads take turns through the lock; visitors are
// called outside it.
struct WalkCache {
  SRWLOCK lock = SRWLOCK_INIT;
  win32::SystemProcessQuery query;
  std::vector<win32::ProcessRecord> records;
  win32::ProcessPathCache paths;
};

WalkCache& SharedWalkCache() {
  static WalkCache cache;
  return cache;
}

// Every process in the system's order with its path: from the query and the
// cache where the query answers, else from EnumProcesses with every path read.
BOOL ListProcessPaths(LPCSTR ntdll, EnumProcessesFn enum_processes, const ModulePathReader& reader,
                      std::vector<ProcessPath>& list) noexcept {
  try {
    char path[MAX_PATH];
    {
      WalkCache& cache = SharedWalkCache();
      const win32::exclusive_lock hold(cache.lock);
      if (cache.query.Read(ntdll, cache.records)) {
        cache.paths.Retain(cache.records);
        list.reserve(cache.records.size());
        for (const win32::ProcessRecord& record : cache.records) {
          if (const std::string* known = cache.paths.Find(record)) {
            list.push_back(ProcessPath{record.id, *known});
            continue;
          }
          if (reader.Read(record.id, path)) cache.paths.Store(record, path);
          list.push_back(ProcessPath{record.id, path});
        }
        return TRUE;
      }
    }
    HeapBlock ids;
    DWORD count = 0;
    if (!ReadProcessIds(enum_processes, ids, &count)) return FALSE;
    list.reserve(count);
    const DWORD* const process_ids = static_cast<const DWORD*>(ids.get());
    for (DWORD i = 0; i < count; ++i) {
      reader.Read(process_ids[i], path);
      list.push_back(ProcessPath{process_ids[i], path});
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

BOOL WalkNt(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule psapi(::LoadLibraryA(libraries.psapi));
  if (!psapi) return FALSE;
  const auto enum_processes = Lookup<EnumProcessesFn>(psapi.get(), "EnumProcesses");
  const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  const ModulePathReader reader{
      Lookup<EnumProcessModulesFn>(psapi.get(), "EnumProcessModules"),
      Lookup<GetModuleFileNameExAFn>(psapi.get(), "GetModuleFileNameExA"),
      kernel32 ? Lookup<QueryFullProcessImageNameAFn>(kernel32, "QueryFullProcessImageNameA") : nullptr};
  if (!enum_processes || !reader.enum_modules || !reader.module_file_name) return FALSE;

  // Platforms without a virtual DOS machine may lack VDMDBG or its task walk;
  // the ordinary processes are still walked, only the 16-bit tasks are not.
  win32::unique_hmodule vdmdbg(::LoadLibraryA(libraries.vdmdbg));
  const auto enum_tasks =
      vdmdbg ? Lookup<VdmEnumTaskWowExFn>(vdmdbg.get(), "VDMEnumTaskWOWEx") : nullptr;

  std::vector<ProcessPath> list;
  if (!ListProcessPaths(libraries.ntdll, enum_processes, reader, list)) return FALSE;

  for (const ProcessPath& process : list) {
    if (!visitor(process.process_id, 0, process.path.c_str(), user)) break;
    if (enum_tasks && IsVdmHost(process.path.c_str())) {
      TaskWalk walk{process.process_id, visitor, user, FALSE};
      enum_tasks(process.process_id, VisitTask, reinterpret_cast<LPARAM>(&walk));
      if (walk.stop) break;
    }
  }
  return TRUE;
}

BOOL Walk95(const WalkLibraries& libraries, ProcessVisitor visitor, LPARAM user) noexcept {
  win32::unique_hmodule kernel(::LoadLibraryA(libraries.toolhelp));
  if (!kernel) return FALSE;
  const auto snapshot_fn = Lookup<CreateToolhelp32SnapshotFn>(kernel.get(), "CreateToolhelp32Snapshot");
  const auto first = Lookup<Process32Fn>(kernel.get(), "Process32First");
  const auto next = Lookup<Process32Fn>(kernel.get(), "Process32Next");
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
  if (::lstrcmpiA(record->path, module_path) != 0) return TRUE;
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
