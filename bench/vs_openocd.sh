#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
#
# The player's own cost beside OpenOCD's, on the same files, in one run:
# OpenOCD 0.12's `svf` command on its dummy adapter, and bench/play_time on
# the fake chip that answers at once. Both are timed around the play alone,
# inside the program (OpenOCD: around the svf command in its Tcl; Tavrin:
# around the run), never the program's start. The two alternate file by
# file and round by round, so that a machine whose speed drifts slows both
# alike; the medians and their ratio are printed.
#
#   bench/vs_openocd.sh [-n ROUNDS] [-b BUILD_DIR] [-t PEER_TOOLS] [-k KEEP_DIR]
#
# PEER_TOOLS (or -t) is the folder of the peer tools that generate the files
# (gen_svf.py); it is not part of this project. The files:
#   1M            one SDR of 1,000,000 bits, TDI only
#   1M-readback   the same, then a read-back SDR with TDO and MASK
#   10k           10,000 SDR 32, TDI only
#   10k-readback  10,000 SDR 32, each with TDO and MASK
#   100k          100,000 SDR 32, TDI only
# The read-back files have MASK 0: OpenOCD's dummy adapter answers nothing
# useful, so it reads TDO and compares under a zero mask (with -ignore_error,
# which the errors of a real mask would need). Tavrin's fake chip loops TDI
# back to TDO; its checks are made under the same zero mask and pass. Both
# capture every TDO bit and make every compare.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
rounds=7
build="$repo/build"
peer=${PEER_TOOLS:-}
keep=

while getopts "n:b:t:k:h" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    b) build=$OPTARG ;;
    t) peer=$OPTARG ;;
    k) keep=$OPTARG ;;
    *) sed -n '3,25p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
if ! [[ $rounds =~ ^[1-9][0-9]{0,2}$ ]]; then
  echo "vs_openocd: -n wants a number of rounds from 1 to 999, not '$rounds'" >&2
  exit 2
fi

if [[ -z $peer && -f "$repo/../shared/tools/peer/gen_svf.py" ]]; then peer="$repo/../shared/tools/peer"; fi
if [[ -z $peer || ! -f "$peer/gen_svf.py" ]]; then
  echo "vs_openocd: the peer tools are missing: give their folder (the one with gen_svf.py)" >&2
  echo "  as PEER_TOOLS=DIR or -t DIR${peer:+ (looked in: $peer)}" >&2
  exit 2
fi
player="$build/bench/play_time"
if [[ ! -x $player ]]; then
  echo "vs_openocd: $player is missing: build the benchmarks first (cmake --build $build --target play_time)" >&2
  exit 2
fi
if ! command -v openocd >/dev/null; then
  echo "vs_openocd: openocd is not installed (apt-get install -y openocd)" >&2
  exit 2
fi
command -v python3 >/dev/null || { echo "vs_openocd: python3 is needed" >&2; exit 2; }

work=${keep:-$(mktemp -d)}
mkdir -p "$work"
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT

gen() { python3 "$peer/gen_svf.py" "$@"; }
gen big-sdr --bits 1000000 -o "$work/1M.svf"
gen big-sdr --bits 1000000 --tdo --mask-zero -o "$work/1M-readback.svf"
gen many-sdr --count 10000 --bits 32 -o "$work/10k.svf"
gen many-sdr --count 10000 --bits 32 --tdo --mask-zero -o "$work/10k-readback.svf"
gen many-sdr --count 100000 --bits 32 -o "$work/100k.svf"
files=(1M 1M-readback 10k 10k-readback 100k)

# OpenOCD: the dummy adapter, one 8-bit IR tap; the svf command timed in
# microseconds inside OpenOCD.
openocd_once() {
  local svf=$1 cfg="$work/openocd.cfg" out
  cat >"$cfg" <<EOF
gdb_port disabled
tcl_port disabled
telnet_port disabled
adapter driver dummy
adapter speed 10000
transport select jtag
reset_config srst_only
jtag newtap dev0 tap -irlen 8
init
set t0 [clock microseconds]
set rc [catch {svf -quiet -ignore_error {$svf}} res]
set t1 [clock microseconds]
echo "VS_RC=\$rc VS_US=[expr {\$t1 - \$t0}]"
echo "VS_RESULT=\$res"
shutdown
EOF
  out=$(openocd -f "$cfg" 2>&1) || true
  if ! grep -q "svf file programmed successfully" <<<"$out" || ! grep -q "VS_RC=0 " <<<"$out"; then
    echo "vs_openocd: OpenOCD did not play $svf cleanly:" >&2
    grep -E "VS_RC|programmed|error" <<<"$out" | head -5 >&2
    return 1
  fi
  sed -n 's/.*VS_US=\([0-9]*\).*/\1/p' <<<"$out" | awk '{printf "%.3f\n", $1 / 1000}'
}

# Tavrin: play_time prints "FILE wall_ms=.. cpu_ms=.. outcome=ok ...".
tavrin_once() {
  local out
  out=$("$player" "$1") || { echo "vs_openocd: Tavrin did not play $1 to its end: $out" >&2; return 1; }
  sed -n 's/.* wall_ms=\([0-9.]*\) cpu_ms=\([0-9.]*\).*/\1 \2/p' <<<"$out"
}

results="$work/results.txt"
: >"$results"
echo "$rounds rounds, OpenOCD $(openocd --version 2>&1 | head -1 | awk '{print $4}') beside $player" >&2
for ((r = 1; r <= rounds; ++r)); do
  for f in "${files[@]}"; do
    svf="$work/$f.svf"
    # Which goes first alternates, so neither always runs on a warmer machine.
    if ((r % 2 == 1)); then
      o=$(openocd_once "$svf")
      t=$(tavrin_once "$svf")
    else
      t=$(tavrin_once "$svf")
      o=$(openocd_once "$svf")
    fi
    echo "$f openocd $o" >>"$results"
    echo "$f tavrin $t" >>"$results"
  done
  echo "  round $r of $rounds done" >&2
done

python3 - "$results" "${files[@]}" <<'EOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1]) if line.strip()]
print("%-14s %10s %10s %12s %7s" % ("file", "OpenOCD ms", "Tavrin ms", "(Tavrin cpu)", "ratio"))
for name in sys.argv[2:]:
    o = [float(r[2]) for r in rows if r[0] == name and r[1] == "openocd"]
    t = [float(r[2]) for r in rows if r[0] == name and r[1] == "tavrin"]
    c = [float(r[3]) for r in rows if r[0] == name and r[1] == "tavrin"]
    mo, mt, mc = statistics.median(o), statistics.median(t), statistics.median(c)
    print("%-14s %10.2f %10.2f %12.2f %6.2fx" % (name, mo, mt, mc, mt / mo))
print("medians of %d rounds; times around the play inside each program; ratio = Tavrin / OpenOCD" % len(o))
EOF
