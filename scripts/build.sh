#!/usr/bin/env bash
# Configures and builds Quillon into build/ (the program folder is build/bin/).
# Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j "$jobs"
