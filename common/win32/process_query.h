// The running processes from one system-wide query (NtQuerySystemInformation
// with SystemProcessInformation, from ntdll loaded by name): each one's
// identifier, session and creation time, in the system's order. And a cache of
// executable paths keyed by identifier and creation time, so that a process's
// path is read once in its life instead of at every walk.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "win32/unique_any.h"

namespace win32 {

struct ProcessRecord {
  DWORD id = 0;
  DWORD session = 0;
  // 100-ns units since 1601, as GetProcessTimes gives it; 0 when unknown.
  ULONGLONG created = 0;
};

namespace detail {

// SYSTEM_PROCESS_INFORMATION up to the session id, with the members that the
// SDK's winternl.h hides in reserved arrays named.
struct SystemProcessEntry {
  ULONG next_entry_offset;
  ULONG number_of_threads;
  LARGE_INTEGER working_set_private_size;
  ULONG hard_fault_count;
  ULONG number_of_threads_high_watermark;
  ULONGLONG cycle_time;
  LARGE_INTEGER create_time;
  LARGE_INTEGER user_time;
  LARGE_INTEGER kernel_time;
  struct {
    USHORT length;
    USHORT maximum_length;
    PWSTR buffer;
  } image_name;
  LONG base_priority;
  HANDLE unique_process_id;
  HANDLE inherited_from_unique_process_id;
  ULONG handle_count;
  ULONG session_id;
};
static_assert(offsetof(SystemProcessEntry, create_time) == 32, "SYSTEM_PROCESS_INFORMATION layout");
static_assert(offsetof(SystemProcessEntry, image_name) == 56, "SYSTEM_PROCESS_INFORMATION layout");

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG information_class, void* buffer, ULONG size, ULONG* returned);
inline constexpr ULONG kSystemProcessInformation = 5;
inline constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
// The record list of a few thousand processes with their threads fits well
// below this; a larger answer is taken as a fault.
inline constexpr std::size_t kMaxQueryBytes = 64u << 20;

}  // namespace detail

inline constexpr char kNtdll[] = "ntdll.dll";

// Keeps its buffer between reads, so that a read allocates nothing once the
// list has been read at its largest.
class SystemProcessQuery {
 public:
  // Fills `out` from the query in `ntdll`. False, with `out` empty, when the
  // library or the query is absent or the query fails: the caller then lists
  // the processes the older way.
  bool Read(LPCSTR ntdll, std::vector<ProcessRecord>& out) noexcept {
    out.clear();
    const unique_hmodule library(::LoadLibraryA(ntdll));
    if (!library) return false;
    const auto query = reinterpret_cast<detail::NtQuerySystemInformationFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(library.get(), "NtQuerySystemInformation")));
    if (!query) return false;
    try {
      if (buffer_.empty()) buffer_.resize(64 * 1024 / sizeof(ULONGLONG));
      for (;;) {
        const ULONG size = static_cast<ULONG>(buffer_.size() * sizeof(ULONGLONG));
        ULONG returned = 0;
        const LONG status = query(detail::kSystemProcessInformation, buffer_.data(), size, &returned);
        if (status >= 0) break;
        // The list grows between the two calls: ask for more than it needed.
        const std::size_t wanted = (std::max)(static_cast<std::size_t>(returned), std::size_t{size}) * 2;
        if (status != detail::kStatusInfoLengthMismatch || wanted > detail::kMaxQueryBytes) return false;
        buffer_.assign(wanted / sizeof(ULONGLONG), 0);
      }
      const auto* const base = reinterpret_cast<const BYTE*>(buffer_.data());
      const std::size_t end = buffer_.size() * sizeof(ULONGLONG);
      for (std::size_t at = 0; at + sizeof(detail::SystemProcessEntry) <= end;) {
        const auto* entry = reinterpret_cast<const detail::SystemProcessEntry*>(base + at);
        out.push_back(ProcessRecord{static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->unique_process_id)),
                                    entry->session_id, static_cast<ULONGLONG>(entry->create_time.QuadPart)});
        if (entry->next_entry_offset == 0) return true;
        at += entry->next_entry_offset;
      }
    } catch (const std::bad_alloc&) {
    }
    out.clear();
    return false;
  }

 private:
  std::vector<ULONGLONG> buffer_;  // 8-byte aligned, as the records need
};

// Executable paths by process identifier, each valid only for the creation
// time it was read for: an identifier that a new process has taken again
// never gets the old process's path.
class ProcessPathCache {
 public:
  // The stored path of `process`, or null when it has none (never read, read
  // for an earlier process with the same identifier, or creation time unknown).
  const std::string* Find(const ProcessRecord& process) const {
    const auto found = paths_.find(process.id);
    if (found == paths_.end() || process.created == 0 || found->second.created != process.created) return nullptr;
    return &found->second.path;
  }
  // Keeps `path` for `process`; without a creation time nothing is kept.
  void Store(const ProcessRecord& process, std::string path) {
    if (process.created == 0) return;
    paths_[process.id] = Entry{process.created, std::move(path), generation_};
  }
  // Drops the paths of every process not in `live` (the latest query).
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
  struct Entry {
    ULONGLONG created;
    std::string path;
    unsigned seen;
  };
  std::unordered_map<DWORD, Entry> paths_;
  unsigned generation_ = 0;
};

}  // namespace win32
