#!/bin/sh
# quillon-cli load --gap 0 of a 3000-line settings file through ser2net, raw (tcp://) and with
# the COM-PORT-OPTION (rfc2217://), against the plain pyserial loop (load_loop.py) on
# socket:// and rfc2217:// through the same ser2net and camera simulator, alternating, ROUNDS
# rounds (default 3). Prints each time and the ratio of the medians per kind (target:
# quillon-cli at most 1.2 x the loop). ser2net runs with chardelay off, so that its own wait
# for more characters does not hide the clients' cost.
# Needs ser2net and python3-serial (scripts/packages.txt); PYTHON names the interpreter
# (default /usr/bin/python3, the one the Debian package serves).
#
#   bench/cli/net_bench.sh [BUILD_DIR] [ROUNDS] [LINES]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
rounds=${2:-3}
lines=${3:-3000}
bin=$build/bin
python=${PYTHON:-/usr/bin/python3}
. "$here/bench_common.sh"
start_camsim

# Two free ports of the loopback (bound and let go again).
ports=$("$python" -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')
raw=${ports% *}
rfc=${ports#* }
cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &raw
    accepter: tcp,127.0.0.1,$raw
    connector: serialdev,$link,9600n81,local
    options:
      chardelay: false
connection: &rfc
    accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc
    connector: serialdev,$link,9600n81,local
    options:
      chardelay: false
EOF
ser2net -n -u -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
bench_pids=$!
i=0
while ! grep -qi ":$(printf '%04X' "$rfc") .* 0A " /proc/net/tcp && [ $i -lt 500 ]; do
    sleep 0.01
    i=$((i + 1))
done

write_settings "$lines" "$work/settings.txt"

cli_tcp= py_tcp= cli_rfc= py_rfc=
r=0
while [ $r -lt "$rounds" ]; do
    t0=$(now)
    "$bin/quillon-cli" --port "tcp://127.0.0.1:$raw" --gap 0 load "$work/settings.txt" >/dev/null
    t1=$(now)
    "$python" "$here/load_loop.py" "socket://127.0.0.1:$raw" "$work/settings.txt"
    t2=$(now)
    "$bin/quillon-cli" --port "rfc2217://127.0.0.1:$rfc" --gap 0 load "$work/settings.txt" >/dev/null
    t3=$(now)
    # ser2net does not acknowledge DTR on a pseudo-terminal; pyserial would wait for it.
    "$python" "$here/load_loop.py" "rfc2217://127.0.0.1:$rfc?ign_set_control" "$work/settings.txt"
    t4=$(now)
    cli_tcp="$cli_tcp $(took "$t0" "$t1")"
    py_tcp="$py_tcp $(took "$t1" "$t2")"
    cli_rfc="$cli_rfc $(took "$t2" "$t3")"
    py_rfc="$py_rfc $(took "$t3" "$t4")"
    r=$((r + 1))
done
report() {
    cli=$(median "$2")
    loop=$(median "$3")
    echo "$1 quillon-cli:$2 s (median $cli s); pyserial:$3 s (median $loop s);" \
        "ratio $(ratio "$cli" "$loop") (target <= 1.2)"
}
echo "load --gap 0, $lines lines through ser2net"
report "tcp://    " "$cli_tcp" "$py_tcp"
report "rfc2217://" "$cli_rfc" "$py_rfc"
