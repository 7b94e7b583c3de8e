#!/usr/bin/env bash
# Main job: builds the project and runs the transport self-check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/bin/socket_scale_check --sockets 1000
