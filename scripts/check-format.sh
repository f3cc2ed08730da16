#!/usr/bin/env bash
# Checks that C and C++ sources are formatted as .clang-format says (clang-format, no change
# made). Without arguments every tracked source is checked (a few seconds); with a revision, only
# the sources changed since it. Fails listing the files that differ; `clang-format -i FILE` mends
# one.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
    mapfile -t files < <(git diff --name-only --diff-filter=d "$1" -- '*.c' '*.cpp' '*.h')
else
    mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
fi
[ ${#files[@]} -eq 0 ] && exit 0
mapfile -t bad < <(printf '%s\0' "${files[@]}" | xargs -0 clang-format --dry-run 2>&1 |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: .*-Wclang-format-violations.*/\1/p' | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
    echo "Not formatted as .clang-format says (run clang-format -i on them):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files checked"
