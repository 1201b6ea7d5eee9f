#!/usr/bin/env bash
# The real tamberly.exe under Wine on a virtual X display, driven with xdotool:
#   window_e2e_test.sh BIN_FOLDER LISTSERVER SCREENSHOT_FOLDER
# Needs WINEPREFIX and DISPLAY from scripts/test-windows (a prefix whose windows are unmanaged); exits 77 (skipped)
# without them or without the list server.
set -euo pipefail
bin=$1 listserver=$2 shots=$3
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] && [ -x "$listserver" ] || {
    echo "skipped: needs scripts/test-windows (WINEPREFIX, DISPLAY) and the list server $listserver"
    exit 77
}
export WINEDEBUG=-all
work=$(mktemp -d)
mkdir -p "$shots"
rm -f "$shots"/*.png
server= silent= other=
cleanup() {
    local status=$?
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ -z "$silent" ] || kill "$silent" 2>/dev/null || true
    [ -z "${app:-}" ] || kill "$app" 2>/dev/null || true
    [ -z "$other" ] || kill "$other" 2>/dev/null || true
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    import -window root "$shots/failure.png" 2>/dev/null || true
    exit 1
}
windows_path() { echo "Z:${1//\//\\}"; }
settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
reg_value() { wine reg query "$settings" /v "$1" 2>/dev/null | awk -v name="$1" '$1 == name { $1 = $2 = ""; sub(/^ +/, ""); print }' | tr -d '\r'; }
wait_for() { # seconds, command...
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
running() { kill -0 "$app" 2>/dev/null; }
stopped() { ! running; }
# What the window shows, read from outside by a program of its own: status, rows or selected.
probe() { wine "$bin/tamberly_window_probe.exe" "$1" 2>/dev/null | tr -d '\r'; }
shows() { [ "$(probe "$1")" = "$2" ]; }
status_starts() { case "$(probe status)" in "$1"*) return 0 ;; *) return 1 ;; esac; }
start() {
    wine "$work/app/tamberly.exe" >/dev/null 2>&1 &
    app=$!
    wait_for 30 visible '^Tamberly$' || fail "the window did not appear"
    sleep 0.5
}
# The window's outer size, "WIDTHxHEIGHT", and where "Use and launch" is: below the list, where it is from the centre.
window_size() { xdotool search --onlyvisible --name '^Tamberly$' getwindowgeometry | sed -n 's/.*Geometry: //p' | head -1; }
windows_shown() { xdotool search --onlyvisible --name '^Tamberly$' 2>/dev/null | wc -l; }
click_use_and_launch() {
    local size width height
    size=$(window_size)
    width=${size%x*} height=${size#*x}
    xdotool mousemove $((147 + (width - 306) / 2)) $((204 + height - 255)) click 1
}
quit_app() {
    # A busy machine may take the key before the click has focused the window: press it again until it lands.
    for _ in 1 2 3; do
        xdotool mousemove 80 80 click 1
        sleep 0.5
        xdotool key ctrl+q
        wait_for 10 stopped && return 0
    done
    fail "Ctrl+Q did not end the program"
}

# The list server on a port of its own choice, with two entries published.
printf 'served.example:8000*other.example:9000*' >"$work/list.txt"
"$listserver" import "$work/list.txt" --db "$work/list.db" >/dev/null
"$listserver" serve --listen 127.0.0.1:0 --db "$work/list.db" >"$work/server.out" 2>&1 &
server=$!
wait_for 10 grep -q 'listening on' "$work/server.out" || fail "the list server did not start"
url="http://$(sed -n 's/^listening on //p' "$work/server.out" | head -1)"

# A portable copy: the program, a browser that records its start, and a classic prefs.ini beside them.
mkdir -p "$work/app"
cp "$bin/tamberly.exe" "$work/app/"
cp "$bin/tamberly_windows_helper.exe" "$work/app/browser.exe"

# The first start, with nothing stored: the empty list says in grey where the rows come from, and the status line is
# empty.
start
shows rows 0 || fail "a first start shows $(probe rows) rows"
shows status '' || fail "a first start's status line says '$(probe status)'"
[ "$(window_size)" = 306x255 ] || fail "a first start's window is $(window_size), not the written size"
import -window root "$shots/0-first-start.png"
quit_app
wine "$bin/tamberly_prefs_writer.exe" "$(windows_path "$work/app/prefs.ini")" "$url" \
    "$(windows_path "$work/app/browser.exe")" 'first.example:8080' 'second.example:3128' 'third & co:1' ||
    fail "cannot write prefs.ini"
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 0 /f >/dev/null 2>&1

# The stored list fills the window; the second row and "Use and launch" put it in force and start the browser.
start
shows rows 3 || fail "the window shows $(probe rows) rows of the stored 3"
import -window root "$shots/1-started.png"
xdotool mousemove 80 93 click 1
sleep 0.3
shows selected 1 || fail "the click on the second row selected row $(probe selected)"
xdotool mousemove 147 204 click 1
wait_for 20 test -f "$work/app/started.txt" || fail "the browser was not started"
grep -qi 'browser.exe' "$work/app/started.txt" || fail "another program was started: $(cat "$work/app/started.txt")"
[ "$(reg_value ProxyServer)" = "second.example:3128" ] || fail "ProxyServer is '$(reg_value ProxyServer)'"
[ "$(reg_value ProxyEnable)" = "0x1" ] || fail "ProxyEnable is '$(reg_value ProxyEnable)'"
shows status 'Proxy changed to : second.example:3128' || fail "the status line says '$(probe status)'"
import -window root "$shots/2-use-and-launch.png"

# Enter and a double click on a row do what the button does.
for way in Enter 'double click'; do
    rm -f "$work/app/started.txt"
    wine reg add "$settings" /v ProxyServer /d none:1 /f >/dev/null 2>&1
    if [ "$way" = Enter ]; then
        xdotool mousemove 80 80 click 1
        sleep 0.3
        xdotool key Return
    else
        xdotool mousemove 80 80 click --repeat 2 --delay 80 1
    fi
    wait_for 20 test -f "$work/app/started.txt" || fail "$way on a row did not start the browser"
    [ "$(reg_value ProxyServer)" = "first.example:8080" ] || fail "after $way ProxyServer is '$(reg_value ProxyServer)'"
done

# Delete on a row asks whether to report it; No sends nothing.
xdotool mousemove 80 80 click 1
sleep 0.3
xdotool key Delete
wait_for 10 visible '^Dead Proxy$' || fail "Delete on a row did not ask to report it"
sleep 0.3
xdotool key n
wait_for 10 eval '! visible "^Dead Proxy$"' || fail "the question stayed after No"

# A row that is not a proxy address is never put in force: the status line says why, and nothing is written or
# started.
rm -f "$work/app/started.txt"
xdotool mousemove 80 106 click 1
sleep 0.3
shows selected 2 || fail "the click on the third row selected row $(probe selected)"
xdotool mousemove 147 204 click 1
wait_for 10 status_starts '"third & co:1" is not a proxy address (' ||
    fail "after the row that is not a proxy the status line says '$(probe status)'"
# The whole reason shows in the line, the window widening for it.
[ "$(window_size)" != 306x255 ] || fail "the window did not widen for the long status text"
sleep 0.5
import -window root "$shots/3-not-a-proxy.png"
sleep 1
[ ! -e "$work/app/started.txt" ] || fail "a browser was started for a row that is not a proxy"
[ "$(reg_value ProxyServer)" = "first.example:8080" ] || fail "ProxyServer became '$(reg_value ProxyServer)'"
[ "$(reg_value ProxyEnable)" = "0x1" ] || fail "ProxyEnable became '$(reg_value ProxyEnable)'"

# "Proxy", "Download List" against the real server stores the list and shows it; Alt+P opens the menu and L picks
# the item.
before=$(md5sum <"$work/app/prefs.ini")
xdotool key alt+p
sleep 0.4
xdotool key l
prefs_changed() { [ "$(md5sum <"$work/app/prefs.ini")" != "$before" ]; }
wait_for 20 prefs_changed || fail "the downloaded list was not stored"
wait_for 10 shows status 'List downloaded from server.' || fail "after the download the status line says '$(probe status)'"
shows rows 2 || fail "the window shows $(probe rows) rows of the 2 downloaded"
sleep 0.5
import -window root "$shots/4-downloaded.png"
rm -f "$work/app/started.txt"
xdotool mousemove 80 80 click 1
sleep 0.3
click_use_and_launch
wait_for 20 test -f "$work/app/started.txt" || fail "the browser was not started after the download"
[ "$(reg_value ProxyServer)" = "served.example:8000" ] || fail "the first row after the download is '$(reg_value ProxyServer)'"

# "Proxy", "Add a new proxy": the entry typed into the input box, Enter for OK and Enter again for the question's
# default, Yes, sends it to the server, which publishes it.
xdotool mousemove 59 32 click 1
sleep 0.4
xdotool key a
wait_for 10 visible '^Add a proxy$' || fail "no input box for the new proxy"
sleep 0.3
xdotool type --delay 30 'new.example:8888'
xdotool key Return
wait_for 10 visible '^New Proxy$' || fail "no question before sending the new proxy"
sleep 0.3
import -window root "$shots/5-add-proxy.png"
xdotool key Return
wait_for 20 shows status 'Thanks, Proxy Submitted !' || fail "after sending the new proxy the status line says '$(probe status)'"
"$listserver" export --db "$work/list.db" | grep -q 'new.example:8888' || fail "the server did not publish the new proxy"

# Ctrl+Q ends the process.
quit_app

# The window is made larger by a drag of its corner; the size is written when the drag ends and it opens at it next
# time, the list taking the room.
wine "$bin/tamberly_prefs_writer.exe" "$(windows_path "$work/app/prefs.ini")" "$url" \
    "$(windows_path "$work/app/browser.exe")" 'first.example:8080' 'second.example:3128' 'third & co:1' ||
    fail "cannot write prefs.ini"
start
size=$(window_size)
width=${size%x*} height=${size#*x}
before=$(md5sum <"$work/app/prefs.ini")
xdotool mousemove $((width - 2)) $((height - 2)) mousedown 1 mousemove $((width + 60)) $((height + 40)) sleep 0.3 \
    mousemove $((width + 148)) $((height + 98)) sleep 0.3 mouseup 1
dragged="$((width + 150))x$((height + 100))"
wait_for 10 prefs_changed || fail "the size was not written after the drag"
[ "$(window_size)" = "$dragged" ] || fail "the drag made the window $(window_size), not $dragged"
xdotool mousemove 80 106 click 1
sleep 0.3
xdotool key Return
wait_for 10 status_starts '"third & co:1" is not a proxy address (' || fail "Enter on the third row: '$(probe status)'"
sleep 0.5
import -window root "$shots/9-larger.png"
quit_app
start
[ "$(window_size)" = "$dragged" ] || fail "the window opened at $(window_size), not the $dragged it was given"

# One program per settings folder: a later start brings the hidden window back and ends at once with 0, also when
# it names the folder in other letters; a copy with settings of its own is a program of its own.
xdotool mousemove 19 32 click 1
sleep 0.4
xdotool mousemove 35 69 click 1
wait_for 10 eval '! visible "^Tamberly$"' || fail "the window was not hidden"
upper=$(windows_path "$work/app/TAMBERLY.EXE" | tr '[:lower:]' '[:upper:]')
for program in "$(windows_path "$work/app/tamberly.exe")" "$upper"; do
    code=0
    timeout 30 wine "$program" >/dev/null 2>&1 || code=$?
    [ "$code" = 0 ] || fail "the later start $program ended with $code"
    wait_for 10 visible '^Tamberly$' || fail "the later start $program did not bring the window back"
    running || fail "the first program ended"
    [ "$(windows_shown)" = 1 ] || fail "$(windows_shown) windows after the later start $program"
    xdotool mousemove 19 32 click 1
    sleep 0.4
    xdotool mousemove 35 69 click 1
    wait_for 10 eval '! visible "^Tamberly$"' || fail "the window was not hidden again"
done
mkdir -p "$work/other"
cp "$bin/tamberly.exe" "$work/other/"
wine "$work/other/tamberly.exe" >/dev/null 2>&1 &
other=$!
wait_for 30 visible '^Tamberly$' || fail "a copy with its own settings did not open its window"
sleep 1
kill -0 "$other" 2>/dev/null || fail "a copy with its own settings ended"
[ -f "$work/other/prefs.ini" ] || fail "the other copy did not use its own settings"
xdotool key ctrl+q
wait_for 10 eval '! kill -0 "$other" 2>/dev/null' || fail "Ctrl+Q did not end the other copy"
other=
wine "$work/app/tamberly.exe" >/dev/null 2>&1 || fail "the last later start failed"
wait_for 10 visible '^Tamberly$' || fail "the last later start did not bring the window back"
quit_app

# "Hide" puts the icon in the notification area; a double click brings the window back; the icon's pop-up offers
# the three commands, of which "No proxy and launch" switches the proxy off and "Quit" ends the program.
start
hide() {
    xdotool mousemove 19 32 click 1
    sleep 0.4
    xdotool mousemove 35 69 click 1
}
hide
wait_for 10 visible 'Wine System Tray' || fail "no notification-area icon"
sleep 0.5
visible '^Tamberly$' && fail "the window was not hidden"
import -window root "$shots/6-hidden.png"
xdotool mousemove 12 31 click --repeat 2 --delay 80 1
wait_for 10 visible '^Tamberly$' || fail "a double click did not bring the window back"
hide
hidden() { ! visible '^Tamberly$'; }
wait_for 10 hidden || fail "the window was not hidden again"
rm -f "$work/app/started.txt"
xdotool mousemove 12 31 click 3
sleep 0.8
import -window root "$shots/7-popup.png"
xdotool mousemove 40 42 click 1
wait_for 20 test -f "$work/app/started.txt" || fail "\"No proxy and launch\" did not start the browser"
[ "$(reg_value ProxyEnable)" = "0x0" ] || fail "\"No proxy and launch\" left ProxyEnable at '$(reg_value ProxyEnable)'"
# On a busy machine the pop-up may open after the click meant for it: open it again until "Quit" lands.
for _ in 1 2 3; do
    xdotool mousemove 12 31 click 3
    sleep 1.5
    xdotool mousemove 40 75 click 1
    wait_for 10 stopped && break
done
stopped || fail "the pop-up's \"Quit\" did not end the program"

# "File", "Start with the session" writes the Run key's value that starts this program hidden, and a second click
# removes it; a start with --hidden shows the icon and no window, and a later hidden start leaves it as it is.
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
run_value() { wine reg query "$run_key" /v Tamberly 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
start
xdotool key alt+f
sleep 0.4
xdotool key s
wait_for 10 eval '[ -n "$(run_value)" ]' || fail "\"Start with the session\" wrote no Run value"
[ "$(run_value)" = "\"$(windows_path "$work/app/tamberly.exe")\" --hidden" ] || fail "Run value '$(run_value)'"
xdotool key alt+f
sleep 0.4
xdotool key s
wait_for 10 eval '[ -z "$(run_value)" ]' || fail "a second \"Start with the session\" left '$(run_value)'"
quit_app
wine "$work/app/tamberly.exe" --hidden >/dev/null 2>&1 &
app=$!
wait_for 30 visible 'Wine System Tray' || fail "a hidden start put no icon in the notification area"
sleep 1
running || fail "the hidden start ended"
visible '^Tamberly$' && fail "a hidden start showed its window"
code=0
timeout 30 wine "$work/app/tamberly.exe" --hidden >/dev/null 2>&1 || code=$?
[ "$code" = 0 ] || fail "a later hidden start ended with $code"
sleep 1
visible '^Tamberly$' && fail "a later hidden start brought the window forward"
xdotool mousemove 12 31 click --repeat 2 --delay 80 1
wait_for 10 visible '^Tamberly$' || fail "a double click on the icon did not bring the hidden start's window"
quit_app

# While a request waits for a server that never answers, the window's keys still work: Ctrl+Q ends the program long
# before the request would give up.
wine "$bin/tamberly_silent_server.exe" >"$work/silent.out" 2>&1 &
silent=$!
wait_for 20 grep -q 'listening on' "$work/silent.out" || fail "the silent server did not start"
silent_url="http://$(sed -n 's/^listening on //p' "$work/silent.out" | tr -d '\r' | head -1)"
wine "$bin/tamberly_prefs_writer.exe" "$(windows_path "$work/app/prefs.ini")" "$silent_url" \
    "$(windows_path "$work/app/browser.exe")" 'first.example:8080' || fail "cannot write prefs.ini"
start
xdotool mousemove 59 32 click 1
sleep 0.4
xdotool key Down Return
wait_for 10 shows status 'Retreiving list, please wait ...' || fail "the download did not start: '$(probe status)'"
sleep 1
shows status 'Retreiving list, please wait ...' || fail "the download did not wait: '$(probe status)'"
import -window root "$shots/8-waiting.png"
xdotool mousemove 80 80 click 1
sleep 0.5
xdotool key ctrl+q
wait_for 10 stopped || fail "Ctrl+Q did not end the program while a request waited"
echo "passed; screenshots in $shots"
