#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Every option that a program's --help prints is described in its man page,
# and the page names the configured folder of the examples.
#
#   check_man_options.sh PROGRAM PAGE EXAMPLES_DIR
#
# PAGE: the man page source (roff), rendered here as plain text.
set -u
program=$1 page=$2 examples=$3

# --help must answer at once (a window must not start), so a time limit.
help=$(QT_QPA_PLATFORM=offscreen timeout 10 "$program" --help 2>&1)
status=$?
if [ "$status" -ne 0 ]; then
  printf '%s\n' "$help"
  echo "FAIL: '$program --help' ended with status $status (124: still running after 10 s)"
  exit 1
fi

# The long options (--name) anywhere in the help text, and the one-letter
# options (-q) where an option is listed.
options=$(printf '%s\n' "$help" | grep -oE -- '--[[:alpha:]][[:alnum:]-]*' | sort -u)
short=$(printf '%s\n' "$help" | grep -oE -- '(^|[[:space:],])-[[:alpha:]]([[:space:],]|$)' |
  sed -E 's/[[:space:],]//g' | sort -u)
if [ -z "$options" ]; then
  printf '%s\n' "$help"
  echo "FAIL: '$program --help' prints no long options"
  exit 1
fi

# Plain text, lines long enough that nothing is broken.
text=$(groff -man -Tascii -P-c -P-b -P-u -rLL=2000n "$page" 2>&1)
if [ -z "$text" ]; then
  echo "FAIL: $page renders to nothing"
  exit 1
fi

failures=0
for option in $options $short; do
  if ! printf '%s\n' "$text" | grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)"; then
    echo "FAIL: $option (from '$program --help') is not in $page"
    failures=$((failures + 1))
  fi
done
if ! printf '%s\n' "$text" | grep -qF -- "$examples/"; then
  echo "FAIL: $page does not name the examples folder $examples"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "$page describes all of:" $options $short
