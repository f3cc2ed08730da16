#!/bin/sh
# quillon-cli load --gap 0 of a 300-line settings file against a plain pyserial loop
# (load_loop.py) on the same camera simulator, alternating, ROUNDS rounds (default 5).
# Prints each time and the ratio of the medians (target: quillon-cli at most 1.2 x the loop).
# Needs python3-serial (not part of the build or the tests); PYTHON names the interpreter
# (default /usr/bin/python3, the one the Debian package serves).
#
#   bench/cli/load_bench.sh [BUILD_DIR] [ROUNDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
rounds=${2:-5}
bin=$build/bin
work=$(mktemp -d)
link=$work/camera
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$bin/camsim" --definition "$bin/CamDefine/XC-100.xml" --link "$link" >/dev/null 2>&1 &
sim_pid=$!
i=0
while [ ! -e "$link" ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i + 1)); done
[ -e "$link" ] || { echo "the simulator did not start" >&2; exit 1; }

# 300 gain settings, the kind of line a Text Save file holds.
i=0
while [ $i -lt 300 ]; do echo "gai $((i % 256))"; i=$((i + 1)); done | sed 's/$/\r/' >"$work/settings.txt"

now() { date +%s.%N; }
cli_times= loop_times=
r=0
while [ $r -lt "$rounds" ]; do
    t0=$(now)
    "$bin/quillon-cli" --port "$link" --gap 0 load "$work/settings.txt" >/dev/null
    t1=$(now)
    "${PYTHON:-/usr/bin/python3}" "$here/load_loop.py" "$link" "$work/settings.txt"
    t2=$(now)
    cli_times="$cli_times $(awk "BEGIN {printf \"%.3f\", $t1 - $t0}")"
    loop_times="$loop_times $(awk "BEGIN {printf \"%.3f\", $t2 - $t1}")"
    r=$((r + 1))
done
median() { printf '%s\n' $1 | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
cli=$(median "$cli_times")
loop=$(median "$loop_times")
echo "quillon-cli load --gap 0, 300 lines:$cli_times s (median $cli s)"
echo "pyserial loop, 300 lines:          $loop_times s (median $loop s)"
echo "ratio $(awk "BEGIN {printf \"%.2f\", $cli / $loop}") (target <= 1.2)"
