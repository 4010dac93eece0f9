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

# Where registration writes, in both views: the classes root (the 32-bit
# view is its Wow6432Node). Exporting it alone takes a fraction of the time
# the whole registry takes.
classes_root='HKEY_LOCAL_MACHINE\Software\Classes'
# An export that failed would pass for an empty one: it is counted at the end.
export_classes() {
    rm -f "$work/classes.reg"
    /usr/lib/wine/wine64 regedit /E "$(windows_path "$work")\\classes.reg" "$classes_root" >/dev/null 2>&1
    [ -s "$work/classes.reg" ] || touch "$work/export-failed"
    iconv -f UTF-16 -t UTF-8 "$work/classes.reg" 2>/dev/null | tr -d '\r'
}

keys_of_ours() {
    export_classes | grep -iE "$ours" || true
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

# An upgrade in place: the DLL registered over what DLLs of the earlier
# libraries (1.0 as first published, then 1.1) wrote at the same path,
# their library keys and the interface keys naming them. Only the current
# version may stay registered; an earlier one goes with the last
# architecture that registered it.
library_block=$(awk '/^\[/ { block = "" } { block = block $0 "\n" } /^library / { print block; exit }' \
    "$source_dir/component/corvane.idl")
library_id=$(grep -oiE 'uuid\([0-9A-F-]+\)' <<<"$library_block" | sed -E 's/uuid\((.*)\)/\1/')
current_version=$(grep -oE 'version\([0-9]+\.[0-9]+\)' <<<"$library_block" | sed -E 's/version\((.*)\)/\1/')
[ -n "$library_id" ] && [ -n "$current_version" ] || fail "no library id or version in corvane.idl"
earlier_versions=(1.0 1.1)
for version in "${earlier_versions[@]}"; do
    [ "$current_version" != "$version" ] || fail "the library is still $version: nothing to upgrade from"
done
# Every interface each earlier library published, as its DLL registered them.
declare -A published_interfaces=(
    [1.0]="B9E85846-C4B7-4F3A-9610-65490D9E306D=_FTP 13B1519D-6F0E-4244-B8C7-D56C0077F58B=_FTPFile
           F4C0DBFB-9CA6-4747-A5AD-9ABB688E2CB0=_FTPFiles 207F54F0-0795-4CA2-A9A1-737A1B25839C=_HTTP
           0596F2FA-7363-4E42-93AE-1AE60022B7CA=_HTTPHeader 61217BE1-D236-4395-A611-0A1D95B06960=_HTTPHeaders"
)
published_interfaces[1.1]="${published_interfaces[1.0]} 8CF78D15-5304-49BE-AF35-3ED057A78A37=_HTTP2"
declare -A syskinds=([x86]=win32 [x64]=win64)

plant_earlier() {  # arch version
    local arch=$1 version=$2 dll=${dlls[$1]} roots=('HKEY_CLASSES_ROOT\Interface') root entry
    # The 64-bit registration writes the interface keys into both views.
    [ "$arch" = x64 ] && roots+=('HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\Interface')
    {
        printf 'REGEDIT4\n\n[HKEY_CLASSES_ROOT\\TypeLib\\{%s}\\%s]\n@="corvane"\n\n' "$library_id" "$version"
        printf '[HKEY_CLASSES_ROOT\\TypeLib\\{%s}\\%s\\409\\%s]\n@="%s"\n\n' \
            "$library_id" "$version" "${syskinds[$arch]}" "${dll//\\/\\\\}"
        printf '[HKEY_CLASSES_ROOT\\TypeLib\\{%s}\\%s\\FLAGS]\n@="8"\n\n' "$library_id" "$version"
        dll=${dll%\\*}
        printf '[HKEY_CLASSES_ROOT\\TypeLib\\{%s}\\%s\\HELPDIR]\n@="%s"\n\n' "$library_id" "$version" "${dll//\\/\\\\}"
        for root in "${roots[@]}"; do
            for entry in ${published_interfaces[$version]}; do
                printf '[%s\\{%s}]\n@="%s"\n\n' "$root" "${entry%%=*}" "${entry#*=}"
                printf '[%s\\{%s}\\ProxyStubClsid]\n@="{00020424-0000-0000-C000-000000000046}"\n\n' "$root" "${entry%%=*}"
                printf '[%s\\{%s}\\ProxyStubClsid32]\n@="{00020424-0000-0000-C000-000000000046}"\n\n' "$root" "${entry%%=*}"
                printf '[%s\\{%s}\\TypeLib]\n@="{%s}"\n"Version"="%s"\n\n' "$root" "${entry%%=*}" "$library_id" "$version"
            done
        done
    } >"$work/earlier-$version-$arch.reg"
    "${loaders[$arch]}" regedit /S "$(windows_path "$work/earlier-$version-$arch.reg")"
}

plant_earlier_libraries() {  # arch
    for version in "${earlier_versions[@]}"; do plant_earlier "$1" "$version"; done
}

# Each key of ours on one line, with its values.
keys_with_values_of_ours() {
    export_classes |
        awk 'BEGIN { RS = ""; FS = "\n" } { $1 = $1; print }' | grep -iE "$ours" || true
}
library_key='\\typelib\\\{'"$library_id"'\}\\'

# What names an earlier version of the library: its key, or an interface's
# reference to it.
earlier_left() {
    keys_with_values_of_ours | grep -iE "${library_key}1\\.[01](\\\\|\\])|\"Version\"=\"1\\.[01]\"" || true
}

for arch in "${archs[@]}"; do plant_earlier_libraries "$arch"; done
planted=$(earlier_left)
[ "$(grep -ciE "${library_key}1\\.0\\]" <<<"$planted")" -ge 1 ] &&
    [ "$(grep -ciE "${library_key}1\\.1\\]" <<<"$planted")" -ge 1 ] &&
    [ "$(grep -c '"Version"="1.1"' <<<"$planted")" -ge 7 ] && ok "1.0 and 1.1 registrations planted" ||
    fail "planting the 1.0 and 1.1 registrations left no library keys or interface keys naming them"
for arch in "${archs[@]}"; do
    register "$arch" && ok "$arch registers over 1.0 and 1.1" || fail "$arch regsvr32 over 1.0 and 1.1"
    for other in "${archs[@]}"; do
        [ "$other" = "$arch" ] && continue
        # Registered already, or still the old one that keeps its old key.
        keys_of_ours | grep -qiE "${library_key}[0-9a-f.]+\\\\409\\\\${syskinds[$other]}\\]" &&
            ok "$other keeps its registration while $arch upgrades" || fail "$arch took $other's registration away"
    done
done
left=$(earlier_left)
[ -z "$left" ] && ok "only $current_version registered after the upgrade" || fail "an earlier version left after the upgrade:
$left"
[ "$(keys_with_values_of_ours | grep -ciE "\"Version\"=\"${current_version//./\\.}\"")" -ge 8 ] &&
    ok "interface keys name $current_version" || fail "interface keys do not name $current_version"
for arch in "${archs[@]}"; do
    creates "$arch" && ok "$arch script creates FTP after the upgrade" || fail "$arch cannot create after the upgrade"
done
unregister_in_order "${archs[@]}"

# Earlier registrations found at unregistration go with it as well.
for arch in "${archs[@]}"; do register "$arch" && plant_earlier_libraries "$arch"; done
unregister_in_order "${archs[@]}"

for arch in "${archs[@]}"; do register "$arch" || fail "$arch registers for the tests that follow"; done

[ -e "$work/export-failed" ] && fail "an export of $classes_root failed"
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
