#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
#
# The player's own cost beside OpenOCD's, on the same files, in one run:
# OpenOCD 0.12's `svf` command on its dummy adapter, and bench/play_time on
# the fake chip that answers at once. Two measures, neither counting the
# program's start:
#   wall  the time on the clock around the play, inside each program
#         (OpenOCD: around the svf command in its Tcl; Tavrin: around the run);
#   cpu   processor time: Tavrin's around the run; OpenOCD's whole process
#         less its median on an empty file (start-up, init, shutdown).
# The two players alternate file by file, and which goes first alternates
# round by round, so that a machine whose speed drifts slows both alike. The
# medians of the rounds and their ratios (Tavrin / OpenOCD) are printed.
#
#   bench/vs_openocd.sh [-n ROUNDS] [-b BUILD_DIR] [-t PEER_TOOLS] [-k KEEP_DIR] [-x OTHER]
#
# -x OTHER times another play_time in the same rounds (one built from an
# earlier commit, say), shown as "other" beside Tavrin.
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
other=

while getopts "n:b:t:k:x:h" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    b) build=$OPTARG ;;
    t) peer=$OPTARG ;;
    k) keep=$OPTARG ;;
    x) other=$OPTARG ;;
    h) sed -n '3,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "vs_openocd: see bench/vs_openocd.sh -h" >&2; exit 2 ;;
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
if [[ -n $other && ! -x $other ]]; then
  echo "vs_openocd: -x $other is no program" >&2
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

printf '' >"$work/empty.svf"

# The rounds, in Python for the timing of child processes. OpenOCD: the dummy
# adapter, one 8-bit IR tap, the svf command timed in microseconds inside
# OpenOCD (wall), and OpenOCD's processor time, less that of the same run on
# an empty file (start-up, init and shutdown). Tavrin: play_time's own
# figures around the play.
python3 - "$rounds" "$work" "$player" "$other" "${files[@]}" <<'PY'
import os, resource, statistics, subprocess, sys

rounds, work, player, other, names = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]

def child(cmd):
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime) * 1000
    return p, cpu

def openocd(svf):
    cfg = os.path.join(work, "openocd.cfg")
    with open(cfg, "w") as fh:
        fh.write("\n".join([
            "gdb_port disabled", "tcl_port disabled", "telnet_port disabled",
            "adapter driver dummy", "adapter speed 10000", "transport select jtag",
            "reset_config srst_only", "jtag newtap dev0 tap -irlen 8", "init",
            "set t0 [clock microseconds]",
            "set rc [catch {svf -quiet -ignore_error {%s}} res]" % svf,
            "set t1 [clock microseconds]",
            'echo "VS_RC=$rc VS_US=[expr {$t1 - $t0}]"',
            'echo "VS_RESULT=$res"', "shutdown", ""]))
    p, cpu = child(["openocd", "-f", cfg])
    us = [l.split("VS_US=")[1] for l in p.stdout.splitlines() if "VS_RC=0 VS_US=" in l]
    if "svf file programmed successfully" not in p.stdout or not us:
        sys.exit("vs_openocd: OpenOCD did not play %s cleanly:\n%s" % (svf, p.stdout[-800:]))
    return int(us[0]) / 1000, cpu

def tavrin(svf, program=player):
    p, _ = child([program, svf])
    fields = dict(f.split("=", 1) for f in p.stdout.split()[1:] if "=" in f)
    if p.returncode != 0 or fields.get("outcome") != "ok":
        sys.exit("vs_openocd: Tavrin did not play %s to its end: %s" % (svf, p.stdout.strip()))
    return float(fields["wall_ms"]), float(fields["cpu_ms"])

res = {(n, k): [] for n in names for k in ("o_wall", "o_cpu", "t_wall", "t_cpu", "x_wall", "x_cpu")}
base = []
for r in range(rounds):
    base.append(openocd(os.path.join(work, "empty.svf"))[1])
    for n in names:
        svf = os.path.join(work, n + ".svf")
        # Which goes first alternates, so neither always runs on a warmer machine.
        if r % 2 == 0:
            o, t = openocd(svf), tavrin(svf)
        else:
            t, o = tavrin(svf), openocd(svf)
        res[(n, "o_wall")].append(o[0]); res[(n, "o_cpu")].append(o[1])
        res[(n, "t_wall")].append(t[0]); res[(n, "t_cpu")].append(t[1])
        if other:
            x = tavrin(svf, other)
            res[(n, "x_wall")].append(x[0]); res[(n, "x_cpu")].append(x[1])
    print("  round %d of %d done" % (r + 1, rounds), file=sys.stderr)

med = statistics.median
b = med(base)
cols = [("OpenOCD", "o"), ("Tavrin", "t")] + ([("other", "x")] if other else [])
head = " ".join("%9s" % c for c, _ in cols) + " %6s" % "ratio" + (" %6s" % "other" if other else "")
print("%-13s | %-*s | %s" % ("", len(head), "wall, ms", "cpu, ms"))
print("%-13s | %s | %s" % ("file", head, head))
for n in names:
    row = "%-13s" % n
    for kind in ("wall", "cpu"):
        m = {k: med(res[(n, k + "_" + kind)]) for _, k in cols}
        if kind == "cpu":
            m["o"] -= b
        row += " | " + " ".join("%9.2f" % m[k] for _, k in cols) + " %5.2fx" % (m["t"] / m["o"])
        if other:
            row += " %5.2fx" % (m["x"] / m["o"])
    print(row)
print("medians of %d rounds. wall: around the play inside each program. cpu: Tavrin's around the play;\n"
      "OpenOCD's whole process less its median on an empty file (%.2f ms). ratio = Tavrin / OpenOCD." % (rounds, b))
PY
