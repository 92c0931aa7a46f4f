#!/usr/bin/env bash
# The real window as a screen reader meets it: openbox, the accessibility bus (at-spi2-core) beside
# the session of window-session.sh and a tone playing; accessibility-walk.py signs in and checks
# the tree.
#   window-accessibility.sh RECORDER DEVSERVER SCRIPTS_DIR
source "$(dirname "$0")/window-session.sh" "$2" a11y1
start atspi /usr/libexec/at-spi-bus-launcher --launch-immediately
start openbox openbox
start tone bash "$3/play-tone.sh" 440 90 a11y-tone

QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start window "$1"
window=${pids[-1]}
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
[ -n "$wid" ] || fail "no window appeared"
xdotool windowfocus --sync "$wid"
timeout 120 /usr/bin/python3 "$(dirname "$0")/accessibility-walk.py" demo@veltrane.test demo-password ||
    fail "the accessibility walk failed"
# Once the chunk is delivered the window quits at once, with no uploads left to hand on.
wait_for 10 bash -c "find '$received' -name '*.m4a' | grep -q ."
xdotool key ctrl+q
wait_for 10 bash -c "! kill -0 $window" || fail "the window did not quit"
