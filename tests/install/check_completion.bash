#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The installed bash completion of tavrin-play completes options (those of
# the installed player's --help), pins, SVF files, board files, and the
# entries and serial numbers of the adapter list.
#
#   check_completion.bash PREFIX
set -u
prefix=$(cd "$1" && pwd) || { echo "FAIL: no folder $1"; exit 1; }
script="$prefix/share/bash-completion/completions/tavrin-play"
player="$prefix/bin/tavrin-play"

# shellcheck source=/dev/null
source "$script" || { echo "FAIL: $script does not load"; exit 1; }
[[ $(complete -p tavrin-play 2>/dev/null) == *_tavrin_play* ]] ||
  { echo "FAIL: $script does not register a completion for tavrin-play"; exit 1; }

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir sub
touch one.svf TWO.SVF notes.txt board.json wave.vcd

failures=0
# complete WORD... : completes the last word of `WORD...` as bash would.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tavrin_play 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
  local what=$1 want got
  shift
  want=$(printf '%s\n' "${@:2}" | sort)
  got=$(eval "complete_words $1")
  if [[ $got != "$want" ]]; then
    echo "FAIL: $what: completing '$1' gave [$(echo $got)], want [$(echo $want)]"
    failures=$((failures + 1))
  fi
}

p=$(printf '%q' "$player")
expect "an option" "$p --bo" --board --board-state
expect "a part" "$p --part XC2C6" XC2C64A
expect "pins" "$p --tdi D" D0 D1 D2 D3 D4 D5 D6 D7 DCD DSR DTR
expect "pin names" "$p --tck R" RI RTS RXD
expect "the virtual board" "$p --vi" --virtual
expect "TCK frequencies" "$p --freq 1" 100k 1M 1.5M
expect "SVF files and folders" "$p ''" one.svf TWO.SVF sub
expect "SVF files after options" "$p -q --tck D7 ''" one.svf TWO.SVF sub
expect "board files" "$p --board ''" board.json sub
expect "waveform files" "$p --vcd ''" sub wave.vcd
mapfile -t entries < <("$player" --list | awk '{ print $1 }')
expect "adapter entries" "$p --device ''" "${entries[@]}"
mapfile -t serials < <("$player" --list | awk '$(NF - 1) == "serial" { print $NF }')
expect "serial numbers" "$p --serial ''" "${serials[@]}"
[[ " ${serials[*]} " == *" VIRT0001 "* ]] || { echo "FAIL: --list shows no virtual board"; failures=$((failures + 1)); }

# Every long option of --help completes from "--".
mapfile -t options < <("$player" --help | grep -oE -- '--[[:alpha:]][[:alnum:]-]*' | sort -u)
got=$(complete_words "$player" --)
for option in "${options[@]}"; do
  grep -qxF -- "$option" <<<"$got" || { echo "FAIL: $option does not complete from --"; failures=$((failures + 1)); }
done
((${#options[@]} > 5)) || { echo "FAIL: tavrin-play --help shows only ${#options[@]} options"; failures=$((failures + 1)); }

((failures == 0)) || exit 1
echo "completes options (${#options[@]}), pins, files, entries and serial numbers"
