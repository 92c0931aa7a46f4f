#!/usr/bin/env bash
# The real window driven like a user under a virtual 1366×768 X display with a window manager
# (openbox, with 32 px kept free for a panel), against the stand-in server, a private sound
# server playing a tone and a private session bus with stand-ins for the notification service and
# the tray (run inside scripts/with-pulse.sh and xvfb-run). First run: the window opens inside the
# free area; sign in, click Record, record about 12 s in 5-second chunks into a folder set
# beforehand, check that every chunk reaches the server byte for byte; resize the window. Second
# run: the session and the size are restored; closing while recording keeps it going in the
# background, a second start brings the window back, "Stop and Quit" saves the last chunk, which
# is sent. Third run: uploads that fail for good make one grouped notification, from the window
# and from the background uploader.
#   window-end-to-end.sh BIN_DIR DEVSERVER SCRIPTS_DIR
bin=$1
devserver=$2
source "$(dirname "$0")/window-session.sh" "$devserver" e2e1
own_uploaders() { # the background uploaders the window started (other tests run the same binary)
    for pid in $(pgrep -f "$bin/veltrane-cli upload"); do
        grep -qzx "XDG_DATA_HOME=$XDG_DATA_HOME" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
    done
}
trap 'kill $(own_uploaders) 2>/dev/null; cleanup' EXIT
notes=$work/notifications.txt
: >"$notes"
start notifier /usr/bin/python3 "$(dirname "$0")/notification-service.py" "$notes"
wait_for 10 grep -q ready "$work/notifier.log" || fail "the stand-in notification service did not start"
# The window manager keeps the bottom 32 px free, as a panel would.
cat >"$work/openbox.xml" <<XML
<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>0</top><bottom>32</bottom><left>0</left><right>0</right></margins>
</openbox_config>
XML
start openbox openbox --config-file "$work/openbox.xml"
wait_for 10 bash -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window" || fail "openbox did not start"
export QT_QPA_PLATFORM=xcb # the test runner's offscreen platform would show nothing to xdotool
export VELTRANE_CHUNK_SECONDS=5
start tone bash "$3/play-tone.sh" 440 60 e2e-tone

start_window() {
    start "window$1" "$bin/veltrane-recorder"
    window=${pids[-1]}
    wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
    [ -n "$wid" ] || fail "no window appeared"
    xdotool windowfocus --sync "$wid"
    sleep 1 # the window settles into the free area once the frame is known
}
# The window with its frame as X Y WIDTH HEIGHT (the content's absolute place and size, widened
# by the frame extents the window manager reports).
geometry() {
    local info extents
    info=$(xwininfo -id "$wid")
    extents=$(xprop -id "$wid" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    read -r left right top bottom <<<"${extents:-0 0 0 0}"
    local x y w h
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/.*Width: *//p' <<<"$info")
    h=$(sed -n 's/.*Height: *//p' <<<"$info")
    echo "$((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))"
}
log_has() { grep -qF "$2" "$work/window$1.log"; }
queue_has() { grep -qF "$1" "$XDG_DATA_HOME/Veltrane/VeltraneRecorder/upload_queue.json"; }
server_has() { [ -n "$(find "$received" -name "$1")" ]; }

# First run: the window opens inside the free area; sign in with the keyboard (Return in the
# email field moves to the password).
start_window 1
read -r x y w h <<<"$(geometry)"
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1366 ] && [ $((y + h)) -le $((768 - 32)) ] ||
    fail "the window ($x $y ${w}x$h) is not inside the free area of 1366x736"
xdotool type --delay 30 "demo@veltrane.test"
xdotool key Return
xdotool type --delay 30 "demo-password"
xdotool key Return
wait_for 20 log_has 1 "authenticated as demo@veltrane.test" || fail "sign-in did not succeed"
wait_for 20 log_has 1 "active projects: 2" || fail "projects were not loaded after the sign-in"
sleep 1
xdotool key F1
wait_for 5 xdotool search --onlyvisible --name "^Help" || fail "F1 did not open the help"
xdotool key Escape
sleep 0.5
# The Record button sits in the bottom bar, right of the centre: a click there records.
w=$(xwininfo -id "$wid" | sed -n 's/.*Width: *//p')
h=$(xwininfo -id "$wid" | sed -n 's/.*Height: *//p')
xdotool mousemove --window "$wid" $((w / 2 + 56)) $((h - 26)) click 1
wait_for 10 log_has 1 "=== Start Recording ===" || fail "clicking Record did not start a recording"
sleep 12
xdotool key ctrl+r
wait_for 20 bash -c "ls '$chunks' | grep -q -- '-STOP\.m4a$'" || fail "the last chunk was not written"
count=$(ls "$chunks" | grep -c '\.m4a$')
[ "$count" -ge 3 ] || fail "expected at least 3 chunks of 5 s in 12 s, found $count"
for file in "$chunks"/*.m4a; do
    name=$(basename "$file")
    wait_for 30 queue_has "$name" || fail "$name was not queued"
    wait_for 30 server_has "$name" || fail "$name did not reach the server"
    cmp -s "$file" "$(find "$received" -name "$name")" || fail "$name differs on the server"
done
echo "first run: $count chunks recorded, queued and delivered byte for byte"
xdotool windowsize --sync "$wid" 520 600
xdotool windowmove --sync "$wid" 200 80
sleep 1
resized=$(geometry)
xdotool key ctrl+q
wait_for 20 bash -c "! kill -0 $window" || fail "the idle window did not quit on Ctrl+Q"
grep -q '^kSysSourceID=' "$XDG_CONFIG_HOME/Veltrane/VeltraneRecorder.ini" || fail "the picked source was not saved"

# Second run: the stored session leads straight to the main screen; quit while recording.
before=$(ls "$chunks" | wc -l)
start_window 2
wait_for 20 log_has 2 "active projects: 2" || fail "the session was not restored"
[ "$(geometry)" = "$resized" ] || fail "the window opened at $(geometry), not where it was left ($resized)"
sleep 1
xdotool key ctrl+r
wait_for 10 log_has 2 "=== Start Recording ===" || fail "Ctrl+R did not start the second recording"
sleep 3
# With a tray (the stand-in watcher), closing offers to keep recording in the background.
grep -q "^tray" "$notes" || fail "no status icon was registered with the tray"
xdotool key ctrl+q
sleep 1
xdotool key alt+k # "Keep Recording in Background"
wait_for 10 bash -c "! xdotool search --onlyvisible --pid $window" || fail "the window did not hide"
sleep 2
kill -0 "$window" && ! log_has 2 "=== Stop Recording Called ===" || fail "the recording ended when the window hid"
"$bin/veltrane-recorder" >/dev/null 2>&1 # a second start brings the window back
wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" | head -n 1)
[ -n "$wid" ] || fail "the hidden window did not come back"
xdotool windowfocus --sync "$wid"
xdotool key ctrl+q
sleep 1
xdotool key alt+s # "Stop and Quit"
wait_for 30 bash -c "! kill -0 $window" || fail "the window did not quit after the question"
last=$(ls -t "$chunks" | head -n 1)
[ "$(ls "$chunks" | wc -l)" -gt "$before" ] && [[ "$last" == *-STOP.m4a ]] || fail "no final chunk saved ($last)"
wait_for 30 server_has "$last" || fail "the final chunk $last was not sent after the window closed"
cmp -s "$chunks/$last" "$(find "$received" -name "$last")" || fail "$last differs on the server"
echo "second run: $last saved on quit and delivered by the background uploader"

# Third run: every upload fails; three jobs on their last attempt fail together and make one
# notification. The background uploader reports its own failures the same way.
no_uploader() { [ -z "$(own_uploaders)" ]; }
wait_for 30 no_uploader || fail "the background uploader did not end"
kill "$devserver_pid"
port=${VELTRANE_SERVER_URL##*:}
wait_for 10 bash -c "! kill -0 $devserver_pid"
start devserver2 "$devserver" --port "$port" --data "$received" --fail-uploads 100
wait_for 10 grep -q '^Listening on' "$work/devserver2.log" || fail "the failing stand-in server did not start"
queue=$XDG_DATA_HOME/Veltrane/VeltraneRecorder/upload_queue.json
last_try() { # a queue of the given chunk files, each on its last attempt
    local sep=""
    printf '['
    for name in "$@"; do
        printf '%s{"id":"%s","filename":"%s","projectId":"prj-alpha","createdAt":800000000,"state":"pending","progress":0,"attempts":5}' \
            "$sep" "$(cat /proc/sys/kernel/random/uuid | tr a-z A-Z)" "$name"
        sep=","
    done
    printf ']'
}
mapfile -t names < <(ls "$chunks" | head -n 3)
: >"$notes"
last_try "${names[@]}" >"$queue"
start_window 3
# The restarted server knows no session: sign in again, then the queue goes out.
wait_for 20 grep -q "GET /api/v1/auth/me 401" "$work/devserver2.log" || fail "the third window did not check its session"
sleep 1
xdotool type --delay 30 "demo@veltrane.test"
xdotool key Return
xdotool type --delay 30 "demo-password"
xdotool key Return
wait_for 20 log_has 3 "authenticated as demo@veltrane.test" || fail "the third sign-in did not succeed"
wait_for 30 grep -q "could not be uploaded" "$notes" || fail "no notification about the failed uploads"
sleep 3
[ "$(grep -c '^VeltraneRecorder' "$notes")" -eq 1 ] && grep -qP '^VeltraneRecorder\tco.brimfold.VeltraneRecorder\t3 chunks could not be uploaded\t' "$notes" ||
    fail "expected one notification about 3 chunks: $(cat "$notes")"
xdotool key ctrl+q
wait_for 20 bash -c "! kill -0 $window" || fail "the window did not quit"
: >"$notes"
last_try "${names[@]:0:2}" >"$queue"
"$bin/veltrane-cli" upload --wait --dir "$chunks" >"$work/uploader.log" 2>&1
[ "$(grep -c '^VeltraneRecorder' "$notes")" -eq 1 ] && grep -q $'\t2 chunks could not be uploaded\t' "$notes" ||
    fail "the background uploader did not report 2 failed chunks: $(cat "$notes")"
echo "third run: failed uploads reported once, grouped, by the window and the background uploader"
