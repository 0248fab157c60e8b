#!/usr/bin/env bash
# The program typed into is kept past the limit, and ended once the typing
# stops: the run every prefix and the installed package go through (their
# options are in tests/lib/e2e.sh).
#   ended_when_idle.sh WINE VARDEX READ_LABELS
. "$(dirname "$0")/../lib/e2e.sh" "$@"
e2e_start
e2e_type
e2e_idle_until_ended
e2e_check_ended
e2e_finish
