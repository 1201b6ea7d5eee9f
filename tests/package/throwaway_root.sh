#!/usr/bin/env bash
# Installs, upgrades over itself, removes and purges the packages in a throwaway root: an overlay of this machine's
# root whose writes all go to a tmpfs. Runs in a mount namespace of its own (unshare --mount), so the overlay and
# the tmpfs vanish with it; the real files and the real package database are never written. What the packages
# leave behind after the purge is exactly what the tmpfs then holds, apart from dpkg's and the triggers' own files.
#   throwaway_root.sh WORK APP_DEB SERVER_DEB
# Exits 77, with the reason as its last line, when this machine cannot make such a root.
set -euo pipefail
work=$1 app=$2 server=$3
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
cannot() {
    echo "$*"
    exit 77
}
layers=$work/layers root=$work/root
mkdir -p "$layers" "$root"
mount -t tmpfs -o mode=0755 tamberly-test "$layers" 2>/dev/null || cannot "cannot mount a tmpfs"
mkdir "$layers/upper" "$layers/work"
mount -t overlay tamberly-test -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" "$root" 2>/dev/null ||
    cannot "no overlay file system here"
# Every step below writes into $root only: make sure it is the overlay before dpkg runs.
[ "$(findmnt -n -o FSTYPE --mountpoint "$root")" = overlay ] || fail "$root is not the overlay"
[ -x "$root/usr/bin/dpkg" ] && [ -x "$root/bin/sh" ] || cannot "/usr is not on the root file system"
mount --bind /dev "$root/dev"
mount -t proc proc "$root/proc"

log=$work/dpkg.log
in_dpkg() {
    echo "== dpkg $*" >>"$log"
    dpkg --root="$root" "$@" </dev/null >>"$log" 2>&1 || { cat "$log"; fail "dpkg $*"; }
}
exists() { [ -e "$root$1" ] || [ -L "$root$1" ]; }
programs=(/usr/bin/tamberly /usr/bin/tamberly-check /usr/bin/tamberly-listserver
          /lib/systemd/system/tamberly-listserver.service)
options=/etc/default/tamberly-listserver
wants=/etc/systemd/system/multi-user.target.wants/tamberly-listserver.service
db=/var/lib/tamberly-listserver/listserver.db
private=/var/lib/private/tamberly-listserver

in_dpkg -i "$app" "$server"
for f in "${programs[@]}" "$options"; do exists "$f" || fail "not installed: $f"; done
[ -L "$root$wants" ] || fail "the service was not enabled"

# The service's state as systemd keeps it under DynamicUser=, with a list written by the installed server itself;
# and the admin's own options.
mkdir -p "$root$private"
ln -s private/tamberly-listserver "$root/var/lib/tamberly-listserver"
echo 192.0.2.1:8080 | chroot "$root" tamberly-listserver import - --db "$db" >/dev/null
echo 'LISTSERVER_OPTIONS="--listen 127.0.0.1:8643"' >"$root$options"

in_dpkg -i "$app" "$server"
[ "$(chroot "$root" tamberly-listserver export --db "$db")" = '192.0.2.1:8080*' ] || fail "the upgrade lost the list"
grep -q 8643 "$root$options" || fail "the upgrade replaced the admin's $options"
[ -L "$root$wants" ] || fail "the upgrade disabled the service"

# Removing keeps the admin's choice to enable the service (the link), as it keeps the conffile; purging drops both.
in_dpkg -r tamberly tamberly-listserver
for f in "${programs[@]}"; do ! exists "$f" || fail "removing left $f"; done
[ -s "$root$private/listserver.db" ] && [ -L "$root/var/lib/tamberly-listserver" ] || fail "removing lost the database"
grep -q 8643 "$root$options" || fail "removing lost the admin's $options"

in_dpkg -P tamberly tamberly-listserver
! exists "$private" && ! exists /var/lib/tamberly-listserver || fail "purging kept the database"
! exists "$wants" || fail "purging kept the service enabled"

# Whatever is left in the upper layer is the packages' doing. Folders that the machine has too are only copied up;
# /var/lib/private is systemd's (made above for the state, as systemd would).
leftovers=$(cd "$layers/upper" && find . -mindepth 1 | sed 's|^\./||' | sort | while read -r p; do
    if [ -c "$p" ]; then
        echo "deleted from the machine: /$p"
    elif [ -d "$p" ] && [ ! -L "$p" ]; then
        [ -d "/$p" ] || [ "$p" = var/lib/private ] || echo "left behind: /$p/"
    else
        case $p in
            var/lib/dpkg/* | var/log/* | var/cache/man/* | usr/share/applications/mimeinfo.cache | \
                usr/share/icons/hicolor/icon-theme.cache) ;;
            *) echo "left behind: /$p" ;;
        esac
    fi
done)
[ -z "$leftovers" ] || fail "after the purge: $leftovers"
echo "installed, upgraded, removed and purged; nothing left behind"
