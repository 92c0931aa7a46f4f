#!/usr/bin/env bash
# Plays a sine tone on the private test server's output device as a named program:
#   scripts/play-tone.sh FREQ SECONDS CLIENTNAME
# The playing program (pacat) reports CLIENTNAME as its application name.
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 FREQ SECONDS CLIENTNAME" >&2
    exit 2
fi
freq=$1
seconds=$2
client=$3
limit=$(( ${seconds%.*} + 15 ))
timeout "$limit" sox -q -n -t raw -r 48000 -c 2 -e floating-point -b 32 - synth "$seconds" sine "$freq" gain -10 |
    timeout "$limit" pacat -d virt_out --format=float32le --rate=48000 --channels=2 --latency-msec=20 \
        --client-name="$client"
