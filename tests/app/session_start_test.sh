#!/usr/bin/env bash
# Started hidden with the session, on a real X display and a session bus of the test's own: the program shows no
# window, puts its icon in a notification area that is there already or that appears seconds later, and never quits
# for want of one.
set -euo pipefail
tamberly=$1 watcher=$2

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION QT_QPA_PLATFORMTHEME

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")

dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 >"$work/bus"
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
pids+=("$(sed -n 2p "$work/bus")")

watcher_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q 'boolean true'
}
visible_window() { xdotool search --onlyvisible --class Tamberly >/dev/null 2>&1; }
registered() { grep -q '^registered ' "$1" 2>/dev/null; }
wait_for() { # seconds, command...: a generous bound against a hang, not a measure
    local limit=$1; shift
    for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}

# The notification area there first, then one that appears while the program waits.
for tray_delay in 0 3; do
    rm -rf "$XDG_CONFIG_HOME"
    log=$work/registered-$tray_delay
    if [ "$tray_delay" = 0 ]; then
        "$watcher" >"$log" & watcher_pid=$!
        wait_for 10 watcher_on_bus || fail "the watcher did not claim its name"
    fi
    "$tamberly" --hidden & program=$!
    pids+=("$program")
    if [ "$tray_delay" != 0 ]; then
        sleep "$tray_delay"
        kill -0 "$program" 2>/dev/null || fail "the program quit with no notification area"
        visible_window && fail "a window was shown while waiting for a notification area"
        "$watcher" >"$log" & watcher_pid=$!
    fi
    pids+=("$watcher_pid")
    wait_for 30 registered "$log" || fail "no icon reached the notification area (tray after ${tray_delay} s)"
    sleep 0.5
    visible_window && fail "started hidden, yet a window is shown (tray after ${tray_delay} s)"
    kill -0 "$program" 2>/dev/null || fail "the program quit (tray after ${tray_delay} s)"
    kill "$program" "$watcher_pid"
    wait "$program" "$watcher_pid" 2>/dev/null || true
    echo "ok: tray after ${tray_delay} s: icon registered, no window"
done
