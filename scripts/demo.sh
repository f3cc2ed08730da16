#!/usr/bin/env bash
# Builds Quillon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh -DQUILLON_BUILD_TESTS=OFF
exec build/bin/Quillon "$@"
