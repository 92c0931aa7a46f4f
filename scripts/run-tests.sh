#!/usr/bin/env bash
# Runs every test: unit tests and the integration tests, which start and stop their own
# sound server, Secret Service and stand-in server.
set -uo pipefail
build_dir=${1:-build}
cd "$build_dir" || exit 1
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --timeout 600 -j "$(nproc)"
