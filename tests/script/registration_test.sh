#!/usr/bin/env bash
# Registration of both DLLs in the test prefix: regsvr32 writes what scripts
# need on each architecture, and regsvr32 /u takes it all away again, also
# when the other architecture stays registered. Leaves both registered for
# the tests that follow.
#   registration_test.sh <source dir>
set -uo pipefail
source_dir=$(realpath "$1")
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }
dll32=$(windows_path "$source_dir/dist/x86/corvane.dll")
dll64=$(windows_path "$source_dir/dist/x64/corvane.dll")
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok $*"; }

# Every id of ours: library, classes, interfaces, enumerations, ProgIDs.
ours=$(grep -oiE 'uuid\([0-9A-F-]+\)' "$source_dir/frame/corvane.idl" | sed -E 's/uuid\((.*)\)/\1/' | paste -sd'|')
# ProgIDs as key names or values; not a path that happens to hold the word.
ours="$ours"'|^\[.*\\corvane\.[A-Za-z]+(\\[^]]*)?\]$|="corvane\.[A-Za-z]+"'

keys_of_ours() {
    "$wine64" regedit /E "$(windows_path "$work")\\all.reg" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$work/all.reg" | tr -d '\r' | grep -iE "$ours" || true
}

create_with() {  # loader: prints the FTP version if the class can be created
    printf 'On Error Resume Next\nSet f = CreateObject("corvane.FTP")\nIf Err.Number = 0 Then WScript.Echo f.Version Else WScript.Echo "error " & Err.Number\n' \
        > "$work/create.vbs"
    "$1" cscript //nologo "$(windows_path "$work/create.vbs")" 2>/dev/null | tr -d '\r'
}

"$wine32" regsvr32 /u /s "$dll32"
"$wine64" regsvr32 /u /s "$dll64"
left=$(keys_of_ours)
[ -z "$left" ] && ok "nothing of ours after both unregistered" || fail "keys left after unregistering:
$left"

"$wine32" regsvr32 /s "$dll32" && ok "x86 registers" || fail "x86 regsvr32"
"$wine64" regsvr32 /s "$dll64" && ok "x64 registers" || fail "x64 regsvr32"
[ "$(create_with "$wine32")" = "1.01.2" ] && ok "x86 script creates FTP" || fail "x86 script cannot create FTP"
[ "$(create_with "$wine64")" = "1.01.2" ] && ok "x64 script creates FTP" || fail "x64 script cannot create FTP"
keys_of_ours | grep -q 'InprocServer32' && ok "class keys written" || fail "no InprocServer32 keys"

"$wine32" regsvr32 /u /s "$dll32" && ok "x86 unregisters" || fail "x86 regsvr32 /u"
[ "$(create_with "$wine64")" = "1.01.2" ] && ok "x64 still creates after x86 left" || fail "x86 unregistration broke x64"
[ "$(create_with "$wine32")" != "1.01.2" ] && ok "x86 no longer creates" || fail "x86 still creates after /u"
"$wine64" regsvr32 /u /s "$dll64" && ok "x64 unregisters" || fail "x64 regsvr32 /u"
left=$(keys_of_ours)
[ -z "$left" ] && ok "nothing of ours after x86 then x64 left" || fail "keys left:
$left"

"$wine64" regsvr32 /s "$dll64" || fail "x64 registers again"
"$wine32" regsvr32 /s "$dll32" || fail "x86 registers again"
"$wine64" regsvr32 /u /s "$dll64"
[ "$(create_with "$wine32")" = "1.01.2" ] && ok "x86 still creates after x64 left" || fail "x64 unregistration broke x86"
"$wine64" regsvr32 /s "$dll64" || fail "x64 registers for the tests that follow"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
