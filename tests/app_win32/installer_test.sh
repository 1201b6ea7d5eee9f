#!/usr/bin/env bash
# The installer under Wine, silent: installs (Start-menu entry, optional start with Windows), the installed program
# starts, and the uninstaller removes all it added.  installer_test.sh SETUP_EXE
# Needs WINEPREFIX and DISPLAY from scripts/test-windows; exits 77 (skipped) without them or without the installer.
set -euo pipefail
setup=$1
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] && [ -f "$setup" ] || {
    echo "skipped: needs scripts/test-windows (WINEPREFIX, DISPLAY) and $setup (make windows)"
    exit 77
}
export WINEDEBUG=-all
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
wait_for() { # seconds, command...
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}
unix_path() { winepath -u "$1" 2>/dev/null; }
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamberly'

# NSIS takes /D= unquoted, and Wine quotes an argument with blanks: a folder without any.
folder='C:\TamberlyInstallerTest'
dir=$(unix_path "$folder")
menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tamberly')
rm -rf "$dir"

wine "$setup" /S /STARTUP=1 "/D=$folder" || fail "the installer failed"
for f in tamberly.exe README.txt uninstall.exe; do
    [ -f "$dir/$f" ] || fail "not installed: $f"
done
[ -f "$menu/Tamberly.lnk" ] || fail "no Start-menu entry in $menu"
wine reg query "$run_key" /v Tamberly 2>/dev/null | grep -qi 'tamberly.exe" --hidden' || fail "no start-with-Windows entry, started hidden"
wine reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 || fail "not registered for uninstalling"

# The installed program starts and shows its window.
wine "$dir/tamberly.exe" >/dev/null 2>&1 &
app=$!
started() { xdotool search --onlyvisible --name '^Tamberly$' >/dev/null 2>&1; }
wait_for 30 started || fail "the installed program did not start"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
wineserver_settle() { ! pgrep -f 'TamberlyInstallerTest.tamberly.exe' >/dev/null; }
wait_for 10 wineserver_settle || true
rm -f "$dir/prefs.ini" # the program's only file there: its lock is no file

# The uninstaller copies itself away and returns at once: wait for it to finish its work.
wine "$dir/uninstall.exe" /S || fail "the uninstaller failed"
gone() { [ ! -e "$dir" ] && [ ! -e "$menu" ]; }
wait_for 30 gone || fail "left behind: $(ls -A "$dir" "$menu" 2>&1 | tr '\n' ' ')"
! wine reg query "$run_key" /v Tamberly >/dev/null 2>&1 || fail "the start-with-Windows entry stayed"
! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry stayed"

# Without the option there is no start-with-Windows entry.
wine "$setup" /S "/D=$folder" || fail "the installer failed"
! wine reg query "$run_key" /v Tamberly >/dev/null 2>&1 || fail "start with Windows was not asked for"
wine "$dir/uninstall.exe" /S
wait_for 30 gone || fail "the second uninstall left things behind"
echo passed
