#!/usr/bin/env bash
# Live capture cost: records a tone played on a private sound server's output device, once with
# `veltrane-cli record` and once with `parec | ffmpeg` writing the same format, and prints the
# CPU time (user + system of the whole process tree) of each and the ratio ours / baseline.
#
#   bench/live/live.sh [--seconds N] [--build-dir DIR] [--format wav|m4a|both]
#
# Both runs read the same device monitor, at 48000 Hz stereo float, for N seconds (default 60);
# M4A is AAC at 192 kbit/s in both. The private sound server comes from scripts/with-pulse.sh.
set -euo pipefail

seconds=60
build_dir=build
formats="wav m4a"
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --format) formats=$2; [ "$formats" = both ] && formats="wav m4a"; shift 2 ;;
    *) echo "bench/live: unknown option $1" >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "$0")/../.." && pwd)
cli="$build_dir/bin/veltrane-cli"
if [ ! -x "$cli" ]; then
    echo "missing $cli: build the tree first" >&2
    exit 1
fi
cli=$(cd "$(dirname "$cli")" && pwd)/veltrane-cli

if [ -z "${VELTRANE_LIVE_BENCH_INSIDE:-}" ]; then
    export VELTRANE_LIVE_BENCH_INSIDE=1
    exec bash "$root/scripts/with-pulse.sh" -- bash "$0" --seconds "$seconds" --build-dir "$build_dir" \
        --format "$formats"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-live-bench.XXXXXX")
tone_pid=""
cleanup() {
    if [ -n "$tone_pid" ]; then
        kill -TERM -- "-$tone_pid" 2>/dev/null || true
        wait "$tone_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The program keeps its settings and queue in a private home.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

# One tone long enough for every run.
runs=$(echo "$formats" | wc -w)
setsid bash "$root/scripts/play-tone.sh" 440 $((runs * 2 * (seconds + 10) + 30)) live-bench-tone \
    </dev/null >/dev/null 2>&1 &
tone_pid=$!
sleep 1

source_id=$("$cli" sources 2>/dev/null | sed -n 's/^ *\([0-9][0-9]*\)[^0-9].*VirtualOutput.*/\1/p' | head -n 1)
if [ -z "$source_id" ]; then
    echo "bench/live: the output device is not among the sources:" >&2
    "$cli" sources >&2 || true
    exit 1
fi

# CPU seconds (user + system) of everything the command ran, summed over the process tree:
# the shell reports its waited-for children's times.
cpu_seconds() {
    local line
    line=$(bash -c '"$@" >/dev/null 2>&1; times' _ "$@" | sed -n 2p)
    echo "$line" | awk '{
        split($1, u, "m"); split($2, s, "m");
        sub("s", "", u[2]); sub("s", "", s[2]);
        printf "%.3f %.3f\n", u[1] * 60 + u[2], s[1] * 60 + s[2] }'
}

ours() {
    local format=$1 dir=$work/ours-$1
    mkdir -p "$dir"
    "$cli" record --dir "$dir" --device-id bench1 --format "$format" --source "$source_id" \
        --seconds "$seconds" --chunk-seconds 3600
}

baseline() {
    local format=$1 out=$work/baseline.$1
    local codec=(-c:a pcm_s16le -f wav)
    [ "$format" = m4a ] && codec=(-c:a aac -b:a 192k -f ipod)
    parec -d virt_out.monitor --raw --format=float32le --rate=48000 --channels=2 |
        ffmpeg -nostdin -hide_banner -loglevel error -f f32le -ar 48000 -ac 2 -i - -t "$seconds" \
            "${codec[@]}" -y "$out"
}
export -f ours baseline
export cli work seconds source_id

printf '%-6s %-22s %9s %9s %9s\n' format run user_s system_s total_s
for format in $formats; do
    read -r ou os < <(cpu_seconds bash -c "ours $format")
    read -r bu bs < <(cpu_seconds bash -c "baseline $format")
    ot=$(echo "$ou $os" | awk '{printf "%.3f", $1 + $2}')
    bt=$(echo "$bu $bs" | awk '{printf "%.3f", $1 + $2}')
    printf '%-6s %-22s %9s %9s %9s\n' "$format" "veltrane-cli record" "$ou" "$os" "$ot"
    printf '%-6s %-22s %9s %9s %9s\n' "$format" "parec | ffmpeg" "$bu" "$bs" "$bt"
    echo "$format $ot $bt $ou $os $bu $bs" | awk '{
        printf "%-6s ratio ours/baseline: total %.2f  user %.2f  system %.2f\n", $1,
            ($3 > 0 ? $2 / $3 : 0), ($6 > 0 ? $4 / $6 : 0), ($7 > 0 ? $5 / $7 : 0) }'
done
