#!/usr/bin/env bash
# Runs the benchmarks against a built tree: bench/bench_encode encodes one hour of synthetic
# audio with the FFmpeg media file writer and with the ffmpeg command line, and prints the
# ratios. Extra arguments go to bench_encode (e.g. --seconds 600 --format m4a).
set -euo pipefail
build_dir=${1:-build}
shift || true
bench="$build_dir/bench/bench_encode"
if [[ ! -x "$bench" ]]; then
    echo "missing $bench: build the tree first" >&2
    exit 1
fi
if ! command -v ffmpeg >/dev/null; then
    echo "ffmpeg (the command line) is needed as the baseline" >&2
    exit 1
fi
"$bench" "$@"
