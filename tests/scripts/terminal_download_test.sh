#!/usr/bin/env bash
# scripts/run and scripts/demo without a desktop: with neither DISPLAY nor WAYLAND_DISPLAY no
# display opens, and lib.sh's download_in_terminal says so in one line, then flashes the demo
# image into the simulator with the built actualizador-cli and returns 0.
# Usage: terminal_download_test.sh BUILD   (a build holding sim47913 and actualizador-cli)
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
build=$1
unset DISPLAY WAYLAND_DISPLAY

if display_opens; then
  fail "a display opens with neither DISPLAY nor WAYLAND_DISPLAY set"
else
  pass "no display opens"
fi

# In a subshell, so that its work folder and simulator are gone when it returns.
status=0
output=$(download_in_terminal "$build" 2>&1) || status=$?
printf '%s\n' "$output"
if [ "$status" -eq 0 ] && [ "$(grep -c 'needs a desktop' <<<"$output")" -eq 1 ] &&
  grep -q 'Descarga correcta' <<<"$output"; then
  pass "the download in the terminal after one line that says why"
else
  fail "the download in the terminal: exit $status"
fi
report_results
