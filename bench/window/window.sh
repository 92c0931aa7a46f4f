#!/usr/bin/env bash
# The window's cost while recording: CPU time of `veltrane-recorder` recording a tone on a private
# sound server under a virtual X display, against `veltrane-cli record` on the same source for the
# same time; prints both and the ratio window / command line.
#
#   bench/window/window.sh [--seconds N] [--build-dir DIR]
#
# Both record M4A from the private server's output device; the CPU time (user + system) is read
# from /proc over the same N seconds (default 60) once each recording runs.
set -euo pipefail

seconds=60
build_dir=build
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    *) echo "bench/window: unknown option $1" >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "$build_dir/bin" && pwd)
devserver=$(cd "$build_dir" && pwd)/tools/devserver/veltrane-devserver
for program in "$bin/veltrane-recorder" "$bin/veltrane-cli" "$devserver"; do
    [ -x "$program" ] || { echo "missing $program: build the tree first" >&2; exit 1; }
done

if [ -z "${VELTRANE_WINDOW_BENCH_INSIDE:-}" ]; then
    export VELTRANE_WINDOW_BENCH_INSIDE=1
    exec bash "$root/scripts/with-pulse.sh" -- xvfb-run -a -s "-screen 0 1366x768x24" \
        bash "$0" --seconds "$seconds" --build-dir "$build_dir"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-window-bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
    for _ in $(seq $(($1 * 10))); do
        bash -c "$2" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
# CPU seconds (user + system) a process has used so far.
cpu_of() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"
}

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent QT_QPA_PLATFORM=xcb
mkdir -p "$work/chunks" "$XDG_CONFIG_HOME/Veltrane"
"$devserver" --port 0 --data "$work/received" --quiet >"$work/devserver.log" 2>&1 &
pids+=($!)
wait_for 10 "grep -q '^Listening on' '$work/devserver.log'"
export VELTRANE_SERVER_URL=$(sed -n 's/^Listening on \(http[^ ]*\).*/\1/p' "$work/devserver.log" | head -n 1)
echo demo-password | "$bin/veltrane-cli" login --email demo@veltrane.test >/dev/null
cat >"$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini" <<INI
[General]
kDestinationBookmark=$work/chunks
kDeviceID=bench1
kSelectedProjectId=prj-alpha
INI
setsid bash "$root/scripts/play-tone.sh" 440 $((2 * seconds + 90)) window-bench-tone </dev/null >/dev/null 2>&1 &
pids+=($!)
sleep 1

# The window, recording from its default source.
"$bin/veltrane-recorder" >"$work/window.log" 2>&1 &
window=$!
pids+=("$window")
wait_for 20 "grep -q 'active projects: 2' '$work/window.log'"
wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
xdotool windowfocus --sync "$wid"
sleep 1
xdotool key ctrl+r
wait_for 10 "grep -q '=== Start Recording ===' '$work/window.log'"
sleep 2
start=$(cpu_of "$window")
sleep "$seconds"
window_cpu=$(awk -v a="$start" -v b="$(cpu_of "$window")" 'BEGIN { printf "%.3f", b - a }')
xdotool key ctrl+r
sleep 2
kill "$window"
source_id=$(grep -o 'kSysSourceID=.*' "$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini" | cut -d= -f2)

# The command line on the same source.
cli_source=$("$bin/veltrane-cli" sources 2>/dev/null | sed -n 's/^ *\([0-9][0-9]*\)[^0-9].*VirtualOutput.*/\1/p' | head -n 1)
mkdir -p "$work/cli"
"$bin/veltrane-cli" record --dir "$work/cli" --device-id bench1 --format m4a --source "$cli_source" \
    --seconds $((seconds + 4)) --chunk-seconds 3600 >"$work/cli.log" 2>&1 &
cli=$!
pids+=("$cli")
sleep 2
start=$(cpu_of "$cli")
sleep "$seconds"
cli_cpu=$(awk -v a="$start" -v b="$(cpu_of "$cli")" 'BEGIN { printf "%.3f", b - a }')
wait "$cli" || true

printf '%-32s %9s\n' run cpu_s
printf '%-32s %9s\n' "veltrane-recorder (window)" "$window_cpu"
printf '%-32s %9s\n' "veltrane-cli record" "$cli_cpu"
echo "window source: ${source_id:-default}; command line source: $cli_source"
awk -v w="$window_cpu" -v c="$cli_cpu" 'BEGIN { printf "ratio window/command line: %.2f (target at most 1.20)\n", (c > 0 ? w / c : 0) }'
