#!/usr/bin/env bash
# `make run`: on a desktop (DISPLAY or WAYLAND_DISPLAY set) opens the window against the local
# stand-in server, which runs until the window closes. Without a display it records 30 seconds
# of what the default output device plays into ./recordings, in 10-second WAV chunks, with the
# command-line recorder, then lists the files; on a machine without a reachable sound server it
# brings up a private one with a virtual output device playing a test tone for the run.
set -u
build_dir=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
cli="$here/$build_dir/bin/veltrane-cli"
window="$here/$build_dir/bin/veltrane-recorder"
devserver="$here/$build_dir/tools/devserver/veltrane-devserver"
out="$here/recordings"
mkdir -p "$out"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    data=$(mktemp -d)
    log="$data/devserver.log"
    "$devserver" --port 0 --data "$data/uploads" >"$log" 2>&1 &
    server=$!
    trap 'kill $server 2>/dev/null; wait $server 2>/dev/null' EXIT
    url=
    for _ in $(seq 100); do
        url=$(sed -n 's/^Listening on \(http[^ ]*\).*/\1/p' "$log" | head -n 1)
        [ -n "$url" ] && break
        sleep 0.05
    done
    if [ -z "$url" ]; then
        echo "The stand-in server did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    echo "Stand-in server at $url (uploads land in $data/uploads)."
    echo "Sign in as demo@veltrane.test with the password demo-password."
    VELTRANE_SERVER_URL="$url" "$window"
    exit $?
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): recording from the command line instead."

if [ ! -x "$cli" ]; then
    echo "missing $cli: run make build first" >&2
    exit 1
fi

record() {
    "$cli" record --dir "$out" --device-id demo1 --format wav --seconds 30 --chunk-seconds 10
}

if timeout 5 pactl info >/dev/null 2>&1; then
    echo "Recording 30 s from the default output device into $out ..."
    record
    status=$?
else
    echo "No sound server reachable: using a private one with a virtual output playing a 440 Hz tone."
    export -f record
    export cli out
    bash "$here/scripts/with-pulse.sh" -- bash -c '
        bash "'"$here"'/scripts/play-tone.sh" 440 40 test-tone >/dev/null 2>&1 &
        tone=$!
        sleep 1
        record
        status=$?
        kill $tone 2>/dev/null
        wait $tone 2>/dev/null
        exit $status'
    status=$?
fi

echo
echo "Chunk files in $out:"
ls -l "$out"
exit $status
