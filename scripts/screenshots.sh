#!/usr/bin/env bash
# Renders the main window (a small fleet, some of it logged in to a loopback
# server) and each dialog to PNG files in docs/screenshots/. Needs no display:
# the offscreen platform draws them; the Chinese texts need fonts-wqy-zenhei.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DZEL_BUILD_UI=ON >/dev/null
cmake --build build -j2 --target zel-screenshots
QT_QPA_PLATFORM=offscreen build/bin/zel-screenshots docs/screenshots
