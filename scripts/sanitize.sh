#!/usr/bin/env bash
# Builds the Qt-free core and its tests twice more and runs them: with AddressSanitizer and
# UndefinedBehaviorSanitizer, then with ThreadSanitizer. Then the same build directory adds the
# user interface and runs the main-window suite (a worker blocked in a synchronous send,
# Disconnect and Exit during a job) under the same sanitizer; for ThreadSanitizer only reports
# inside Qt's own libraries are suppressed (scripts/tsan-qt.supp, with one entry of ours that
# says why). Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_config() {
    local dir=$1 sanitize=$2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_UI=OFF \
        -DQUILLON_SANITIZE="$sanitize" -DQUILLON_WERROR=ON
    cmake --build "$dir" -j "$jobs"
    # ThreadSanitizer cannot map its shadow memory with high address-space randomisation.
    local prefix=()
    [ "$sanitize" = thread ] && prefix=(setarch "$(uname -m)" -R)
    "${prefix[@]}" ctest --test-dir "$dir" -j "$jobs" --no-tests=error --output-on-failure \
        --timeout 900

    # The main window with the engine's threads, on the offscreen platform. Only the UI targets
    # are built on top of the core above.
    cmake -S . -B "$dir" -DQUILLON_BUILD_UI=ON
    cmake --build "$dir" -j "$jobs" --target test_ui
    QT_QPA_PLATFORM=offscreen "${prefix[@]}" ctest --test-dir "$dir" -j "$jobs" --no-tests=error \
        --output-on-failure --timeout 900 -R "$ui_tests"
}

ui_tests='^(MainWindowTest|PortLinkWindowTest|SilentCameraTest|MainFrame|DropTest|SilentDropTest|ScriptSocketTest|SlowCameraTest|BusyScriptTest|MonitorWindowTest|SilentMonitorTest|UnreadableMonitorTest)\.'
export TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$PWD/scripts/tsan-qt.supp"

case "${1:-all}" in
    asan) run_config build-asan address,undefined ;;
    tsan) run_config build-tsan thread ;;
    all) run_config build-asan address,undefined; run_config build-tsan thread ;;
    *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac
