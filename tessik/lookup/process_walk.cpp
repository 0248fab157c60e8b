#include "lookup/process_walk.h"

#include <tlhelp32.h>

#include <optional>
#include <string>
#include <vector>

#include "processes/process_reader.h"
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

// The module's process reader. Walks on different threads take turns
// through the lock; visitors are called outside it.
struct SharedReader {
  SRWLOCK lock = SRWLOCK_INIT;
  win32::process_reader reader;
};

SharedReader& TheReader() {
  static SharedReader shared;
  return shared;
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
  SharedReader& shared = TheReader();
  const win32::exclusive_lock hold(shared.lock);
  return shared.reader.read(libraries, own_session, list);
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

std::string ReadPathNow(const win32::process_libraries& libraries, DWORD process_id) noexcept {
  SharedReader& shared = TheReader();
  const win32::exclusive_lock hold(shared.lock);
  return shared.reader.read_path_now(libraries, process_id);
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

}  // namespace tessik
