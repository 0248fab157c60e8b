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
