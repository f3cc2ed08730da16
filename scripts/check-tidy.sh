#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy (HACKING.md says which and why) over the
# program's own sources: every library and program, not the tests, benchmarks or fuzz targets
# (the headers of the tree are checked through them). Needs only a configured build folder
# (the compilation database), not a build. Fails on any finding.
# Usage: scripts/check-tidy.sh [BUILD_DIR]   (default build-tidy/, configured here)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-tidy}
if [ ! -f "$dir/compile_commands.json" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
root=$(pwd)
folders="evaluator|platform|base|camdef|components|port|plugins|comm|app|textfiles|ui|tools"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
run-clang-tidy -p "$dir" -j "$(nproc)" -quiet "^$root/($folders)/.*\.(c|cpp)$" >"$log" 2>&1 ||
    status=$?
# Only the findings (without colours), each once: a header is seen by many files.
sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E ': (warning|error): ' | sort -u || true
[ "$status" -eq 0 ] || { echo "clang-tidy: findings above" >&2; exit 1; }
echo "clang-tidy: clean"
