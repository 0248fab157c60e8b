// What the 32-bit Tessik and its 64-bit companion agree on. The companion is
// a helper process (TessikHost64.exe) that sets the relay hooks of a 64-bit
// hook module (TessikHooks64.dll) on threads of 64-bit programs; both files
// sit beside Tessik.dll. It lives with the relay, which the companion builds
// on already (its hook module is the relay's hooks.cpp), so neither side
// points at the other's folder for it.
//
// Tessik starts the helper with the command line
//   "<path>" <monitoring process handle> <ready event handle> <request pipe handle>
// All three are inherited (their values in decimal): only the helper gets
// them, and the monitoring process's handle names that process even after
// its identifier is taken by another. The helper makes a message-only window of
// kHostWindowClass, sets the event, and serves requests until the monitoring
// process closes its end of the pipe or ends; either way it removes its
// hooks before it exits.
//
// Requests travel through the pipe, which no other process can write to; a
// window message only tells the helper that one is waiting. Anyone of the
// session can send the window messages, but a message alone asks for nothing,
// answers only the request whose sequence number it names, and never ends the
// helper: a WM_QUIT the helper did not post itself is dropped.
#pragma once

#include <windows.h>

namespace tessik::companion {

inline constexpr wchar_t kHostFileName[] = L"TessikHost64.exe";
inline constexpr wchar_t kHooksFileName[] = L"TessikHooks64.dll";
inline constexpr char kHostWindowClass[] = "TessikHost64Window";

// One request in the pipe: the header, then `count` thread ids. It replaces
// the hooks set before with both hooks on each thread (none: every hook
// removed). The client numbers its requests from 1, skipping 0 as it wraps.
struct SetHooksHeader {
  WORD sequence;
  WORD count;
};
// Sent (not posted) after a request is written, with the request's sequence
// number as wParam: the helper runs every whole request waiting in the pipe,
// in order, and answers with Answer() for the last request it ran when that
// one is the request named, else 0. So a stranger's notice that runs the
// client's request first takes nothing from the client, whose own notice
// still gets the answer. Once the pipe is closed and empty, the same message
// makes the helper end.
inline constexpr UINT kWmRequestWaiting = WM_APP + 3;
// The request's sequence number in the high word (never 0), how many threads
// got both hooks in the low word (1 for a removal).
inline constexpr DWORD Answer(WORD sequence, DWORD hooked) noexcept {
  return (static_cast<DWORD>(sequence) << 16) | (hooked & 0xFFFFu);
}
inline constexpr WORD AnswerSequence(DWORD_PTR answer) noexcept { return static_cast<WORD>((answer >> 16) & 0xFFFFu); }
inline constexpr DWORD AnswerHooked(DWORD_PTR answer) noexcept { return static_cast<DWORD>(answer & 0xFFFFu); }
// The pipe's buffer: many times what the requests that a helper can leave
// unread before it is given up take. The client's end never waits: a write
// that does not fit writes less, and the helper is given up.
inline constexpr DWORD kPipeBufferSize = 64 * 1024;

// The hook module's exports.
inline constexpr char kSetHooksExport[] = "TessikSetHooks";
inline constexpr char kRemoveHooksExport[] = "TessikRemoveHooks";
using SetHooksFn = DWORD(WINAPI*)(const DWORD* thread_ids, DWORD count);
using RemoveHooksFn = void(WINAPI*)();

}  // namespace tessik::companion
