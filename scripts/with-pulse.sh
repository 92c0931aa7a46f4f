#!/usr/bin/env bash
# Runs a command against a private PulseAudio daemon, then stops the daemon again.
#
#   scripts/with-pulse.sh [--mic-tone FREQ] [--mic-rate RATE] [--mic-format s16le|float32le]
#                         [--mic-channels N] -- <command...>
#
# The daemon lives in a fresh runtime directory of its own (so several instances can run side
# by side) and offers:
#   virt_out  a null output device "VirtualOutput", 48000 Hz stereo, the default output;
#   virt_mic  with --mic-tone: a clock-paced virtual microphone "VirtualMic" (a null device
#             plus a remapped source on its monitor) that plays a sine tone of FREQ Hz.
# The command sees PULSE_SERVER pointing at the daemon and nothing of a user's own server.
# Exits with the command's status (or 90 when the daemon could not be brought up).

set -u

mic_tone=""
mic_rate=48000
mic_format=s16le
mic_channels=1

while [ $# -gt 0 ]; do
    case "$1" in
    --mic-tone) mic_tone=$2; shift 2 ;;
    --mic-rate) mic_rate=$2; shift 2 ;;
    --mic-format) mic_format=$2; shift 2 ;;
    --mic-channels) mic_channels=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "with-pulse: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "usage: $0 [--mic-tone FREQ --mic-rate RATE --mic-format FMT --mic-channels N] -- command..." >&2
    exit 2
fi

case "$mic_format" in
s16le) sox_encoding=(-e signed-integer -b 16) ;;
float32le) sox_encoding=(-e floating-point -b 32) ;;
*) echo "with-pulse: unsupported microphone format $mic_format" >&2; exit 2 ;;
esac

# Nothing may reach a sound server other than ours.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE PULSE_CLIENTCONFIG PULSE_RUNTIME_PATH PULSE_STATE_PATH

runtime=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-pulse.XXXXXX") || exit 90
chmod 700 "$runtime"
mkdir -p "$runtime/pulse" "$runtime/home" "$runtime/state"

daemon_pid=""
helper_pids=()

stop_group() {
    # Stops a process group we started (its leader is `pid`) and waits for the leader, at
    # most about 5 s before forcing it.
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM -- "-$pid" 2>/dev/null
    local tries=0
    while kill -0 "$pid" 2>/dev/null && [ $tries -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill -KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# Starts a helper in a process group of its own, so that it goes away with all its children.
start_helper() {
    setsid "$@" </dev/null >/dev/null 2>&1 &
    helper_pids+=($!)
}

teardown() {
    local pid
    for pid in "${helper_pids[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null
    done
    for pid in "${helper_pids[@]}"; do
        stop_group "$pid"
    done
    helper_pids=()
    stop_group "$daemon_pid"
    daemon_pid=""
    rm -rf "$runtime"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cat >"$runtime/client.conf" <<CONF
autospawn = no
CONF
export XDG_RUNTIME_DIR=$runtime
export PULSE_RUNTIME_PATH=$runtime/pulse
export PULSE_STATE_PATH=$runtime/state
export PULSE_CLIENTCONFIG=$runtime/client.conf
export PULSE_COOKIE=$runtime/state/cookie
export PULSE_SERVER=unix:$runtime/pulse/native

{
    echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$runtime/pulse/native"
    echo "load-module module-null-sink sink_name=virt_out rate=48000 channels=2 sink_properties=device.description=VirtualOutput"
    echo "set-default-sink virt_out"
    if [ -n "$mic_tone" ]; then
        echo "load-module module-null-sink sink_name=virt_mic_feed rate=$mic_rate channels=$mic_channels format=$mic_format sink_properties=device.description=VirtualMicFeed"
        echo "load-module module-remap-source source_name=virt_mic master=virt_mic_feed.monitor rate=$mic_rate channels=$mic_channels format=$mic_format source_properties=device.description=VirtualMic"
        echo "set-default-source virt_mic"
    fi
} >"$runtime/daemon.pa"

HOME=$runtime/home setsid timeout 3600 pulseaudio --daemonize=no --exit-idle-time=-1 --system=no \
    --use-pid-file=no -n -F "$runtime/daemon.pa" </dev/null >"$runtime/daemon.log" 2>&1 &
daemon_pid=$!

ready=""
for _ in $(seq 1 200); do
    if ! kill -0 "$daemon_pid" 2>/dev/null; then
        break
    fi
    if timeout 5 pactl list short sinks 2>/dev/null | grep -q virt_out; then
        if [ -z "$mic_tone" ] || timeout 5 pactl list short sources 2>/dev/null | grep -q 'virt_mic[[:space:]]'; then
            ready=yes
            break
        fi
    fi
    sleep 0.05
done
if [ -z "$ready" ]; then
    echo "with-pulse: the private sound server did not come up" >&2
    cat "$runtime/daemon.log" >&2
    exit 90
fi

# A null device's monitor drops audio until a low-latency recorder keeps it going.
start_helper timeout 3600 parec --latency-msec=10 -d virt_out.monitor
if [ -n "$mic_tone" ]; then
    start_helper timeout 3600 bash -c "sox -q -n -t raw -r $mic_rate -c $mic_channels ${sox_encoding[*]} - \
        synth 3600 sine $mic_tone gain -10 | pacat -d virt_mic_feed --format=$mic_format --rate=$mic_rate \
        --channels=$mic_channels --client-name=mic-feed"
    start_helper timeout 3600 parec --latency-msec=10 -d virt_mic
fi
sleep 2.5

"$@"
status=$?
exit $status
