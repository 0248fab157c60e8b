// Finding the watched program: a walk over every running process (both
// Windows families, and the 16-bit tasks of NTVDM on the NT family), and the
// window threads of every process whose executable has a given path. Where
// a process's modules cannot be read (a 64-bit process seen from a 32-bit
// one), its image name is taken. On the NT family each process's path is
// read once in its life and kept while it runs (see process_walk.h). A
// lookup of the path looked up before walks only every sixth time: in
// between, the owners of top-level windows show the copies that started
// since (held open, the copies found show when they end).
#pragma once

#include <windows.h>

namespace tessik {

// Called once per process (and per 16-bit task). `task` is 0 for an ordinary
// process; `module_path` is ANSI and may be empty. Nonzero goes on, 0 stops.
// The user value is pointer-sized so that a visitor can take a pointer.
using ProcessVisitor = BOOL(CALLBACK*)(DWORD process_id, WORD task, LPCSTR module_path, LPARAM user);

// TRUE when a walk was made (also when the visitor stopped it early).
BOOL ForEachProcess(ProcessVisitor visitor, LPARAM user) noexcept;

// What a lookup found besides the threads it chose.
struct AppLookup {
  DWORD processes = 0;      // processes whose path is the wanted one, with a window or not
  DWORD threads_found = 0;  // the threads the rule below chose in them, before the bound
};

// Looks `path` up (ANSI, whole-path comparison without regard to case) and
// fills `threads` with the threads the user may type into: of every matching
// process, each thread that owns a visible top-level window, in window
// order; of a process with no visible one, the thread of its first
// top-level window (hidden helper windows on background threads, as GDI+
// and .NET make, see no input while a visible window exists). At most
// `capacity` threads: where that bound cuts, the process of the foreground
// window comes first, then the newest copies (by creation time), the others
// in the walk's order. `owners`, when given, gets each thread's process.
// Returns how many threads; 0 when no matching process owns a top-level
// window (always confirmed by a walk).
DWORD FindAppThreads(LPCSTR path, DWORD* threads, DWORD capacity, AppLookup* found = nullptr,
                     DWORD* owners = nullptr) noexcept;
// Lets go of every process the lookups hold, for when nothing is watched.
// A lookup of a program that runs no more does the same.
void ForgetAppLookups() noexcept;

}  // namespace tessik
