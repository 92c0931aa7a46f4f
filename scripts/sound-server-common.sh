# Shared part of scripts/with-pulse.sh and scripts/with-pipewire.sh; sourced, never run.
#
# The sourcing script sets `tool` (its name, for messages) and `runtime_prefix`, then sources this
# file with its own arguments. This file parses the options, makes the private runtime directory
# and points every PulseAudio client at a server inside it. The sourcing script then starts its
# server with start_server_process, makes the virtual devices, calls wait_for_virtual_devices and
# then run_command.
#
# Everything started here runs in a process group of its own under `timeout`; teardown (on exit,
# interrupt or termination) stops the helpers, then the server processes in reverse order of their
# start, and removes the runtime directory.

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
    *) echo "$tool: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "usage: $0 [--mic-tone FREQ --mic-rate RATE --mic-format FMT --mic-channels N] -- command..." >&2
    exit 2
fi
command_to_run=("$@")

case "$mic_format" in
s16le) sox_encoding=(-e signed-integer -b 16) ;;
float32le) sox_encoding=(-e floating-point -b 32) ;;
*) echo "$tool: unsupported microphone format $mic_format" >&2; exit 2 ;;
esac

# Nothing may reach a sound server other than ours.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE PULSE_CLIENTCONFIG PULSE_RUNTIME_PATH PULSE_STATE_PATH
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR

runtime=$(mktemp -d "${TMPDIR:-/tmp}/$runtime_prefix.XXXXXX") || exit 90
chmod 700 "$runtime"
mkdir -p "$runtime/pulse" "$runtime/home" "$runtime/state" "$runtime/config"

server_pids=()
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

# Starts one process of the server (`name` names its log) in a process group of its own, with a
# private home and private configuration and state folders, so that no user setting leaks in.
start_server_process() {
    local name=$1
    shift
    HOME=$runtime/home XDG_CONFIG_HOME=$runtime/config XDG_STATE_HOME=$runtime/state \
        setsid timeout 3600 "$@" </dev/null >"$runtime/$name.log" 2>&1 &
    server_pids+=($!)
}

server_processes_alive() {
    local pid
    for pid in "${server_pids[@]}"; do
        kill -0 "$pid" 2>/dev/null || return 1
    done
}

teardown() {
    local pid
    local i
    # What restart-server.sh started after the first server was stopped.
    if [ -f "$runtime/restarted.pids" ]; then
        while read -r pid; do
            helper_pids+=("$pid")
        done <"$runtime/restarted.pids"
    fi
    for pid in "${helper_pids[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null
    done
    for pid in "${helper_pids[@]}"; do
        stop_group "$pid"
    done
    helper_pids=()
    for ((i = ${#server_pids[@]} - 1; i >= 0; i--)); do
        stop_group "${server_pids[i]}"
    done
    server_pids=()
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

fail_to_come_up() {
    echo "$tool: the private sound server did not come up${1:+ ($1)}" >&2
    local log
    for log in "$runtime"/*.log; do
        [ -s "$log" ] && { echo "--- ${log##*/}" >&2; tail -n 40 "$log" >&2; }
    done
    exit 90
}

# Waits (about 10 s at most) until `pactl info` prints a line matching every pattern given.
wait_for_server_info() {
    local pattern
    local info
    local matched
    for _ in $(seq 1 200); do
        server_processes_alive || return 1
        if info=$(timeout 5 pactl info 2>/dev/null); then
            matched=yes
            for pattern in "$@"; do
                grep -q -- "$pattern" <<<"$info" || matched=""
            done
            [ -n "$matched" ] && return 0
        fi
        sleep 0.05
    done
    return 1
}

# The virtual output device (and with --mic-tone the virtual microphone), as commands of the
# PulseAudio protocol, one a line: PulseAudio reads them as its startup script, PipeWire gets them
# through pactl (load_virtual_devices).
virtual_device_commands() {
    echo "load-module module-null-sink sink_name=virt_out rate=48000 channels=2 sink_properties=device.description=VirtualOutput"
    echo "load-module module-null-sink sink_name=virt_out2 rate=48000 channels=2 sink_properties=device.description=VirtualOutput2"
    echo "set-default-sink virt_out"
    if [ -n "$mic_tone" ]; then
        echo "load-module module-null-sink sink_name=virt_mic_feed rate=$mic_rate channels=$mic_channels format=$mic_format sink_properties=device.description=VirtualMicFeed"
        echo "load-module module-remap-source source_name=virt_mic master=virt_mic_feed.monitor rate=$mic_rate channels=$mic_channels format=$mic_format source_properties=device.description=VirtualMic"
        echo "set-default-source virt_mic"
    fi
}

# On PipeWire the defaults live in the session manager's metadata: until WirePlumber has made it,
# pactl's set-default-* answer "Not supported". Those are therefore tried again for about 10 s;
# they change nothing when repeated. Loading a module is not repeatable and is tried once.
load_virtual_devices() {
    wait_for_server_info "^Server Name: " || fail_to_come_up
    local words
    local tries
    local error
    while read -r -a words; do
        tries=1
        [[ ${words[0]} == set-default-* ]] && tries=200
        until error=$(timeout 10 pactl "${words[@]}" 2>&1 >/dev/null); do
            tries=$((tries - 1))
            if [ $tries -le 0 ] || ! server_processes_alive; then
                fail_to_come_up "pactl ${words[*]} failed: $error"
            fi
            sleep 0.05
        done
    done < <(virtual_device_commands)
}

# Waits until the server reports the virtual devices as its defaults (on PipeWire that means the
# session manager has taken them over too).
wait_for_virtual_devices() {
    local wanted=("^Default Sink: virt_out$")
    if [ -n "$mic_tone" ]; then
        wanted+=("^Default Source: virt_mic$")
    fi
    wait_for_server_info "${wanted[@]}" || fail_to_come_up
}

# Starts the keep-alive recorders and the microphone's tone.
start_keep_alives() {
    # A null device's monitor drops audio until a low-latency recorder keeps it going.
    start_helper timeout 3600 parec --latency-msec=10 -d virt_out.monitor
    start_helper timeout 3600 parec --latency-msec=10 -d virt_out2.monitor
    if [ -n "$mic_tone" ]; then
        start_helper timeout 3600 bash -c "sox -q -n -t raw -r $mic_rate -c $mic_channels ${sox_encoding[*]} - \
            synth 3600 sine $mic_tone gain -10 | pacat -d virt_mic_feed --format=$mic_format --rate=$mic_rate \
            --channels=$mic_channels --client-name=mic-feed"
        start_helper timeout 3600 parec --latency-msec=10 -d virt_mic
    fi
}

# Writes $runtime/restart-server.sh, which a test runs after it stopped the server (SIGKILL to
# VELTRANE_SOUND_SERVER_PID): it starts the server process again (`name` and the command as for
# start_server_process), makes the virtual devices again when `load` is "load", waits for them,
# starts the keep-alives and prints the new server's process id. Everything it starts is stopped
# by teardown.
write_restart_script() {
    local name=$1
    local load=$2
    shift 2
    {
        echo "#!/usr/bin/env bash"
        declare -p tool runtime mic_tone mic_rate mic_format mic_channels sox_encoding
        echo "server_pids=(); helper_pids=()"
        declare -f start_server_process start_helper server_processes_alive fail_to_come_up \
            wait_for_server_info virtual_device_commands load_virtual_devices wait_for_virtual_devices \
            start_keep_alives
        echo "start_server_process $name-restarted $(printf '%q ' "$@")"
        echo "echo \${server_pids[0]} >>\"\$runtime/restarted.pids\""
        [ "$load" = load ] && echo "load_virtual_devices"
        echo "wait_for_virtual_devices"
        echo "start_keep_alives"
        echo "printf '%s\\n' \"\${helper_pids[@]}\" >>\"\$runtime/restarted.pids\""
        echo "echo \${server_pids[0]}"
    } >"$runtime/restart-server.sh"
    export VELTRANE_SOUND_SERVER_RESTART=$runtime/restart-server.sh
}

# Starts the keep-alive recorders and the microphone's tone, runs the command and exits with its
# status.
run_command() {
    start_keep_alives
    sleep 2.5

    # In the foreground: Ctrl-C reaches the command as well, and the server stays up until the
    # command has finished (the traps run after it).
    "${command_to_run[@]}"
    local status=$?
    exit $status
}
