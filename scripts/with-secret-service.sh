#!/usr/bin/env bash
# Usage: scripts/with-secret-service.sh -- <command> [arguments...]
#
# Runs the command against a private Secret Service: a D-Bus session of its own with a fresh
# GNOME Keyring whose login keyring is created and unlocked with a throw-away password. The
# user's own session bus and keyring are never touched. Everything started here is stopped
# and every temporary folder removed when the command ends; the script exits with the
# command's status (124 when the time limit of VELTRANE_SECRET_SERVICE_TIMEOUT_S seconds,
# default 300, ran out; 125 when the Secret Service could not be started).
set -euo pipefail

if [[ $# -lt 2 || $1 != "--" ]]; then
    echo "usage: $0 -- <command> [arguments...]" >&2
    exit 2
fi
shift

for tool in dbus-run-session gnome-keyring-daemon gdbus timeout; do
    if ! command -v "$tool" >/dev/null; then
        echo "with-secret-service: $tool is not installed" >&2
        exit 125
    fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-secret-service.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/data" "$scratch/runtime" "$scratch/config" "$scratch/cache"

# A fresh keyring folder, and a runtime folder of our own so that gnome-keyring-daemon can
# never find (and unlock) a daemon of the user's real session.
export XDG_DATA_HOME=$scratch/data
export XDG_RUNTIME_DIR=$scratch/runtime
export XDG_CONFIG_HOME=$scratch/config
export XDG_CACHE_HOME=$scratch/cache
unset GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DISPLAY WAYLAND_DISPLAY
export VELTRANE_PRIVATE_SECRET_SERVICE=1

# Runs inside the private session: starts the keyring, waits until it owns its bus name, runs
# the command, then stops the keyring.
inner='
keyring_log=$XDG_RUNTIME_DIR/gnome-keyring.log
printf %s test-pw | gnome-keyring-daemon --foreground --unlock --components=secrets >"$keyring_log" 2>&1 &
keyring_pid=$!
trap '\''kill "$keyring_pid" 2>/dev/null; wait "$keyring_pid" 2>/dev/null'\'' EXIT
ready=no
for _ in $(seq 200); do
    if gdbus call --session --timeout 2 --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null | grep -q true; then
        ready=yes
        break
    fi
    kill -0 "$keyring_pid" 2>/dev/null || break
    sleep 0.05
done
if [ "$ready" != yes ]; then
    echo "with-secret-service: gnome-keyring-daemon did not start:" >&2
    cat "$keyring_log" >&2
    exit 125
fi
"$@"
'

set +e
timeout --kill-after=10 "${VELTRANE_SECRET_SERVICE_TIMEOUT_S:-300}" \
    dbus-run-session -- bash -c "$inner" with-secret-service "$@"
status=$?
set -e
exit "$status"
