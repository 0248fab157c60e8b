// The two hook procedures and this module's set of hook handles. The same
// source is built into Tessik.dll (32-bit programs) and into the 64-bit hook
// module of the companion (64-bit programs), so both relay alike: same relay
// block, same messages, same packing.
#pragma once

#include <windows.h>

namespace tessik {

// Message numbers and the relay block's name are fixed: every copy of the
// module on the machine, in every process, uses them.
inline constexpr UINT WM_KEYRELAY = WM_USER + 1000;    // 2024
inline constexpr UINT WM_MOUSERELAY = WM_USER + 1001;  // 2025
inline constexpr char kRelayBlockName[] = "FILEMAPPING:7925-4ef2-9d13-0d9d7eab4dca";
// The relay window's class: the hooks post only to a window of this class.
inline constexpr char kRelayWindowClass[] = "TessikRelayWindow";
// The block holds the relay window's handle as a 32-bit value: window
// handles have 32 significant bits on every Windows, so 32-bit and 64-bit
// modules share it. A 64-bit module sign-extends what it reads, as the
// platform does between the two (LongToHandle).
inline constexpr DWORD kRelayBlockSize = sizeof(DWORD);
inline LONG RelayBlockValue(HWND window) noexcept { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)); }
inline HWND RelayBlockWindow(LONG value) noexcept { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value)); }

// The module that holds the hook procedures (Tessik.dll, or a program that
// links the relay in): the one the platform maps into the watched program.
HINSTANCE HookModule() noexcept;

// The most threads one set of the watched path hooks, in both modules
// together. Programs have a few window threads, users a few copies open: 64
// leaves room for both, while bounding what every presence check costs (two
// hooks set per thread), the companion's request and the hooks a program
// that opens window threads without end could make us hold (each a USER
// object, of which a process may have 10 000).
inline constexpr DWORD kMaxHookedThreads = 64;

// Makes this module's hooks the keyboard and the mouse hook of `module` on
// each of `thread_ids` (thread 0, which would make them system-wide, is
// passed over; only the first kMaxHookedThreads are taken): a thread hooked
// before and still running keeps its hooks, one no longer named loses them,
// a new one gets them. So a set that finds nothing new changes no hook, and
// input on a thread that stays watched is never missed. Returns how many
// threads have both; a thread that got only one keeps none. `hooked`, when
// given, gets one flag per thread id: whether that thread has both.
DWORD SetRelayHooks(HINSTANCE module, const DWORD* thread_ids, DWORD count, bool* hooked = nullptr) noexcept;
// Removes every hook of this module.
void RemoveRelayHooks() noexcept;

// The hook procedures keep the relay block's view open in the process they
// run in; this releases it. For the module's unload, and for the monitoring
// process when its relay goes (the block must not outlive it there).
void ReleaseRelayView() noexcept;

// The hook procedures (they run inside the watched program).
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;
LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace tessik
