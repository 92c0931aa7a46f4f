#!/usr/bin/env bash
# The real window driven from the keyboard under a virtual X display, against the stand-in
# server and a private sound server playing a tone (run inside scripts/with-pulse.sh and
# xvfb-run). First run: sign in, record about 12 s in 5-second chunks into a folder set
# beforehand, and check that every chunk reaches the server byte for byte. Second run: the
# session is restored; quit while recording and check that the last chunk is saved and sent.
#   window-end-to-end.sh BIN_DIR DEVSERVER SCRIPTS_DIR
set -u
bin=$1
devserver=$2
scripts=$3
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    # The background uploader the window started: only this run's (other tests run the same binary).
    for pid in $(pgrep -f "$bin/veltrane-cli upload"); do
        grep -qzx "XDG_DATA_HOME=$XDG_DATA_HOME" "/proc/$pid/environ" 2>/dev/null && kill "$pid"
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 40 "$log" >&2; done
    exit 1
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local limit=$1
    shift
    for _ in $(seq $((limit * 10))); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent # the token goes to the file store
export QT_QPA_PLATFORM=xcb # the test runner's offscreen platform would show nothing to xdotool
export VELTRANE_CHUNK_SECONDS=5
chunks=$work/chunks
received=$work/received
mkdir -p "$chunks" "$XDG_CONFIG_HOME/Veltrane"

"$devserver" --port 0 --data "$received" >"$work/devserver.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q '^Listening on' "$work/devserver.log" || fail "stand-in server did not start"
export VELTRANE_SERVER_URL=$(sed -n 's/^Listening on \(http[^ ]*\).*/\1/p' "$work/devserver.log" | head -n 1)

# The folder and the device identifier are set beforehand, and the project picked earlier is
# remembered; it can only be restored once the projects have loaded after the sign-in.
cat >"$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini" <<INI
[General]
kDestinationBookmark=$chunks
kDeviceID=e2e1
kSelectedProjectId=prj-alpha
INI

bash "$scripts/play-tone.sh" 440 60 e2e-tone >/dev/null 2>&1 &
pids+=($!)

start_window() {
    "$bin/veltrane-recorder" >"$work/window$1.log" 2>&1 &
    window=$!
    pids+=("$window")
    wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
    [ -n "$wid" ] || fail "no window appeared"
    xdotool windowfocus --sync "$wid"
}
log_has() { grep -qF "$2" "$work/window$1.log"; }
queue_has() { grep -qF "$1" "$XDG_DATA_HOME/Veltrane/VeltraneRecorder/upload_queue.json"; }
server_has() { [ -n "$(find "$received" -name "$1")" ]; }

# First run: sign in with the keyboard (Return in the email field moves to the password).
start_window 1
sleep 1
xdotool type --delay 30 "demo@veltrane.test"
xdotool key Return
xdotool type --delay 30 "demo-password"
xdotool key Return
wait_for 20 log_has 1 "authenticated as demo@veltrane.test" || fail "sign-in did not succeed"
wait_for 20 log_has 1 "active projects: 2" || fail "projects were not loaded after the sign-in"
sleep 1
xdotool key ctrl+r
wait_for 10 log_has 1 "=== Start Recording ===" || fail "Ctrl+R did not start a recording"
sleep 12
xdotool key ctrl+r
wait_for 20 bash -c "ls '$chunks' | grep -q -- '-STOP\.m4a$'" || fail "the last chunk was not written"
count=$(ls "$chunks" | grep -c '\.m4a$')
[ "$count" -ge 3 ] || fail "expected at least 3 chunks of 5 s in 12 s, found $count"
for file in "$chunks"/*.m4a; do
    name=$(basename "$file")
    wait_for 30 queue_has "$name" || fail "$name was not queued"
    wait_for 30 server_has "$name" || fail "$name did not reach the server"
    cmp -s "$file" "$(find "$received" -name "$name")" || fail "$name differs on the server"
done
echo "first run: $count chunks recorded, queued and delivered byte for byte"
xdotool key ctrl+q
wait_for 20 bash -c "! kill -0 $window" || fail "the idle window did not quit on Ctrl+Q"
grep -q '^kSysSourceID=' "$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini" || fail "the picked source was not saved"

# Second run: the stored session leads straight to the main screen; quit while recording.
before=$(ls "$chunks" | wc -l)
start_window 2
wait_for 20 log_has 2 "active projects: 2" || fail "the session was not restored"
sleep 1
xdotool key ctrl+r
wait_for 10 log_has 2 "=== Start Recording ===" || fail "Ctrl+R did not start the second recording"
sleep 3
xdotool key ctrl+q
sleep 1
xdotool key alt+y # "Stop the recording and quit?"
wait_for 30 bash -c "! kill -0 $window" || fail "the window did not quit after the question"
last=$(ls -t "$chunks" | head -n 1)
[ "$(ls "$chunks" | wc -l)" -gt "$before" ] && [[ "$last" == *-START-STOP.m4a ]] || fail "no final chunk saved ($last)"
wait_for 30 server_has "$last" || fail "the final chunk $last was not sent after the window closed"
cmp -s "$chunks/$last" "$(find "$received" -name "$last")" || fail "$last differs on the server"
echo "second run: $last saved on quit and delivered by the background uploader"
