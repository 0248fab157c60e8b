# Sourced by tools/test, tools/run and tools/bench: an X display and a Wine
# prefix for the Windows binaries, and the clean-up of exactly what was
# started here.
#   VARDEX_DISPLAY     use this X display instead of starting an Xvfb
#   VARDEX_WINEPREFIX  use this prefix instead of a fresh one under the build root
#   VARDEX_WINEPREFIX64  the same for the 64-bit (WoW64) prefix of wine_env_prefix64
#   VARDEX_NO_32BIT=1  behave as on a machine that cannot run 32-bit programs
# Callers set BUILD_ROOT first.

WINE64_LOADER=/usr/lib/wine/wine64

_started_xvfb_pid=""
_started_prefix=""
_keepalive_pid=""
_started_prefix64=""
_keepalive64_pid=""

wine_env_cleanup() {
  if [ -n "$_started_prefix" ]; then
    WINEPREFIX="$_started_prefix" wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$_started_prefix64" ]; then
    WINEPREFIX="$_started_prefix64" wineserver -k >/dev/null 2>&1 || true
  fi
  local p
  for p in "$_keepalive_pid" "$_keepalive64_pid"; do
    [ -n "$p" ] || continue
    kill -- "-$p" >/dev/null 2>&1 || kill "$p" >/dev/null 2>&1 || true
  done
  if [ -n "$_started_xvfb_pid" ]; then
    kill "$_started_xvfb_pid" >/dev/null 2>&1 || true
    wait "$_started_xvfb_pid" 2>/dev/null || true
  fi
}

# Starts Xvfb (unless VARDEX_DISPLAY is given) and exports DISPLAY. Xvfb
# chooses a free display number itself and names it once it accepts
# connections (-displayfd): two runs started side by side can no longer pick
# the same number, where the loser's Xvfb would fail and its run would use,
# and lose at the other's end, the winner's display.
wine_env_display() {
  if [ -n "${VARDEX_DISPLAY:-}" ]; then
    export DISPLAY="$VARDEX_DISPLAY"
    return 0
  fi
  local named="$BUILD_ROOT/xvfb.display" n="" i
  mkdir -p "$BUILD_ROOT"
  rm -f "$named"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  _started_xvfb_pid=$!
  for i in $(seq 1 300); do
    n=$(sed -n '1s/^\([0-9][0-9]*\)$/\1/p' "$named" 2>/dev/null)
    [ -z "$n" ] || break
    kill -0 "$_started_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    export DISPLAY=":$n"
    return 0
  fi
  kill "$_started_xvfb_pid" >/dev/null 2>&1 || true
  _started_xvfb_pid=""
  echo "could not start Xvfb" >&2
  return 1
}

# Whether this machine runs 32-bit programs, and so 32-bit Wine. Some kernels
# refuse every i386 program ("Exec format error"), though wine32:i386 installs
# there; VARDEX_NO_32BIT=1 takes that path on any machine.
wine_env_runs_32bit() {
  [ -z "${VARDEX_NO_32BIT:-}" ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Why the 32-bit side does not run here, in a few words.
wine_env_no_32bit_reason() {
  if [ -n "${VARDEX_NO_32BIT:-}" ]; then
    echo "VARDEX_NO_32BIT is set"
  else
    echo "this machine cannot run 32-bit programs: $(/usr/lib/wine/wine --version 2>&1 | tail -1)"
  fi
}

# Everything from here on runs with the 64-bit loader alone, in 64-bit
# prefixes: `wine`, `winepath`, `wineboot`, `regsvr32`, `msiexec` and
# `wineconsole` on PATH call it directly (Debian's wrappers pick the 32-bit
# loader whenever it is installed, even where it cannot run, and a 32-bit
# winepath maps system32 to syswow64), and Wine starts its own processes
# with it. Used by the win64 preset on every machine.
wine_env_only64() {
  local bin="$BUILD_ROOT/wine64-bin" name
  mkdir -p "$bin"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINE64_LOADER" >"$bin/wine"
  for name in winepath wineboot regsvr32 msiexec wineconsole; do
    printf '#!/bin/sh\nexec %s %s.exe "$@"\n' "$WINE64_LOADER" "$name" >"$bin/$name"
  done
  chmod +x "$bin"/*
  case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
  export WINELOADER=$WINE64_LOADER WINEARCH=win64
  _only64=1
}

# Makes a fresh prefix (unless VARDEX_WINEPREFIX is given): 32-bit, or
# 64-bit after wine_env_only64. Starts Wine's helper processes detached from
# our output, and keeps one Wine program alive so that they stay up (see
# docs/wine.md). Says which step failed.
wine_env_prefix() {
  export WINEARCH=win32
  [ -z "${_only64:-}" ] || export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
  if [ -n "${VARDEX_WINEPREFIX:-}" ]; then
    export WINEPREFIX="$VARDEX_WINEPREFIX"
  else
    export WINEPREFIX="$BUILD_ROOT/wineprefix"
    [ -z "${_only64:-}" ] || WINEPREFIX="$BUILD_ROOT/wineprefix-win64"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    _started_prefix="$WINEPREFIX"
  fi
  _wine_env_start "$WINEPREFIX" "$WINEARCH" || return 1
  _keepalive_pid=$_last_keepalive
}

# WINE_ENV_FIXED_LAYOUT: the command prefix that runs a command, and every
# Wine process it starts, with the address space laid out without
# randomization (a personality that children inherit). A 64-bit Wine process
# must map Windows' shared user data at 0x7ffe0000; the wine64 loader is a
# fixed-address program at 0x7d000000, Debian ships it without the preloader
# that would reserve that address first, and the kernel puts such a
# program's heap anywhere in the 1 GB above it. Now and then the heap covers
# 0x7ffe0000 and the new process dies at once ("failed to map the shared user
# data: c0000018"): CreateProcess fails, or a `wine reg query` prints
# nothing. Without randomization the heap starts right after the loader, far
# below that address, in every process. Empty where the personality cannot
# be set (some containers forbid it).
if setarch "$(uname -m)" -R true 2>/dev/null; then
  WINE_ENV_FIXED_LAYOUT=(setarch "$(uname -m)" -R)
else
  WINE_ENV_FIXED_LAYOUT=()
  echo "setarch -R is refused here: Wine runs with address randomization" >&2
fi

# Boots the prefix when new, starts its helpers and a keep-alive program.
_wine_env_start() {  # prefix, arch
  if [ ! -f "$1/system.reg" ]; then
    WINEARCH=$2 WINEPREFIX=$1 "${WINE_ENV_FIXED_LAYOUT[@]}" wineboot -i </dev/null >/dev/null 2>&1 ||
      { echo "wineboot failed in $1 ($2): $(wine_env_runs_32bit || wine_env_no_32bit_reason)" >&2; return 1; }
    WINEPREFIX=$1 wineserver -w
  fi
  WINEPREFIX=$1 wineserver -p </dev/null >/dev/null 2>&1 || true
  WINEARCH=$2 WINEPREFIX=$1 "${WINE_ENV_FIXED_LAYOUT[@]}" wine cmd /c exit </dev/null >/dev/null 2>&1 ||
    { echo "Wine cannot start cmd in $1 ($2)" >&2; return 1; }
  # cmd waits on a pipe that nobody writes: a Wine process for the run's length.
  WINEARCH=$2 WINEPREFIX=$1 "${WINE_ENV_FIXED_LAYOUT[@]}" setsid bash -c 'sleep infinity | wine cmd' \
    </dev/null >/dev/null 2>&1 &
  _last_keepalive=$!
}

# Makes a fresh 64-bit (WoW64) prefix at $BUILD_ROOT/wineprefix64 (unless
# VARDEX_WINEPREFIX64 is given) with its helper processes and keep-alive, as
# wine_env_prefix does, and exports VARDEX_WINEPREFIX64. WINEPREFIX stays the
# 32-bit prefix's: tests of the 64-bit prefix set it themselves.
wine_env_prefix64() {
  local prefix
  if [ -n "${VARDEX_WINEPREFIX64:-}" ]; then
    prefix=$VARDEX_WINEPREFIX64
  else
    prefix="$BUILD_ROOT/wineprefix64"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    _started_prefix64="$prefix"
  fi
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
  _wine_env_start "$prefix" win64 || return 1
  _keepalive64_pid=$_last_keepalive
  export VARDEX_WINEPREFIX64="$prefix"
}
