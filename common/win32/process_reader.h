// The one reader of running processes, one instance per module: the list
// from the system-wide query (PSAPI's identifier list where the query is
// absent), each process's executable path read once in its life and kept
// while it runs, and the one rule for which failures to read a path last.
// Paths come from the module walk (the executable module's file name), and
// from the image name where the walk cannot read them. The reader reads
// through a ProcessSource, so that its rules can be tested against what
// Windows does and Wine does not.
#pragma once

#include <windows.h>

#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "win32/process_query.h"
#include "win32/unique_any.h"

namespace win32 {

// How one attempt to read a process's path ended.
enum class PathRead {
  kModules,        // the module walk read it
  kImageName,      // the image name, where the module walk failed on a process it can walk: one caught
                   // before its module list exists, read again later
  kImageNameOnly,  // the image name, where the module walk never can: a 64-bit process seen from WoW64,
                   // or one that refuses the walk's access
  kRefused,        // every open refused
  kGone,           // no open reaches it: the idle process (id 0), or one that has ended since the list
  kNoImage,        // opened, but no image name that fits: System, Registry, Memory Compression
  kUnread,         // opened, nothing read: before Vista, a process that has not mapped its executable yet
};

// Whether what `read` gave holds for the process's life.
constexpr bool Lasting(PathRead read) noexcept { return read != PathRead::kImageName && read != PathRead::kUnread; }

// The idle process: id 0 and creation time 0 on every listing, the one
// record without a creation time that no other process can take over.
constexpr bool IsIdleProcess(const ProcessRecord& process) noexcept {
  return process.id == 0 && process.created == 0;
}

// Session of a listed process whose session could not be read; no session
// has it.
inline constexpr DWORD kUnknownSession = MAXDWORD;

// What the reader reads through: the system (SystemProcessSource) or a fake.
class ProcessSource {
 public:
  // The system-wide query, in the system's order. False when it is absent
  // or fails.
  virtual bool Query(std::vector<ProcessRecord>& out) = 0;
  // The older identifier list, with sessions and no creation times.
  virtual bool ListIds(std::vector<ProcessRecord>& out) = 0;
  // One attempt at the path of process `id` into `path`, empty when nothing
  // was read.
  virtual PathRead ReadPath(DWORD id, char (&path)[MAX_PATH]) noexcept = 0;

 protected:
  ~ProcessSource() = default;
};

// Where the system's processes are read from: `ntdll` by name (the query
// loads it for each read), `psapi` loaded by the caller, who keeps it for as
// long as it reads (a module's static reader then never frees a library at
// unload).
struct ProcessLibraries {
  LPCSTR ntdll;
  HMODULE psapi;
};

// The system's processes, for one read.
class SystemProcessSource final : public ProcessSource {
 public:
  SystemProcessSource(SystemProcessQuery& query, const ProcessLibraries& libraries) noexcept
      : query_(query), ntdll_(libraries.ntdll) {
    if (libraries.psapi) {
      enum_processes_ = ProcAddress<EnumProcessesFn>(libraries.psapi, "EnumProcesses");
      module_file_name_ = ProcAddress<GetModuleFileNameExAFn>(libraries.psapi, "GetModuleFileNameExA");
    }
    if (const HMODULE kernel32 = ::GetModuleHandleA(kKernel32))
      image_name_ = ProcAddress<QueryFullProcessImageNameAFn>(kernel32, "QueryFullProcessImageNameA");
  }

  // False when PSAPI or one of its functions is missing.
  explicit operator bool() const noexcept { return enum_processes_ && module_file_name_; }

  bool Query(std::vector<ProcessRecord>& out) override { return query_.Read(ntdll_, out); }

  bool ListIds(std::vector<ProcessRecord>& out) override {
    out.clear();
    unique_process_heap_block ids;
    DWORD count = 0;
    if (!ReadProcessIds(enum_processes_, ids, &count)) return false;
    out.reserve(count);
    const DWORD* const process_ids = static_cast<const DWORD*>(ids.get());
    for (DWORD i = 0; i < count; ++i) {
      DWORD session = kUnknownSession;
      if (!::ProcessIdToSessionId(process_ids[i], &session)) session = kUnknownSession;
      out.push_back(ProcessRecord{process_ids[i], session, 0});
    }
    return true;
  }

  PathRead ReadPath(DWORD id, char (&path)[MAX_PATH]) noexcept override {
    path[0] = '\0';
    bool walk_never = false;
    unique_handle process{::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id)};
    if (process) {
      // A 32-bit process cannot walk a 64-bit one's modules, ever.
      static const bool self_wow64 = IsWow64(::GetCurrentProcess());
      walk_never = self_wow64 && !IsWow64(process.get());
      // A null module handle names the executable's module, the first that
      // EnumProcessModules would give, without listing every module.
      if (!walk_never && module_file_name_(process.get(), nullptr, path, MAX_PATH) != 0) return PathRead::kModules;
      path[0] = '\0';
    } else {
      const DWORD error = ::GetLastError();
      if (error == ERROR_INVALID_PARAMETER) return PathRead::kGone;
      walk_never = error == ERROR_ACCESS_DENIED;
      if (image_name_) process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      if (!process) {
        if (walk_never) return PathRead::kRefused;
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? PathRead::kGone : PathRead::kUnread;
      }
    }
    // The image name (Vista and later) is the system's from the process's
    // creation on.
    if (!image_name_) return PathRead::kUnread;
    DWORD size = MAX_PATH;
    if (!image_name_(process.get(), 0, path, &size)) {
      path[0] = '\0';
      return PathRead::kNoImage;
    }
    return walk_never ? PathRead::kImageNameOnly : PathRead::kImageName;
  }

 private:
  using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPSTR name, DWORD size);
  using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR name, DWORD* size);

  static bool IsWow64(HANDLE process) noexcept {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(process, &wow64) && wow64;
  }

  SystemProcessQuery& query_;
  LPCSTR ntdll_;
  EnumProcessesFn enum_processes_ = nullptr;
  GetModuleFileNameExAFn module_file_name_ = nullptr;
  QueryFullProcessImageNameAFn image_name_ = nullptr;  // null before Vista
};

// Executable paths keyed by process identifier and creation time: an
// identifier that a new process has taken again never gets the old
// process's path.
class ProcessPathCache {
 public:
  // The stored path of `process`, or null when it has none (never read, read
  // for an earlier process with the same identifier, or creation time unknown).
  const std::string* Find(const ProcessRecord& process) const {
    const auto found = paths_.find(process.id);
    if (found == paths_.end() || !Keyed(process) || found->second.created != process.created) return nullptr;
    return &found->second.path;
  }
  // Keeps `path` for `process`; without a creation time nothing is kept.
  void Store(const ProcessRecord& process, std::string path) {
    if (!Keyed(process)) return;
    paths_[process.id] = Entry{process.created, std::move(path), generation_};
  }
  // Drops the paths of every process not in `live` (the latest list).
  void Retain(const std::vector<ProcessRecord>& live) {
    ++generation_;
    for (const ProcessRecord& process : live) {
      const auto found = paths_.find(process.id);
      if (found != paths_.end() && found->second.created == process.created) found->second.seen = generation_;
    }
    for (auto it = paths_.begin(); it != paths_.end();)
      it = it->second.seen == generation_ ? std::next(it) : paths_.erase(it);
  }
  std::size_t size() const noexcept { return paths_.size(); }

 private:
  static bool Keyed(const ProcessRecord& process) noexcept { return process.created != 0 || IsIdleProcess(process); }

  struct Entry {
    ULONGLONG created;
    std::string path;
    unsigned seen;
  };
  std::unordered_map<DWORD, Entry> paths_;
  unsigned generation_ = 0;
};

// One listed process with its path.
struct ProcessEntry {
  DWORD id;
  DWORD session;
  ULONGLONG created;  // 0 when unknown (the older list)
  std::string path;   // in the reader's form; empty when it cannot be read
  DWORD parent;       // as ProcessRecord has it
};

enum class PathForm {
  kAsRead,
  kUpper,  // upper case by the system's rules for the ANSI code page
};

class ProcessReader {
 public:
  explicit ProcessReader(PathForm form = PathForm::kAsRead) noexcept : form_(form) {}

  // The running processes of `session` (every session when none is given)
  // in the system's order, each with its path. False, with `out` empty, when
  // no list can be had.
  bool Read(const ProcessLibraries& libraries, std::optional<DWORD> session,
            std::vector<ProcessEntry>& out) noexcept {
    SystemProcessSource source(query_, libraries);
    if (!source) {
      out.clear();
      return false;
    }
    return Read(source, session, out);
  }

  bool Read(ProcessSource& source, std::optional<DWORD> session, std::vector<ProcessEntry>& out) noexcept {
    out.clear();
    try {
      // Without creation times the older list vouches for no kept path but
      // the idle process's.
      if (!source.Query(records_) && !source.ListIds(records_)) {
        records_.clear();
        return false;
      }
      paths_.Retain(records_);
      out.reserve(records_.size());
      for (const ProcessRecord& record : records_) {
        if (session && record.session != *session) continue;
        if (const std::string* known = paths_.Find(record)) {
          out.push_back(ProcessEntry{record.id, record.session, record.created, *known, record.parent});
          continue;
        }
        std::string path;
        const PathRead read = ReadPath(source, record.id, path);
        if (Lasting(read)) paths_.Store(record, path);
        out.push_back(ProcessEntry{record.id, record.session, record.created, std::move(path), record.parent});
      }
      return true;
    } catch (const std::bad_alloc&) {
      out.clear();
      return false;
    }
  }

  // The path of process `id` read now, in this reader's form; empty when it
  // cannot be read.
  std::string ReadPathNow(const ProcessLibraries& libraries, DWORD id) {
    SystemProcessSource source(query_, libraries);
    std::string path;
    if (source) ReadPath(source, id, path);
    return path;
  }

  // The path kept for a process of the latest list (null when none is kept).
  const std::string* Known(const ProcessRecord& process) const { return paths_.Find(process); }

 private:
  PathRead ReadPath(ProcessSource& source, DWORD id, std::string& out) const {
    char path[MAX_PATH];
    const PathRead read = source.ReadPath(id, path);
    out = path;
    if (form_ == PathForm::kUpper && !out.empty()) ::CharUpperBuffA(&out[0], static_cast<DWORD>(out.size()));
    return read;
  }

  PathForm form_;
  SystemProcessQuery query_;
  std::vector<ProcessRecord> records_;
  ProcessPathCache paths_;
};

}  // namespace win32
