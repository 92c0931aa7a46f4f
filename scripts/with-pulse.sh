#!/usr/bin/env bash
# Runs a command against a private PulseAudio daemon, then stops the daemon again.
#
#   scripts/with-pulse.sh [--mic-tone FREQ] [--mic-rate RATE] [--mic-format s16le|float32le]
#                         [--mic-channels N] -- <command...>
#
# The daemon lives in a fresh runtime directory of its own (so several instances can run side
# by side) and offers:
#   virt_out  a null output device "VirtualOutput", 48000 Hz stereo, the default output;
#   virt_out2 a second one, "VirtualOutput2" (a headset that may become the default);
#   virt_mic  with --mic-tone: a clock-paced virtual microphone "VirtualMic" (a null device
#             plus a remapped source on its monitor) that plays a sine tone of FREQ Hz.
# The command sees PULSE_SERVER pointing at the daemon and nothing of a user's own server, and
# VELTRANE_SOUND_SERVER=pulseaudio and VELTRANE_SOUND_SERVER_PID (SIGTERM ends the daemon), and
# VELTRANE_SOUND_SERVER_RESTART, a script that starts a stopped daemon again (it prints the new
# process id).
# Exits with the command's status (or 90 when the daemon could not be brought up).
# scripts/with-pipewire.sh offers the same on PipeWire.

set -u

tool=with-pulse
runtime_prefix=veltrane-pulse
source "$(dirname "${BASH_SOURCE[0]}")/sound-server-common.sh"

{
    echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$runtime/pulse/native"
    virtual_device_commands
} >"$runtime/daemon.pa"
server_command=(pulseaudio --daemonize=no --exit-idle-time=-1 --system=no --use-pid-file=no -n
    -F "$runtime/daemon.pa")
start_server_process pulseaudio "${server_command[@]}"
write_restart_script pulseaudio keep "${server_command[@]}"

wait_for_virtual_devices
export VELTRANE_SOUND_SERVER=pulseaudio
export VELTRANE_SOUND_SERVER_PID=${server_pids[0]}
run_command
