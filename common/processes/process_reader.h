// The one reader of running processes, one instance per module: the list
// from the system-wide query (PSAPI's identifier list where the query is
// absent), each process's executable path read once in its life and kept
// while it runs, and the one rule for which failures to read a path last.
// Paths come from the module walk (the executable module's file name), and
// from the image name where the walk cannot read them. The reader reads
// through a process_source, so that its rules can be tested against what
// Windows does and Wine does not. Paths are read in UTF-16 at any length
// and converted strictly: one the ANSI code page cannot hold is unread, so
// no best fit can make it another program's path.
#pragma once

#include <windows.h>

#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "processes/process_query.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace win32 {

// How one attempt to read a process's path ended.
enum class path_read {
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
constexpr bool lasting(path_read read) noexcept { return read != path_read::kImageName && read != path_read::kUnread; }

// The idle process: id 0 and creation time 0 on every listing, the one
// record without a creation time that no other process can take over.
constexpr bool is_idle_process(const process_record& process) noexcept {
  return process.id == 0 && process.created == 0;
}

// Session of a listed process whose session could not be read; no session
// has it.
inline constexpr DWORD kUnknownSession = MAXDWORD;

// What the reader reads through: the system (system_process_source) or a fake.
class process_source {
 public:
  // The system-wide query, in the system's order. False when it is absent
  // or fails.
  virtual bool query(std::vector<process_record>& out) = 0;
  // The older identifier list, with sessions and no creation times.
  virtual bool list_ids(std::vector<process_record>& out) = 0;
  // One attempt at the path of process `id` into `path`, empty when nothing
  // was read. Throws only std::bad_alloc.
  virtual path_read read_path(DWORD id, std::string& path) = 0;

 protected:
  ~process_source() = default;
};

// Where the system's processes are read from: `ntdll` by name (the query
// loads it for each read), `psapi` loaded by the caller, who keeps it for as
// long as it reads (a module's static reader then never frees a library at
// unload).
struct process_libraries {
  LPCSTR ntdll;
  HMODULE psapi;
};

// The system's processes, for one read.
class system_process_source final : public process_source {
 public:
  system_process_source(system_process_query& query, const process_libraries& libraries) noexcept
      : query_(query), ntdll_(libraries.ntdll) {
    if (libraries.psapi) {
      enum_processes_ = proc_address<enum_processes_fn>(libraries.psapi, "EnumProcesses");
      module_file_name_ = proc_address<module_file_name_fn>(libraries.psapi, "GetModuleFileNameExW");
    }
    if (const HMODULE kernel32 = ::GetModuleHandleA(kKernel32))
      image_name_ = proc_address<image_name_fn>(kernel32, "QueryFullProcessImageNameW");
  }

  // False when PSAPI or one of its functions is missing.
  explicit operator bool() const noexcept { return enum_processes_ && module_file_name_; }

  bool query(std::vector<process_record>& out) override { return query_.read(ntdll_, out); }

  bool list_ids(std::vector<process_record>& out) override {
    out.clear();
    unique_process_heap_block ids;
    DWORD count = 0;
    if (!read_process_ids(enum_processes_, ids, &count)) return false;
    out.reserve(count);
    const DWORD* const process_ids = static_cast<const DWORD*>(ids.get());
    for (DWORD i = 0; i < count; ++i) {
      DWORD session = kUnknownSession;
      if (!::ProcessIdToSessionId(process_ids[i], &session)) session = kUnknownSession;
      out.push_back(process_record{process_ids[i], session, 0});
    }
    return true;
  }

  path_read read_path(DWORD id, std::string& path) override {
    path.clear();
    // The longest path the system has, once per source.
    wide_.resize(kLongestPath);
    const auto read = [&](DWORD length) {
      path = length > 0 && length < kLongestPath ? wide_to_ansi({wide_.data(), length}) : std::string();
      return !path.empty();
    };
    bool walk_never = false;
    unique_handle process{::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id)};
    if (process) {
      // A 32-bit process cannot walk a 64-bit one's modules, ever.
      static const bool self_wow64 = is_wow64(::GetCurrentProcess());
      walk_never = self_wow64 && !is_wow64(process.get());
      // A null module handle names the executable's module, the first that
      // EnumProcessModules would give, without listing every module.
      if (!walk_never && read(module_file_name_(process.get(), nullptr, wide_.data(), kLongestPath)))
        return path_read::kModules;
    } else {
      const DWORD error = ::GetLastError();
      if (error == ERROR_INVALID_PARAMETER) return path_read::kGone;
      walk_never = error == ERROR_ACCESS_DENIED;
      if (image_name_) process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      if (!process) {
        if (walk_never) return path_read::kRefused;
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? path_read::kGone : path_read::kUnread;
      }
    }
    // The image name (Vista and later) is the system's from the process's
    // creation on.
    if (!image_name_) return path_read::kUnread;
    DWORD size = kLongestPath;
    if (!image_name_(process.get(), 0, wide_.data(), &size) || !read(size)) return path_read::kNoImage;
    return walk_never ? path_read::kImageNameOnly : path_read::kImageName;
  }

 private:
  using module_file_name_fn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
  using image_name_fn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPWSTR name, DWORD* size);
  static constexpr DWORD kLongestPath = 32768;

  static bool is_wow64(HANDLE process) noexcept {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(process, &wow64) && wow64;
  }

  system_process_query& query_;
  LPCSTR ntdll_;
  enum_processes_fn enum_processes_ = nullptr;
  module_file_name_fn module_file_name_ = nullptr;
  image_name_fn image_name_ = nullptr;  // null before Vista
  std::wstring wide_;
};

// Executable paths keyed by process identifier and creation time: an
// identifier that a new process has taken again never gets the old
// process's path.
class process_path_cache {
 public:
  // The stored path of `process`, or null when it has none (never read, read
  // for an earlier process with the same identifier, or creation time unknown).
  const std::string* find(const process_record& process) const {
    const auto found = paths_.find(process.id);
    if (found == paths_.end() || !keyed(process) || found->second.created != process.created) return nullptr;
    return &found->second.path;
  }
  // Keeps `path` for `process`; without a creation time nothing is kept.
  void store(const process_record& process, std::string path) {
    if (!keyed(process)) return;
    paths_[process.id] = Entry{process.created, std::move(path), generation_};
  }
  // Drops the paths of every process not in `live` (the latest list).
  void retain(const std::vector<process_record>& live) {
    ++generation_;
    for (const process_record& process : live) {
      const auto found = paths_.find(process.id);
      if (found != paths_.end() && found->second.created == process.created) found->second.seen = generation_;
    }
    for (auto it = paths_.begin(); it != paths_.end();)
      it = it->second.seen == generation_ ? std::next(it) : paths_.erase(it);
  }
  std::size_t size() const noexcept { return paths_.size(); }

 private:
  static bool keyed(const process_record& process) noexcept { return process.created != 0 || is_idle_process(process); }

  struct Entry {
    ULONGLONG created;
    std::string path;
    unsigned seen;
  };
  std::unordered_map<DWORD, Entry> paths_;
  unsigned generation_ = 0;
};

// One listed process with its path.
struct process_entry {
  DWORD id;
  DWORD session;
  ULONGLONG created;  // 0 when unknown (the older list)
  std::string path;   // in the reader's form; empty when it cannot be read
  DWORD parent;       // as process_record has it
  ULONGLONG cpu_time;  // as process_record has them
  ULONGLONG io_bytes;
};

enum class path_form {
  kAsRead,
  kUpper,  // upper case by the system's rules for the ANSI code page
};

class process_reader {
 public:
  explicit process_reader(path_form form = path_form::kAsRead) noexcept : form_(form) {}

  // The running processes of `session` (every session when none is given)
  // in the system's order, each with its path. False, with `out` empty, when
  // no list can be had.
  bool read(const process_libraries& libraries, std::optional<DWORD> session,
            std::vector<process_entry>& out) noexcept {
    system_process_source source(query_, libraries);
    if (!source) {
      out.clear();
      return false;
    }
    return read(source, session, out);
  }

  bool read(process_source& source, std::optional<DWORD> session, std::vector<process_entry>& out) noexcept {
    out.clear();
    try {
      // Without creation times the older list vouches for no kept path but
      // the idle process's.
      if (!source.query(records_) && !source.list_ids(records_)) {
        records_.clear();
        return false;
      }
      paths_.retain(records_);
      out.reserve(records_.size());
      for (const process_record& record : records_) {
        if (session && record.session != *session) continue;
        if (const std::string* known = paths_.find(record)) {
          out.push_back(process_entry{record.id, record.session, record.created, *known, record.parent,
                                      record.cpu_time, record.io_bytes});
          continue;
        }
        std::string path;
        const path_read outcome = read_path(source, record.id, path);
        if (lasting(outcome)) paths_.store(record, path);
        out.push_back(process_entry{record.id, record.session, record.created, std::move(path), record.parent,
                                    record.cpu_time, record.io_bytes});
      }
      return true;
    } catch (const std::bad_alloc&) {
      out.clear();
      return false;
    }
  }

  // The path of process `id` read now, in this reader's form; empty when it
  // cannot be read.
  std::string read_path_now(const process_libraries& libraries, DWORD id) noexcept {
    system_process_source source(query_, libraries);
    std::string path;
    try {
      if (source) read_path(source, id, path);
    } catch (const std::bad_alloc&) {
      path.clear();
    }
    return path;
  }

  // The path kept for a process of the latest list (null when none is kept).
  const std::string* known(const process_record& process) const { return paths_.find(process); }

 private:
  path_read read_path(process_source& source, DWORD id, std::string& out) const {
    const path_read outcome = source.read_path(id, out);
    if (form_ == path_form::kUpper && !out.empty()) ::CharUpperBuffA(&out[0], static_cast<DWORD>(out.size()));
    return outcome;
  }

  path_form form_;
  system_process_query query_;
  std::vector<process_record> records_;
  process_path_cache paths_;
};

}  // namespace win32
