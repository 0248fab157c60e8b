// What the 32-bit Tessik and its 64-bit companion agree on. The companion is
// a helper process (TessikHost64.exe) that sets the relay hooks of a 64-bit
// hook module (TessikHooks64.dll) on threads of 64-bit programs; both files
// sit beside Tessik.dll. It lives with the relay, which the companion builds
// on already (its hook module is the relay's hooks.cpp), so neither side
// points at the other's folder for it.
//
// Tessik starts the helper with the command line
//   "<path>" <monitoring process id> <ready event handle> <request pipe handle>
// Both handles are inherited, unnamed (their values in decimal): only the
// helper gets them. The helper makes a message-only window of
// kHostWindowClass, sets the event, and serves requests until the monitoring
// process closes its end of the pipe or ends; either way it removes its
// hooks before it exits.
//
// Requests travel through the pipe, which no other process can write to; a
// window message only tells the helper that one is waiting. Anyone of the
// session can send the window messages, but a message alone asks for nothing.
#pragma once

#include <windows.h>

namespace tessik::companion {

inline constexpr wchar_t kHostFileName[] = L"TessikHost64.exe";
inline constexpr wchar_t kHooksFileName[] = L"TessikHooks64.dll";
inline constexpr char kHostWindowClass[] = "TessikHost64Window";

// One request in the pipe: the thread count, then that many thread ids. It
// replaces the hooks set before with both hooks on each thread (none: every
// hook removed).
struct SetHooksHeader {
  DWORD count;
};
// Sent (not posted) after a request is written: the helper runs every whole
// request waiting in the pipe, in order, and answers with how many threads
// got both hooks at the last one (1 for a removal); 0 when none was waiting.
// Once the pipe is closed and empty, the same message makes the helper end.
inline constexpr UINT kWmRequestWaiting = WM_APP + 3;
// The pipe's buffer: many times what the requests that a helper can leave
// unread before it is given up take, so that writing one never blocks.
inline constexpr DWORD kPipeBufferSize = 64 * 1024;

// The hook module's exports.
inline constexpr char kSetHooksExport[] = "TessikSetHooks";
inline constexpr char kRemoveHooksExport[] = "TessikRemoveHooks";
using SetHooksFn = DWORD(WINAPI*)(const DWORD* thread_ids, DWORD count);
using RemoveHooksFn = void(WINAPI*)();

}  // namespace tessik::companion
