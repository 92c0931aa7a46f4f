#!/usr/bin/env bash
# Plays a sine tone on the private test server's output device as a named program:
#   scripts/play-tone.sh FREQ SECONDS CLIENTNAME
# The playing program (pacat) reports CLIENTNAME as its application name. It keeps
# VELTRANE_TONE_LATENCY_MS (default 20) of audio buffered; a player with little buffered skips
# when every core is busy.
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 FREQ SECONDS CLIENTNAME" >&2
    exit 2
fi
freq=$1
seconds=$2
client=$3
latency=${VELTRANE_TONE_LATENCY_MS:-20}
limit=$(( ${seconds%.*} + 15 ))
# --foreground keeps the player in the caller's process group (timeout otherwise makes one of its
# own), so that stopping that group stops the tone.
timeout --foreground "$limit" sox -q -n -t raw -r 48000 -c 2 -e floating-point -b 32 - synth "$seconds" sine "$freq" gain -10 |
    timeout --foreground "$limit" pacat -d virt_out --format=float32le --rate=48000 --channels=2 --latency-msec="$latency" \
        --client-name="$client"
