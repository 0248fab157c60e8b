# What every shell test shares: one way to fail.
#   . tests/lib/common.sh
#   fail MESSAGE     prints "FAIL: MESSAGE", then what the test's own
#                    fail_details prints (when it defines one), and ends
#                    the test with 1
#   FAIL_LATER=1     fail only counts in $failures, so that a test that
#                    checks many independent things reports them all; it
#                    ends with `exit $((failures > 0))`
failures=0
fail() {
  echo "FAIL: $*"
  if [ -n "${FAIL_LATER:-}" ]; then
    failures=$((failures + 1))
    return 0
  fi
  if declare -F fail_details >/dev/null; then fail_details; fi
  exit 1
}

# The settings file, kept aside and put back. The caller sets a trap that
# calls vardex_ini_restore.
#   vardex_ini_keep [SYSDIR]    keeps vardex.ini of Vardex's system directory
#                               (a Windows path, C:\windows\system32 unless
#                               given) aside; sets vardex_ini_file
#   vardex_ini_write LIMIT PATH writes the file with LIMIT minutes, the
#                               program PATH and no password, as Vardex does
#   vardex_ini LIMIT PATH       both, in the default system directory
#   vardex_ini_restore          puts the kept one back, or removes the test's
#
# Vardex started for a test that drives it with robust_helper.exe. The caller
# sets $wine, $vardex and $helper (robust_helper.exe) and a trap that calls
# vardex_stop and vardex_ini_restore.
#   vardex_start            starts Vardex and waits for its window; sets
#                           vardex_pid (the Unix process) and vx_win (the
#                           Windows process id the helper's commands take)
#   vardex_stop             ends the Vardex it started
#   helper ARGS...          runs robust_helper.exe, its output without CRs
vardex_pid="" vx_win="" vardex_ini_kept="" vardex_ini_file=""
helper() { "$wine" "$helper" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
vardex_ini_keep() {  # [SYSDIR]
  vardex_ini_file="$(winepath -u "${1:-C:\windows\system32}" 2>/dev/null)/vardex.ini"
  if [ -f "$vardex_ini_file" ]; then
    vardex_ini_kept="$vardex_ini_file.test-kept"
    cp -f "$vardex_ini_file" "$vardex_ini_kept"
  fi
}
vardex_ini_write() { printf '%s\r\n%s\r\nunset entry\r\n' "$1" "$2" >"$vardex_ini_file"; }
vardex_ini() {  # LIMIT PATH
  vardex_ini_keep
  vardex_ini_write "$1" "$2"
}
vardex_ini_restore() {
  [ -n "$vardex_ini_file" ] || return 0
  if [ -n "$vardex_ini_kept" ]; then mv -f "$vardex_ini_kept" "$vardex_ini_file"; else rm -f "$vardex_ini_file"; fi
}
vardex_start() {
  "$wine" "$vardex" </dev/null >/dev/null 2>&1 &
  vardex_pid=$!
  for _ in $(seq 1 60); do
    vx_win=$(helper pid-of 'Vardex by Pellow' | grep -xE '[0-9]+')
    [ -n "$vx_win" ] && return 0
    kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex exited at start-up"
    sleep 0.5
  done
  fail "Vardex's window did not appear"
}
vardex_stop() {
  [ -n "$vardex_pid" ] || return 0
  kill "$vardex_pid" 2>/dev/null
  wait "$vardex_pid" 2>/dev/null
  vardex_pid=""
}
