#!/usr/bin/env bash
# Builds every fuzz target with libFuzzer and runs each for a bounded time (FUZZ_SECONDS,
# default 30) on a scratch copy of its seed corpus. A crash fails the run; its input is left
# in build-fuzz/findings/ to be kept as a regression in fuzz/regressions/<name>/. No targets, or
# a target without seed inputs, is an error too.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
seconds=${FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLON_FUZZ=ON -DQUILLON_BUILD_UI=OFF -DQUILLON_BUILD_TESTS=OFF
cmake --build build-fuzz -j "$(nproc)"
shopt -s nullglob
targets=(build-fuzz/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no fuzz targets were built in build-fuzz/fuzz/" >&2
    exit 1
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/findings
for t in "${targets[@]}"; do
    name=${t##*/fuzz_}
    seeds=(fuzz/corpus/"$name"/*)
    if [ ${#seeds[@]} -eq 0 ]; then
        echo "fuzz: target $name has no seed inputs in fuzz/corpus/$name/" >&2
        exit 1
    fi
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." "$work/"
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    echo "== fuzz $name for ${seconds}s"
    set +e
    "$t" "$work" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="build-fuzz/findings/$name-" -print_final_stats=1 2>&1 | tail -n 15
    status=${PIPESTATUS[0]}
    set -e
    rm -rf "$work"
    if [ "$status" -ne 0 ]; then
        echo "fuzz target $name failed (exit $status); see build-fuzz/findings/" >&2
        exit 1
    fi
done
