#include "components/input_watch_win32.h"

#include <cstring>

#include "win32/process_query.h"
#include "win32/system_library.h"

namespace vardex {
namespace {

constexpr char kConsoleHost[] = "conhost.exe";

// PROCESS_BASIC_INFORMATION, with the parent's identifier named.
struct BasicInformation {
  LONG exit_status;
  void* peb;
  ULONG_PTR affinity;
  LONG base_priority;
  ULONG_PTR process_id;
  ULONG_PTR parent_process_id;
};
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE process, ULONG information_class, void* buffer, ULONG size,
                                                  ULONG* returned);
constexpr ULONG kProcessBasicInformation = 0;

// Whether the executable's file name is the console host's.
bool IsConsoleHost(HANDLE process) {
  using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*);
  const HMODULE kernel32 = ::GetModuleHandleA(win32::kKernel32);
  const auto image_name =
      kernel32 ? win32::ProcAddress<QueryFullProcessImageNameAFn>(kernel32, "QueryFullProcessImageNameA") : nullptr;
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!image_name || !image_name(process, 0, path, &size)) return false;
  const char* slash = std::strrchr(path, '\\');
  return ::lstrcmpiA(slash ? slash + 1 : path, kConsoleHost) == 0;
}

}  // namespace

InputWatchWin32::InputWatchWin32() : ntdll_(win32::load_system_library(win32::kNtdll)) {}

InputSample InputWatchWin32::Sample() {
  InputSample sample;
  LASTINPUTINFO last{};
  last.cbSize = sizeof last;
  if (::GetLastInputInfo(&last)) sample.last_input_tick = last.dwTime;
  const HWND foreground = ::GetForegroundWindow();
  DWORD owner = 0;
  if (!foreground || !::GetWindowThreadProcessId(foreground, &owner) || owner == 0) return sample;
  const auto program = ProgramOf(owner);
  if (!program) return sample;
  sample.foreground_process_id = static_cast<std::int32_t>(*program);
  const win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *program));
  const ULONGLONG created = process ? win32::ProcessCreationTime(process.get()) : 0;
  if (created != 0) sample.foreground_created = static_cast<std::int64_t>(created / 10000);  // 100-ns units to ms
  return sample;
}

std::optional<DWORD> InputWatchWin32::ProgramOf(DWORD owner) const {
  const win32::unique_handle host(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
  if (!host || !IsConsoleHost(host.get())) return owner;
  const auto query = ntdll_ ? win32::ProcAddress<NtQueryInformationProcessFn>(ntdll_.get(), "NtQueryInformationProcess")
                            : nullptr;
  BasicInformation basic{};
  if (!query || query(host.get(), kProcessBasicInformation, &basic, sizeof basic, nullptr) < 0) return std::nullopt;
  const auto parent_id = static_cast<DWORD>(basic.parent_process_id);
  const win32::unique_handle parent(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent) return std::nullopt;
  const ULONGLONG parent_created = win32::ProcessCreationTime(parent.get());
  const ULONGLONG host_created = win32::ProcessCreationTime(host.get());
  if (parent_created == 0 || host_created == 0 || parent_created > host_created) return std::nullopt;
  return parent_id;
}

}  // namespace vardex
