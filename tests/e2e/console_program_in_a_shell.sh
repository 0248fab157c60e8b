#!/usr/bin/env bash
# A console program (robust_helper.exe, a windowless console copy that
# lives 10 minutes) started from "cmd /k" in a console window that cmd.exe
# owns, typed into every 20 s for longer than the limit: the console window
# is cmd's, the keys are the program's, and the hooks cannot see them. It
# runs through them and is ended after them; only the program named is
# ended: the shell it was started from, and its console, still run.
#   console_program_in_a_shell.sh WINE VARDEX READ_LABELS ROBUST_HELPER
. "$(dirname "$0")/../lib/e2e.sh" "$@"
notepad_win=$(winepath -w "$4" 2>/dev/null) program_args=(worker 600000) console=shell E2E_UNHOOKED=1
# The console's window is named after the shell that made it.
window_name='cmd.exe' type_every=20
e2e_start
e2e_type
e2e_idle_until_ended
e2e_check_ended
[ ${#shell_pids[@]} -gt 0 ] || fail "the shell the program was started from was not found"
for p in "${shell_pids[@]}"; do kill -0 "$p" 2>/dev/null || fail "cmd.exe was ended with the program it started"; done
echo "cmd.exe still runs after the program it started was ended"
e2e_finish
