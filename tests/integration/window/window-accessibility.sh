#!/usr/bin/env bash
# The real window as a screen reader meets it (inside scripts/with-pulse.sh and xvfb-run): openbox,
# a private session bus with the accessibility bus (at-spi2-core) beside it, the stand-in server
# and a tone playing; accessibility-walk.py signs in and checks the tree.
#   window-accessibility.sh RECORDER DEVSERVER SCRIPTS_DIR
set -u
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$work"/*.log >&2
    exit 1
}
start() { # NAME COMMAND...: in the background, its output in NAME.log
    "${@:2}" >"$work/$1.log" 2>&1 &
    pids+=($!)
}
until_ok() { # SECONDS COMMAND...
    for _ in $(seq $(($1 * 10))); do "${@:2}" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state
mkdir -p "$work/chunks" "$XDG_CONFIG_HOME/Veltrane"
printf '[General]\nkDestinationBookmark=%s\nkDeviceID=a11y1\nkSelectedProjectId=prj-alpha\n' "$work/chunks" \
    >"$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini"
# A bus that activates nothing by itself (the token goes to the file store).
echo "<busconfig><type>session</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
  <policy context='default'><allow user='*'/><allow send_destination='*'/><allow receive_sender='*'/>
  <allow own='*'/></policy></busconfig>" >"$work/bus.conf"
start bus dbus-daemon --config-file="$work/bus.conf" --nofork
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
until_ok 10 test -S "$work/bus" || fail "the session bus did not start"
start atspi /usr/libexec/at-spi-bus-launcher --launch-immediately
start openbox openbox
start tone bash "$3/play-tone.sh" 440 90 a11y-tone
start devserver "$2" --port 0 --data "$work/received"
until_ok 10 grep -q '^Listening on' "$work/devserver.log" || fail "the stand-in server did not start"
export VELTRANE_SERVER_URL=$(sed -n 's/^Listening on \(http[^ ]*\).*/\1/p' "$work/devserver.log")

QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start window "$1"
window=${pids[-1]}
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
[ -n "$wid" ] || fail "no window appeared"
xdotool windowfocus --sync "$wid"
timeout 120 /usr/bin/python3 "$(dirname "$0")/accessibility-walk.py" demo@veltrane.test demo-password ||
    fail "the accessibility walk failed"
# Once the chunk is delivered the window quits at once, with no uploads left to hand on.
until_ok 10 bash -c "find '$work/received' -name '*.m4a' | grep -q ."
xdotool key ctrl+q
until_ok 10 bash -c "! kill -0 $window" || fail "the window did not quit"
