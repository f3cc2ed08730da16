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
. "$here/bench_common.sh"
start_camsim
write_settings 300 "$work/settings.txt"

cli_times= loop_times=
r=0
while [ $r -lt "$rounds" ]; do
    t0=$(now)
    "$bin/quillon-cli" --port "$link" --gap 0 load "$work/settings.txt" >/dev/null
    t1=$(now)
    "${PYTHON:-/usr/bin/python3}" "$here/load_loop.py" "$link" "$work/settings.txt"
    t2=$(now)
    cli_times="$cli_times $(took "$t0" "$t1")"
    loop_times="$loop_times $(took "$t1" "$t2")"
    r=$((r + 1))
done
cli=$(median "$cli_times")
loop=$(median "$loop_times")
echo "quillon-cli load --gap 0, 300 lines:$cli_times s (median $cli s)"
echo "pyserial loop, 300 lines:          $loop_times s (median $loop s)"
echo "ratio $(ratio "$cli" "$loop") (target <= 1.2)"
