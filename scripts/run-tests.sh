#!/usr/bin/env bash
# Runs every test: unit tests and the integration tests, which start and stop their own
# sound server, Secret Service and stand-in server.
set -uo pipefail
build_dir=${1:-build}
cd "$build_dir" || exit 1
export QT_QPA_PLATFORM=offscreen
# The tests expect the program's English texts unless they choose a language themselves.
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE
ctest --output-on-failure --timeout 600 -j "$(nproc)"
