// The running processes from one system-wide query (NtQuerySystemInformation
// with SystemProcessInformation, from ntdll loaded by name): each one's
// identifier, session and creation time, in the system's order. PSAPI's
// identifier list where the query is absent, the libraries both come from,
// and the one conversion of creation times.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "win32/system_library.h"
#include "win32/unique_any.h"

namespace win32 {

struct process_record {
  DWORD id = 0;
  DWORD session = 0;
  // 100-ns units since 1601, as GetProcessTimes gives it; 0 when unknown.
  ULONGLONG created = 0;
  // The process that started it, as it was then; 0 when unknown. The
  // identifier may have been taken again since by a later process.
  DWORD parent = 0;
  // CPU time used so far, user and kernel, in 100-ns units; and the bytes it
  // has read and written (files, devices, network). The system-wide query
  // only; 0 from the older list.
  ULONGLONG cpu_time = 0;
  ULONGLONG io_bytes = 0;
};

namespace detail {

// SYSTEM_PROCESS_INFORMATION up to the I/O counts, with the members that the
// SDK's winternl.h hides in reserved arrays named.
struct system_process_entry {
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
  ULONG_PTR unique_process_key;
  SIZE_T virtual_sizes[2];
  ULONG page_fault_count;
  SIZE_T memory_sizes[9];  // working set, pools, page file, private pages
  LARGE_INTEGER operation_counts[3];
  LARGE_INTEGER read_transfer_count;
  LARGE_INTEGER write_transfer_count;
  LARGE_INTEGER other_transfer_count;
};
static_assert(offsetof(system_process_entry, create_time) == 32, "SYSTEM_PROCESS_INFORMATION layout");
static_assert(offsetof(system_process_entry, image_name) == 56, "SYSTEM_PROCESS_INFORMATION layout");
static_assert(offsetof(system_process_entry, read_transfer_count) == (sizeof(void*) == 8 ? 232 : 160),
              "SYSTEM_PROCESS_INFORMATION layout");
static_assert(sizeof(system_process_entry) == (sizeof(void*) == 8 ? 256 : 184), "SYSTEM_PROCESS_INFORMATION layout");

using nt_query_system_information_fn = LONG(WINAPI*)(ULONG information_class, void* buffer, ULONG size, ULONG* returned);
inline constexpr ULONG kSystemProcessInformation = 5;
inline constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
// The record list of a few thousand processes with their threads fits well
// below this; a larger answer is taken as a fault.
inline constexpr std::size_t kMaxQueryBytes = 64u << 20;

}  // namespace detail

// The libraries the process readers load by name.
inline constexpr char kNtdll[] = "ntdll.dll";        // NtQuerySystemInformation
inline constexpr char kPsapi[] = "PSAPI.DLL";        // EnumProcesses, GetModuleFileNameExA
inline constexpr char kVdmdbg[] = "VDMDBG.DLL";      // VDMEnumTaskWOWEx: the 16-bit tasks of NTVDM
inline constexpr char kKernel32[] = "Kernel32.DLL";  // QueryFullProcessImageNameA; the Windows 95 family's snapshot

template <typename Fn>
Fn proc_address(HMODULE library, LPCSTR name) noexcept {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

// A creation time as the query and process_record carry it.
inline ULONGLONG file_time_value(const FILETIME& time) noexcept {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The creation time of an open process; 0 when it cannot be read.
inline ULONGLONG process_creation_time(HANDLE process) noexcept {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return file_time_value(created);
}

// Keeps its buffer between reads, so that a read allocates nothing once the
// list has been read at its largest.
class system_process_query {
 public:
  // Fills `out` from the query in `ntdll`. False, with `out` empty, when the
  // library or the query is absent or the query fails: the caller then lists
  // the processes the older way.
  bool read(LPCSTR ntdll, std::vector<process_record>& out) noexcept {
    out.clear();
    const unique_hmodule library(load_system_library(ntdll));
    if (!library) return false;
    const auto query = proc_address<detail::nt_query_system_information_fn>(library.get(), "NtQuerySystemInformation");
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
      for (std::size_t at = 0; at + sizeof(detail::system_process_entry) <= end;) {
        const auto* entry = reinterpret_cast<const detail::system_process_entry*>(base + at);
        // Other transfers (device controls) are left out: they are the
        // system's traffic with the program as much as its work.
        out.push_back(process_record{
            static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->unique_process_id)), entry->session_id,
            static_cast<ULONGLONG>(entry->create_time.QuadPart),
            static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->inherited_from_unique_process_id)),
            static_cast<ULONGLONG>(entry->user_time.QuadPart) + static_cast<ULONGLONG>(entry->kernel_time.QuadPart),
            static_cast<ULONGLONG>(entry->read_transfer_count.QuadPart) +
                static_cast<ULONGLONG>(entry->write_transfer_count.QuadPart)});
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

using enum_processes_fn = BOOL(WINAPI*)(DWORD* ids, DWORD size, DWORD* filled);

// The older list where the query is absent: fills `ids` from EnumProcesses,
// starting with 1024 bytes and doubling while a read fills the buffer
// completely. FALSE when the buffer cannot be had or the call fails.
inline BOOL read_process_ids(enum_processes_fn enum_processes, unique_process_heap_block& ids, DWORD* count) noexcept {
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

}  // namespace win32
