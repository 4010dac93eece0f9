#!/usr/bin/env bash
# Registration in the test prefix, for every architecture this host can run
# whose DLL is built: regsvr32 writes what scripts need, and regsvr32 /u
# takes it all away again, also while another architecture stays registered
# (in either order). Leaves every such DLL registered for the tests that follow.
#   registration_test.sh <source dir>
set -uo pipefail
source_dir=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok $*"; }

declare -A loaders=([x86]=/usr/lib/wine/wine [x64]=/usr/lib/wine/wine64)
declare -A dlls=()
archs=()
for arch in x86 x64; do
    dll="$source_dir/dist/$arch/corvane.dll"
    if [ ! -f "$dll" ]; then
        echo "skip $arch: dist/$arch/corvane.dll not built"
    elif ! "${loaders[$arch]}" --version >/dev/null 2>&1; then
        echo "skip $arch: ${loaders[$arch]} does not run on this host"
    else
        archs+=("$arch")
        dlls[$arch]=$(windows_path "$dll")
    fi
done
[ ${#archs[@]} -gt 0 ] || { echo "FAIL no architecture to register"; exit 1; }

# Every id of ours: library, classes, interfaces, enumerations, ProgIDs.
ours=$(grep -oiE 'uuid\([0-9A-F-]+\)' "$source_dir/component/corvane.idl" | sed -E 's/uuid\((.*)\)/\1/' | paste -sd'|')
# ProgIDs as key names or values; not a path that happens to hold the word.
ours="$ours"'|^\[.*\\corvane\.[A-Za-z]+(\\[^]]*)?\]$|="corvane\.[A-Za-z]+"'

keys_of_ours() {
    /usr/lib/wine/wine64 regedit /E "$(windows_path "$work")\\all.reg" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$work/all.reg" | tr -d '\r' | grep -iE "$ours" || true
}

creates() {  # arch: whether a script of that architecture creates FTP
    printf 'On Error Resume Next\nSet f = CreateObject("corvane.FTP")\nIf Err.Number = 0 Then WScript.Echo f.Version Else WScript.Echo "error " & Err.Number\n' \
        > "$work/create.vbs"
    [ "$("${loaders[$1]}" cscript //nologo "$(windows_path "$work/create.vbs")" 2>/dev/null | tr -d '\r')" = "1.01.2" ]
}

register() { "${loaders[$1]}" regsvr32 /s "${dlls[$1]}"; }
unregister() { "${loaders[$1]}" regsvr32 /u /s "${dlls[$1]}"; }

nothing_left() {
    local left
    left=$(keys_of_ours)
    [ -z "$left" ] && ok "nothing of ours after $1" || fail "keys left after $1:
$left"
}

# Unregisters in the given order; each one leaves, the others stay usable.
unregister_in_order() {
    local remaining=("$@")
    for arch in "$@"; do
        remaining=("${remaining[@]:1}")
        unregister "$arch" && ok "$arch unregisters" || fail "$arch regsvr32 /u"
        creates "$arch" && fail "$arch still creates after /u" || ok "$arch no longer creates"
        for other in "${remaining[@]}"; do
            creates "$other" && ok "$other still creates after $arch left" || fail "$arch unregistration broke $other"
        done
    done
    nothing_left "unregistering $*"
}

for arch in "${archs[@]}"; do unregister "$arch"; done
nothing_left "unregistering everything"

for arch in "${archs[@]}"; do
    register "$arch" && ok "$arch registers" || fail "$arch regsvr32"
    creates "$arch" && ok "$arch script creates FTP" || fail "$arch script cannot create FTP"
done
keys_of_ours | grep -q 'InprocServer32' && ok "class keys written" || fail "no InprocServer32 keys"
unregister_in_order "${archs[@]}"

if [ ${#archs[@]} -gt 1 ]; then
    reversed=()
    for arch in "${archs[@]}"; do reversed=("$arch" "${reversed[@]}"); done
    for arch in "${archs[@]}"; do register "$arch" || fail "$arch registers again"; done
    unregister_in_order "${reversed[@]}"
fi

for arch in "${archs[@]}"; do register "$arch" || fail "$arch registers for the tests that follow"; done

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
