#!/usr/bin/env bash
# Builds Quillon and starts it with the camera simulator: camsim serves the XC-100 camera
# definition on a pseudo-terminal (published as a link in a temporary folder), the settings file
# of the program folder chooses that terminal as the built-in serial port, and the simulator is
# stopped when the program ends. Accept the offer to open the last definition, press Connect
# and type "sta" in the console.
# Arguments go to Quillon.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh -DQUILLON_BUILD_TESTS=OFF

bin=build/bin
ini="$bin/Quillon_00.ini"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo.XXXXXX")
link="$tmp/camsim"

# Sets key=value in [section] of an INI file (names without regard to letter case, as the
# program reads them), adding the section or the key when missing.
ini_set() {
    local file=$1 section=$2 key=$3 value=$4
    [ -e "$file" ] || : >"$file"
    awk -v section="$section" -v key="$key" -v value="$value" '
        function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t\r]+$/, "", s); return s }
        BEGIN { inside = 0; done = 0; seen = 0 }
        /^[ \t]*\[/ {
            if (inside && !done) { print key "=" value; done = 1 }
            name = trim($0); sub(/^\[/, "", name); sub(/\].*$/, "", name)
            inside = tolower(trim(name)) == tolower(section)
            if (inside) seen = 1
            print; next
        }
        inside && !done && index($0, "=") > 0 &&
            tolower(trim(substr($0, 1, index($0, "=") - 1))) == tolower(key) {
            print key "=" value; done = 1; next
        }
        { print }
        END {
            if (!done) {
                if (!seen) print "[" section "]"
                print key "=" value
            }
        }' "$file" >"$file.tmp"
    mv "$file.tmp" "$file"
}

"$bin/camsim" --definition "$bin/CamDefine/XC-100.xml" --link "$link" \
    --model XC-100 --version 1.00 --serial 000001 &
sim=$!
cleanup() {
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

for _ in $(seq 200); do
    [ -L "$link" ] && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.05
done
if [ ! -L "$link" ]; then
    echo "demo: the camera simulator did not start" >&2
    exit 1
fi

# The value of key in [section], empty when missing.
ini_get() {
    local file=$1 section=$2 key=$3
    [ -e "$file" ] || return 0
    awk -v section="$section" -v key="$key" '
        function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t\r]+$/, "", s); return s }
        /^[ \t]*\[/ {
            name = trim($0); sub(/^\[/, "", name); sub(/\].*$/, "", name)
            inside = tolower(trim(name)) == tolower(section); next
        }
        inside && index($0, "=") > 0 &&
            tolower(trim(substr($0, 1, index($0, "=") - 1))) == tolower(key) {
            print trim(substr($0, index($0, "=") + 1)); exit
        }' "$file"
}

# The port name the serial-port component gives the added device path: "/dev/" dropped,
# "/" as "-", other characters outside [A-Za-z0-9._-] as "_", no leading "-" or ".".
port=$(printf '%s' "${link#/dev/}" | sed 's#/#-#g; s#[^A-Za-z0-9._-]#_#g; s#^[-.]*##')
ini_set "$ini" "CAMERA_COMM_Ch00" "SelectInterface" "COM port(Build In)"
ini_set "$ini" "CAMERA_COMM_Ch00" "COM Port Name" "$port"
# Device paths the user added stay; links of earlier demo runs go.
added=$(ini_get "$ini" "Vorlix" "Added Devices" | tr ';' '\n' | grep -v '/quillon-demo\.' |
    paste -sd ';' - || true)
ini_set "$ini" "Vorlix" "Added Devices" "${added:+$added;}$link"
# A first run offers the sample definition as the last used file; a user's own choice stays.
if [ -z "$(ini_get "$ini" "App" "LastConfig")" ]; then
    ini_set "$ini" "App" "LastConfig" "$(cd "$bin" && pwd)/CamDefine/XC-100.xml"
fi

status=0
"$bin/Quillon" "$@" || status=$?
exit "$status"
