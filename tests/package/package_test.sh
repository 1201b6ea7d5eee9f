#!/usr/bin/env bash
# The Debian packages, made by cpack from this build's own programs (as make package makes them from its Release
# build), checked as they ship: contents against tests/package/*.contents, control fields, the desktop file, the
# AppStream metainfo, hardening, lintian; then installed, upgraded over themselves, removed and purged in a throwaway
# root where this machine can make one (throwaway_root.sh), else only unpacked with dpkg -x. Prints which ran.
#   package_test.sh BUILD_DIR
# Exits 77 (skipped) without dpkg-deb, and in the sanitizer build, whose programs are not the ones that ship.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
skip() {
    echo "skipped: $*"
    exit 77
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
command -v dpkg-deb >/dev/null || skip "no dpkg-deb here: the packages are Debian packages"
case "${TAMBERLY_SANITIZED_BUILD:-0}" in 1) skip "sanitizer build: the plain build's run checks the packages" ;; esac
for tool in cpack dpkg-shlibdeps dpkg-parsechangelog desktop-file-validate appstreamcli lintian readelf; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tamberly-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
# lintian leaves files of its own in TMPDIR: here they go with the rest.
mkdir "$work/tmp"
export TMPDIR=$work/tmp

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
app=$work/out/tamberly_${version}_${arch}.deb
server=$work/out/tamberly-listserver_${version}_${arch}.deb
[ -f "$app" ] && [ -f "$server" ] ||
    fail "cpack made $(cd "$work/out" && echo *.deb), not $(basename "$app") and $(basename "$server")"

# Contents: every path with its mode and owner, so that a lost file, a stray one or a wrong mode shows in the diff.
for deb in "$app" "$server"; do
    name=$(dpkg-deb -f "$deb" Package)
    diff -u "$here/$name.contents" <(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }') ||
        fail "$name: the contents differ from tests/package/$name.contents (-: expected, +: built)"
done

# Control fields. The desktop package gets what it loads at run time, and never the server's libraries; the server
# package gets those, and never Qt.
# (grep -q reads from variables here: in a pipe it would stop early, and pipefail would count the writer's SIGPIPE.)
depends_on() { # deb, package: a whole name in Depends, alone or as an alternative
    grep -qx "$2" <<<"$(dpkg-deb -f "$1" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')"
}
for need in qt6-qpa-plugins libcurl4 gsettings-desktop-schemas dconf-gsettings-backend libqt6widgets6 libc6; do
    depends_on "$app" "$need" || fail "tamberly does not depend on $need: $(dpkg-deb -f "$app" Depends)"
done
# libcurl: the check engine that --verify shares with the desktop program, loaded when the server starts.
for need in libpq5 libsqlite3-0 libcurl4 libc6; do
    depends_on "$server" "$need" ||
        fail "tamberly-listserver does not depend on $need: $(dpkg-deb -f "$server" Depends)"
done
! grep -Eq 'libpq|libsqlite|libboost' <<<"$(dpkg-deb -f "$app" Depends)" ||
    fail "tamberly pulls in the server's libraries"
! grep -Eq 'libqt|libgio|libglib' <<<"$(dpkg-deb -f "$server" Depends)" ||
    fail "tamberly-listserver pulls in the desktop's libraries"
dpkg-deb -x "$app" "$work/tree"
dpkg-deb -x "$server" "$work/tree"
for deb in "$app" "$server"; do
    name=$(dpkg-deb -f "$deb" Package)
    for field in Maintainer Section Description; do
        [ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "$name has no $field"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        fail "$name: version $(dpkg-deb -f "$deb" Version), not $version"
    zcat "$work/tree/usr/share/doc/$name/changelog.gz" >"$work/changelog"
    logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
    [ "$logged" = "$version" ] ||
        fail "$name: packaging/debian/changelog's last entry is $logged, the project is $version"
done
dpkg-deb -e "$server" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/default/tamberly-listserver ] ||
    fail "tamberly-listserver's conffiles: $(cat "$work/control/conffiles")"

# The desktop file, and the metainfo together with the desktop file and icons it names. The one pedantic note
# appstreamcli has is about the upper-case letter of the application id, which stays as it is.
desktop=$work/tree/usr/share/applications/org.tamberly.Tamberly.desktop
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate-tree --pedantic --no-net "$work/tree" 2>&1) ||
    fail "appstreamcli validate-tree: $out"
notes=$(grep -E '^ *[EWIP]: ' <<<"$out" | grep -v 'cid-contains-uppercase-letter org.tamberly.Tamberly$' || true)
[ -z "$notes" ] || fail "appstreamcli validate-tree --pedantic: $notes"

# Hardening that lintian does not look at: the stack protector.
for exe in "$work"/tree/usr/bin/*; do
    grep -q '__stack_chk_fail' <<<"$(readelf --dyn-syms -W "$exe")" || fail "$(basename "$exe") has no stack protector"
done

# lintian: no error and no warning; among its notes, none about missing hardening (PIE and relro are warnings,
# bind-now and the checked functions of _FORTIFY_SOURCE only notes).
lintian --display-level '>=info' --tag-display-limit 0 "$app" "$server" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian found errors"; }
grep -E '^[EW]: |^I: .* hardening-' "$work/lintian.log" && fail "lintian: the lines above"
grep '^I: ' "$work/lintian.log" | sed 's/^/lintian note: /' || true
ran="contents, control fields, desktop-file-validate, appstreamcli, hardening, lintian"

# Install, upgrade over itself, remove and purge, where a throwaway root can be made.
why_not=
states=$(dpkg-query -W -f='${db:Status-Status} ' tamberly tamberly-listserver 2>/dev/null || true)
states=${states//not-installed/}
if [ "$(id -u)" -ne 0 ]; then
    why_not="needs root for a mount namespace"
elif ! command -v unshare >/dev/null; then
    why_not="no unshare"
elif [ -n "${states// /}" ]; then
    why_not="tamberly is installed on this machine"
fi
if [ -z "$why_not" ]; then
    rc=0
    unshare --mount --propagation private "$here/throwaway_root.sh" "$work/root" "$app" "$server" \
        >"$work/root.log" 2>&1 </dev/null || rc=$?
    case $rc in
        0) ran="$ran, install/upgrade/remove/purge in a throwaway root" ;;
        77) why_not=$(tail -n 1 "$work/root.log") ;;
        *) cat "$work/root.log"; fail "in the throwaway root" ;;
    esac
fi
[ -z "$why_not" ] || ran="$ran; no throwaway root ($why_not): the unpacked files only"
echo "passed: $ran"
