# Shared by the quillon-cli load benches (sourced, not run): a work folder, the camera
# simulator on a pseudo-terminal in it, the settings file both sides load, and the timing
# helpers. Expects `bin` (the build's bin folder); sets `work`, `link` and `sim_pid`. Processes
# whose ids are added to `bench_pids` are ended with the simulator when the script ends.
work=$(mktemp -d)
link=$work/camera
sim_pid=
bench_pids=
bench_cleanup() {
    for pid in $bench_pids $sim_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap bench_cleanup EXIT INT TERM

# Starts the simulator and waits until its terminal is there.
start_camsim() {
    "$bin/camsim" --definition "$bin/CamDefine/XC-100.xml" --link "$link" >/dev/null 2>&1 &
    sim_pid=$!
    i=0
    while [ ! -e "$link" ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i + 1)); done
    [ -e "$link" ] || { echo "the simulator did not start" >&2; exit 1; }
}

# LINES gain settings into FILE, the kind of line a Text Save file holds.
write_settings() {
    i=0
    while [ $i -lt "$1" ]; do echo "gai $((i % 256))"; i=$((i + 1)); done | sed 's/$/\r/' >"$2"
}

now() { date +%s.%N; }
took() { awk "BEGIN {printf \"%.3f\", $2 - $1}"; }
median() { printf '%s\n' $1 | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk "BEGIN {printf \"%.2f\", $1 / $2}"; }
