#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Each man page renders without a warning of groff's (all warnings on), for
# its default device and as `man -l PAGE` shows it on an 80-column terminal.
#
#   check_man_warnings.sh PAGE...
set -u
failures=0
for page in "$@"; do
  if [ ! -s "$page" ]; then
    echo "FAIL: no man page $page"
    failures=$((failures + 1))
    continue
  fi
  out=$(groff -ww -z -man "$page" 2>&1; groff -ww -z -man -Tutf8 -rLL=78n "$page" 2>&1)
  if [ -n "$out" ]; then
    printf '%s\n' "$out"
    echo "FAIL: groff warns about $page"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "no warnings:" "$@"
