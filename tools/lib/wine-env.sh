# Sourced by tools/test, tools/run and tools/bench: an X display and a 32-bit
# Wine prefix for the Windows binaries, and the clean-up of exactly what was
# started here.
#   VARDEX_DISPLAY     use this X display instead of starting an Xvfb
#   VARDEX_WINEPREFIX  use this prefix instead of a fresh one under the build root
#   VARDEX_WINEPREFIX64  the same for the 64-bit (WoW64) prefix of wine_env_prefix64
# Callers set BUILD_ROOT first.

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

_free_display() {
  local n
  for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      echo "$n"; return 0
    fi
  done
  return 1
}

# Starts Xvfb (unless VARDEX_DISPLAY is given) and exports DISPLAY.
wine_env_display() {
  if [ -n "${VARDEX_DISPLAY:-}" ]; then
    export DISPLAY="$VARDEX_DISPLAY"
    return 0
  fi
  local n tries
  for tries in 1 2 3 4 5; do
    n=$(_free_display) || { echo "no free X display" >&2; return 1; }
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    _started_xvfb_pid=$!
    local i
    for i in $(seq 1 50); do
      if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$_started_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$_started_xvfb_pid" >/dev/null 2>&1 || true
    _started_xvfb_pid=""
  done
  echo "could not start Xvfb" >&2
  return 1
}

# Makes a fresh 32-bit prefix (unless VARDEX_WINEPREFIX is given), starts
# Wine's helper processes detached from our output, and keeps one Wine
# program alive so that they stay up (see the README's notes on Wine).
wine_env_prefix() {
  export WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
  if [ -n "${VARDEX_WINEPREFIX:-}" ]; then
    export WINEPREFIX="$VARDEX_WINEPREFIX"
  else
    export WINEPREFIX="$BUILD_ROOT/wineprefix"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    _started_prefix="$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1
  # cmd waits on a pipe that nobody writes: a Wine process for the run's length.
  setsid bash -c 'sleep infinity | wine cmd' </dev/null >/dev/null 2>&1 &
  _keepalive_pid=$!
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
  if [ ! -f "$prefix/system.reg" ]; then
    WINEARCH=win64 WINEPREFIX="$prefix" wineboot -i </dev/null >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w
  fi
  WINEPREFIX="$prefix" wineserver -p </dev/null >/dev/null 2>&1 || true
  WINEARCH=win64 WINEPREFIX="$prefix" wine cmd /c exit </dev/null >/dev/null 2>&1
  WINEARCH=win64 WINEPREFIX="$prefix" setsid bash -c 'sleep infinity | wine cmd' </dev/null >/dev/null 2>&1 &
  _keepalive64_pid=$!
  export VARDEX_WINEPREFIX64="$prefix"
}
