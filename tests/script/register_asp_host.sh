#!/usr/bin/env bash
# Registers the test ASP host of both architectures in the test prefix, for
# the script tests that act as an ASP page. Each architecture's DLL comes
# from its own build tree through dist/; one not built yet, or one this host
# cannot run, is skipped.
# Unregistering first shows that /u leaves nothing of the host behind.
#   register_asp_host.sh <source dir>
set -uo pipefail
source_dir=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok $*"; }

declare -A loaders=([x86]=/usr/lib/wine/wine [x64]=/usr/lib/wine/wine64)
built=()
for arch in x86 x64; do
    if [ ! -f "$source_dir/dist/$arch/asp_test_host.dll" ]; then
        echo "skip $arch: dist/$arch/asp_test_host.dll not built"
    elif ! "${loaders[$arch]}" --version >/dev/null 2>&1; then
        echo "skip $arch: ${loaders[$arch]} does not run on this host"
    else
        built+=("$arch")
    fi
done
[ ${#built[@]} -gt 0 ] || { echo "FAIL no host DLL built"; exit 1; }

ours=$(grep -oiE 'uuid\([0-9A-F-]+\)' "$source_dir/tools/asp_host/asp_host.idl" | sed -E 's/uuid\((.*)\)/\1/' | paste -sd'|')
ours="$ours|AspTestHost\\."
keys_of_ours() {
    /usr/lib/wine/wine64 regedit /E "$(windows_path "$work")\\all.reg" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$work/all.reg" | tr -d '\r' | grep -iE "$ours" || true
}

creates_page() {  # loader: the page's body after a write through its context
    printf 'On Error Resume Next\nSet p = CreateObject("AspTestHost.Page")\np.Context.Response.Write "page"\nIf Err.Number = 0 Then WScript.Echo p.Body Else WScript.Echo "error " & Err.Number\n' \
        > "$work/create.vbs"
    "$1" cscript //nologo "$(windows_path "$work/create.vbs")" 2>/dev/null | tr -d '\r'
}

for arch in "${built[@]}"; do
    "${loaders[$arch]}" regsvr32 /u /s "$(windows_path "$source_dir/dist/$arch/asp_test_host.dll")"
done
if [ ${#built[@]} -eq 2 ]; then
    left=$(keys_of_ours)
    [ -z "$left" ] && ok "nothing of the host left after unregistering" || fail "keys left:
$left"
fi

for arch in "${built[@]}"; do
    "${loaders[$arch]}" regsvr32 /s "$(windows_path "$source_dir/dist/$arch/asp_test_host.dll")" \
        && ok "$arch host registers" || fail "$arch regsvr32"
done
for arch in "${built[@]}"; do
    [ "$(creates_page "${loaders[$arch]}")" = "page" ] && ok "$arch script creates a page" \
        || fail "$arch script cannot create a page"
done

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
