#!/usr/bin/env bash
# The build's layer check: the real tree passes, and an include planted in a lower room that climbs into a higher one
# stops it with the file's name; an include the other way does not.
#   layer_check_test.sh SOURCE_FOLDER
set -euo pipefail
source=$1
script="$source/cmake/layers.cmake"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

cmake -DROOT="$source/src" -P "$script" || fail "the real tree does not pass"

# room of the planted file | what it includes | whether the build must stop
cases=(
    "text/a.cpp|core/settings.h|stop"
    "core/a.h|platform/platform.h|stop"
    "core/a.cpp|commands/view.h|stop"
    "platform/a.h|commands/view.h|stop"
    "platform/linux/a.cpp|app/main_window.h|stop"
    "net/a.cpp|platform/linux/user_paths.h|stop"
    "commands/a.cpp|platform/windows/internet_settings.h|stop"
    "commands/a.cpp|app/app.h|stop"
    "app/a.cpp|app_win32/main_window.h|stop"
    "app_win32/a.cpp|platform/linux/user_paths.h|stop"
    "commands/a.cpp|platform/system_proxy.h|pass"
    "platform/windows/a.cpp|core/proxy_setting.h|pass"
    "app/a.cpp|commands/commands.h|pass"
)
for c in "${cases[@]}"; do
    IFS='|' read -r file include expect <<<"$c"
    rm -rf "$work/src" && mkdir -p "$work/src/$(dirname "$file")"
    printf '#pragma once\n  #  include "%s"\n' "$include" >"$work/src/$file"
    if output=$(cmake -DROOT="$work/src" -P "$script" 2>&1); then
        [ "$expect" = pass ] || fail "$file including $include passed"
    else
        [ "$expect" = stop ] || fail "$file including $include stopped the build: $output"
        grep -q "$file reaches up" <<<"$output" || fail "the message does not name $file: $output"
    fi
done
echo "layer check: ${#cases[@]} planted includes judged as expected"
