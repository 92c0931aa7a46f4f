#!/usr/bin/env bash
# `make run`: records 30 seconds of what the default output device plays into ./recordings,
# in 10-second WAV chunks, with the command-line recorder, then lists the files.
# On a machine without a reachable sound server (a headless box) it brings up a private one
# with a virtual output device playing a test tone for the length of the run.
set -u
build_dir=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
cli="$here/$build_dir/src/app/cli/veltrane-cli"
out="$here/recordings"
mkdir -p "$out"

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
