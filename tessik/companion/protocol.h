// What the 32-bit Tessik and its 64-bit companion agree on. The companion is
// a helper process (TessikHost64.exe) that sets the relay hooks of a 64-bit
// hook module (TessikHooks64.dll) on threads of 64-bit programs; both files
// sit beside Tessik.dll.
//
// Tessik starts the helper with the command line
//   "<path>" <monitoring process id> <ready event name>
// The helper makes a message-only window of kHostWindowClass, sets the named
// event, and serves the messages below until it gets WM_CLOSE or the
// monitoring process ends; either way it removes its hooks before it exits.
#pragma once

#include <windows.h>

namespace tessik::companion {

inline constexpr wchar_t kHostFileName[] = L"TessikHost64.exe";
inline constexpr char kHooksFileName[] = "TessikHooks64.dll";
inline constexpr char kHostWindowClass[] = "TessikHost64Window";

// Sent as WM_COPYDATA with this dwData; the data: the threads, an array of
// DWORD. Replaces the hooks set before with both hooks on each thread; the
// result is how many threads got both.
inline constexpr ULONG_PTR kSetHooksRequest = WM_APP + 1;
// Removes the hooks; result 1.
inline constexpr UINT kWmRemoveHooks = WM_APP + 2;

// The hook module's exports.
inline constexpr char kSetHooksExport[] = "TessikSetHooks";
inline constexpr char kRemoveHooksExport[] = "TessikRemoveHooks";
using SetHooksFn = DWORD(WINAPI*)(const DWORD* thread_ids, DWORD count);
using RemoveHooksFn = void(WINAPI*)();

}  // namespace tessik::companion
