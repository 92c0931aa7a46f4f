# Sourced by the window's integration scripts (inside scripts/with-pulse.sh and xvfb-run) with the
# stand-in server and a device identifier: a scratch folder removed on exit, settings with a chunk
# folder, the device identifier and the project picked earlier (restored once the projects load
# after the sign-in), a private session bus that starts nothing by itself (no Secret Service: the
# token goes to the file store) and the stand-in server.
#   source window-session.sh DEVSERVER DEVICE_ID
set -u
work=$(mktemp -d)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 40 "$log" >&2; done
    exit 1
}
start() { # NAME COMMAND...: in the background, its output in NAME.log
    "${@:2}" >"$work/$1.log" 2>&1 &
    pids+=($!)
}
wait_for() { # SECONDS COMMAND...: until the command succeeds
    for _ in $(seq $(($1 * 10))); do "${@:2}" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state
chunks=$work/chunks
received=$work/received
mkdir -p "$chunks" "$XDG_CONFIG_HOME/Veltrane"
printf '[General]\nkDestinationBookmark=%s\nkDeviceID=%s\nkSelectedProjectId=prj-alpha\n' "$chunks" "$2" \
    >"$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini"
echo "<busconfig><type>session</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
  <policy context='default'><allow user='*'/><allow send_destination='*'/><allow receive_sender='*'/>
  <allow own='*'/></policy></busconfig>" >"$work/bus.conf"
start bus dbus-daemon --config-file="$work/bus.conf" --nofork
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
wait_for 10 test -S "$work/bus" || fail "the private session bus did not start"
start devserver "$1" --port 0 --data "$received"
devserver_pid=${pids[-1]}
wait_for 10 grep -q '^Listening on' "$work/devserver.log" || fail "the stand-in server did not start"
export VELTRANE_SERVER_URL=$(sed -n 's/^Listening on \(http[^ ]*\).*/\1/p' "$work/devserver.log" | head -n 1)
