#!/usr/bin/env bash
# Builds Quillon and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
scripts/build.sh -DQUILLON_WERROR=$werror -DQUILLON_BUILD_TESTS=ON
ctest --test-dir build -j "$(nproc)" --no-tests=error --output-on-failure --timeout 600
