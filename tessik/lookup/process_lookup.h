// Finding the watched program: a walk over every running process (both
// Windows families, and the 16-bit tasks of NTVDM on the NT family), and the
// thread of the first top-level window of the process whose executable has a
// given path. Where a process's modules cannot be read (a 64-bit process
// seen from a 32-bit one), its image name is taken. On the NT family each
// process's path is read once in its life and kept while it runs (see
// process_walk.h), and the process a lookup found answers the next lookup of
// the same path while it runs, where no walk could find another one.
#pragma once

#include <windows.h>

namespace tessik {

// Called once per process (and per 16-bit task). `task` is 0 for an ordinary
// process; `module_path` is ANSI and may be empty. Nonzero goes on, 0 stops.
// The user value is pointer-sized so that a visitor can take a pointer.
using ProcessVisitor = BOOL(CALLBACK*)(DWORD process_id, WORD task, LPCSTR module_path, LPARAM user);

// TRUE when a walk was made (also when the visitor stopped it early).
BOOL ForEachProcess(ProcessVisitor visitor, LPARAM user) noexcept;

// Looks `path` up (ANSI, whole-path comparison without regard to case) and
// returns the thread of the first visible top-level window of the first
// matching process, or of its first top-level window when none is visible.
bool FindAppThread(LPCSTR path, DWORD* thread_id) noexcept;

}  // namespace tessik
