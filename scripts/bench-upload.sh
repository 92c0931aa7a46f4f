#!/usr/bin/env bash
# Upload benchmark and soak against the local stand-in server on 127.0.0.1 (bench/upload):
#   throughput  one 58 MB chunk through the upload manager beside `curl -F` of the same file,
#               with the peak resident memory growth of our process during each upload
#   soak        40 chunk files while the server fails 30 % of uploads (500s, dropped
#               connections, 401s in turn); all must arrive byte-identical
# Called by scripts/bench.sh with the build folder; extra arguments go to bench_upload.
set -euo pipefail
build_dir=${1:-build}
shift || true
bench="$build_dir/bench/upload/bench_upload"
if [[ ! -x "$bench" ]]; then
    echo "missing $bench: build the tree first" >&2
    exit 1
fi
if ! command -v curl >/dev/null; then
    echo "curl (the command line) is needed as the baseline" >&2
    exit 1
fi
"$bench" "$@"
