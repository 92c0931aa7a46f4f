#!/usr/bin/env bash
# Runs the benchmarks against a built tree. Each prints its own figures and ratios.
#   bench/bench_encode   one hour of synthetic audio through the recorder's intake and chunk
#                        writer, against the ffmpeg command line encoding the same PCM
#   bench/upload/...     upload throughput, memory and soak against the local stand-in server
#   bench/live/live.sh   live capture from a private sound server, against parec | ffmpeg
#                        (VELTRANE_LIVE_SECONDS, default 60, per format)
#   bench/window/window.sh  the window recording, against veltrane-cli record on the same source
#                        (VELTRANE_WINDOW_SECONDS, default 60)
# Extra arguments go to bench_encode (e.g. --seconds 600 --format m4a).
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
bash bench/live/live.sh --build-dir "$build_dir" --seconds "${VELTRANE_LIVE_SECONDS:-60}"
bash bench/window/window.sh --build-dir "$build_dir" --seconds "${VELTRANE_WINDOW_SECONDS:-60}"
if [[ -x scripts/bench-upload.sh ]] || [[ -f scripts/bench-upload.sh ]]; then
    bash scripts/bench-upload.sh "$build_dir"
fi
