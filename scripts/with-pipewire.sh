#!/usr/bin/env bash
# Runs a command against a private PipeWire stack serving the PulseAudio protocol (pipewire,
# wireplumber and pipewire-pulse on a private session bus), then stops it again.
#
#   scripts/with-pipewire.sh [--mic-tone FREQ] [--mic-rate RATE] [--mic-format s16le|float32le]
#                            [--mic-channels N] -- <command...>
#
# Offers what scripts/with-pulse.sh offers, in a fresh runtime directory of its own:
#   virt_out  a null output device "VirtualOutput", 48000 Hz stereo, the default output;
#   virt_out2 a second one, "VirtualOutput2";
#   virt_mic  with --mic-tone: a clock-paced virtual microphone "VirtualMic" that plays a sine
#             tone of FREQ Hz. PipeWire runs its virtual devices in 32-bit float at the
#             graph's rate, so the microphone reports float32le at 48000 Hz whatever --mic-format
#             and --mic-rate say (the tone is fed in that format and converted); its channels
#             are as given.
# No sound card is used: the graph runs on PipeWire's built-in dummy driver. The command sees
# PULSE_SERVER pointing at pipewire-pulse and nothing of a user's own server, and
# VELTRANE_SOUND_SERVER=pipewire and VELTRANE_SOUND_SERVER_PID (SIGTERM ends pipewire-pulse), and
# VELTRANE_SOUND_SERVER_RESTART (starts a stopped pipewire-pulse again with its devices).
# Exits with the command's status (or 90 when the stack could not be brought up).

set -u

tool=with-pipewire
runtime_prefix=veltrane-pipewire
source "$(dirname "${BASH_SOURCE[0]}")/sound-server-common.sh"

export PIPEWIRE_RUNTIME_DIR=$runtime

# The session manager looks for nothing but the virtual devices: no sound cards, cameras or
# Bluetooth devices of the machine.
mkdir -p "$runtime/config/wireplumber/main.lua.d" "$runtime/config/wireplumber/bluetooth.lua.d" \
    "$runtime/config/pipewire/pipewire.conf.d"
# The graph runs in blocks of at least 1024 frames (21 ms), as on a desktop, so the keep-alives'
# 10 ms requests do not shrink it to a size a loaded machine cannot keep up with.
cat >"$runtime/config/pipewire/pipewire.conf.d/51-veltrane-quantum.conf" <<CONF
context.properties = {
    default.clock.quantum = 1024
    default.clock.min-quantum = 1024
}
CONF
cat >"$runtime/config/wireplumber/main.lua.d/51-veltrane-virtual-only.lua" <<LUA
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
LUA
cat >"$runtime/config/wireplumber/bluetooth.lua.d/51-veltrane-virtual-only.lua" <<LUA
bluez_monitor.enabled = false
LUA

# WirePlumber needs a session bus; without one no stream ever starts.
start_server_process dbus dbus-daemon --session --nofork --nopidfile --address="unix:path=$runtime/bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus
start_server_process pipewire pipewire
for _ in $(seq 1 200); do
    [ -S "$runtime/bus" ] && [ -S "$runtime/pipewire-0" ] && break
    server_processes_alive || break
    sleep 0.05
done
[ -S "$runtime/bus" ] && [ -S "$runtime/pipewire-0" ] || fail_to_come_up
start_server_process wireplumber wireplumber
start_server_process pipewire-pulse pipewire-pulse
write_restart_script pipewire-pulse load pipewire-pulse

load_virtual_devices
wait_for_virtual_devices
export VELTRANE_SOUND_SERVER=pipewire
export VELTRANE_SOUND_SERVER_PID=${server_pids[3]}
run_command
