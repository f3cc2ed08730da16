#!/usr/bin/env bash
# Takes the pictures of the main window shown in README.md, in English and Japanese, on a
# virtual display: docs/quillon-en.png and docs/quillon-ja.png, and docs/quillon-ja-box.png with
# a question box whose standard buttons show Qt's own Japanese texts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh -DQUILLON_BUILD_TESTS=ON
cmake --build build --target quillon_screenshot
mkdir -p docs
for lang in en ja; do
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
        build/tests/quillon_screenshot "docs/quillon-$lang.png" "$lang"
done
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
    build/tests/quillon_screenshot docs/quillon-ja-box.png ja --message-box
