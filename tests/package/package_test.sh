#!/usr/bin/env bash
# The release files as an administrator meets them, made by tools/package.py.
#   package_test.sh install <source dir> <build dir>: the installers' tables;
#     in a fresh prefix an upgrade over an older installer, scripts using
#     what it installed, its registry against regsvr32's, and a removal
#     that leaves nothing of ours
#   package_test.sh signing <source dir> <build dir>: signatures made with a
#     certificate made here, verified
set -uo pipefail
mode=$1 source_dir=$(realpath "$2") build_dir=$(realpath "$3")
top=$(mktemp -d)
work="$top/release work"  # spaces, as in Program Files
mkdir "$work"
loader=/usr/lib/wine/wine64
test_prefix=$WINEPREFIX
trap '[ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k; rm -rf "$top"' EXIT
windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }
failures=0
check() {  # label command...
    local label=$1
    shift
    if "$@"; then echo "ok $label"; else echo "FAIL $label"; failures=$((failures + 1)); return 1; fi
}
refused() { ! "$@" >/dev/null; }

version=$(cat "$build_dir/corvane-version.txt")
x64_dll=$source_dir/dist/x64/corvane.dll x86_dll=$source_dir/dist/x86/corvane.dll
[ -f "$x86_dll" ] || { echo "skip: dist/x86/corvane.dll is not built (./run build builds it)"; exit 77; }
"$loader" "$build_dir/tools/registry_rows/registry_rows.exe" "$(windows_path "$x64_dll")" >"$work/rows.txt" ||
    { echo "FAIL registry_rows"; exit 1; }
make_packages() {  # out, package.py's options
    local out=$1
    shift
    /usr/bin/python3 "$source_dir/tools/package.py" --rows "$work/rows.txt" --registered-path \
        "$(windows_path "$x64_dll")" --x64-dll "$x64_dll" --x86-dll "$x86_dll" --out "$out" "$@" \
        >"$work/package.log" 2>&1 || { cat "$work/package.log"; return 1; }
}

if [ "$mode" = signing ]; then
    # A password a shell or a command line would take apart.
    keys="$work/test certificates"
    mkdir "$keys" && cd "$keys" || exit 1
    printf '%s\n' 'pass "word" $(x) ;&' >"pass word.txt"
    echo wrong >wrong.txt
    subject() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=corvane test $1" "${@:2}"; }
    { subject CA -x509 -days 1 -keyout ca.key -out ca.pem -addext basicConstraints=critical,CA:true &&
        subject signer -keyout signer.key -out signer.csr &&
        openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -out signer.pem \
            -extfile <(printf 'extendedKeyUsage=codeSigning\nbasicConstraints=CA:false\n') &&
        openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
            -passout "file:pass word.txt"; } >/dev/null 2>&1 || { echo "FAIL making the test certificate"; exit 1; }
    verified() {
        osslsigncode verify -CAfile "$keys/ca.pem" -in "$1" >"$work/verify.log" 2>&1 ||
            { cat "$work/verify.log"; false; }
    }
    signed="$work/signed files"
    check "signed packages made" make_packages "$signed" --version "$version" --sign "$keys/signer.pfx" \
        --password-file "$keys/pass word.txt"
    cd "$work" && unzip -q "$signed/corvane-$version.zip" &&
        msiextract -C msi "$signed/corvane-$version-x64.msi" >/dev/null
    for file in "$signed"/*.msi "corvane-$version"/x*/corvane.dll "msi/Program Files/corvane/corvane.dll"; do
        check "${file#"$work/"} verifies" verified "$file"
    done
    check "an unsigned DLL does not" refused verified "$x64_dll"
    check "the checksums match" bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' _ "$signed"
    check "a wrong password stops the packaging" refused make_packages "$work/wrong" --version "$version" \
        --sign "$keys/signer.pfx" --password-file "$keys/wrong.txt"
    echo "$failures failure(s)"
    exit $((failures > 0))
fi

older=0.0.1  # an earlier release's installer: the same DLLs, an earlier version
check "packages made" make_packages "$work/new" --version "$version"
check "an older one made" make_packages "$work/old" --version "$older" --only x64
new=$work/new/corvane-$version-x64.msi old=$work/old/corvane-$older-x64.msi
property() { msiinfo export "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }' | tr -d '\r'; }
rows() { msiinfo export "$1" "$2" 2>/dev/null | tail -n +4 | tr -d '\r'; }
for msi in "$new" "$work/new/corvane-$version-x86.msi"; do
    label=$(basename "$msi")
    check "$label: version $version, the older one's upgrade code" test "$(property "$msi" ProductVersion) $(property \
        "$msi" UpgradeCode)" = "$version $(property "$old" UpgradeCode)" -a "$version" != "$older"
    check "$label: no self-registration, no custom action" test -z "$(rows "$msi" SelfReg)$(rows "$msi" CustomAction)"
    check "$label: the DLLs' file version" \
        test "$(rows "$msi" File | awk -F'\t' '/^corvane_/ { print $5 }' | sort -u)" = "$version.0"
done
check "the changelog has $version" grep -q "^## \[$version\] - " "$source_dir/CHANGELOG.md"

export WINEPREFIX=$work/prefix
"$loader" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
msiexec() { "$loader" msiexec "$1" "$(windows_path "$2")" "${@:3}" /qn >/dev/null 2>&1; }
export_key() {  # key file
    "$loader" regedit /E "$(windows_path "$(dirname "$2")")\\$(basename "$2")" "$1" >/dev/null 2>&1
    [ -s "$2" ] || echo "FAIL exporting $1" >&2
}
products() {  # the versions of corvane Programs and Features lists
    export_key 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$work/products.reg"
    iconv -f UTF-16 -t UTF-8 "$work/products.reg" | tr -d '\r' | awk 'BEGIN { RS = "" } /"DisplayName"="corvane"/' |
        sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p' | paste -sd' '
}
folders=("$WINEPREFIX/drive_c/Program Files/corvane" "$WINEPREFIX/drive_c/Program Files (x86)/corvane")

check "the x86 installer refuses 64-bit Windows" refused msiexec /i "$work/new/corvane-$version-x86.msi"
check "the older one installs" msiexec /i "$old"
upgraded() { msiexec /i "$new" && [ "$(products)" = "$version" ]; }
check "the upgrade over it leaves one product, $version" upgraded
check "the older one does not downgrade it" refused msiexec /i "$old"
check "both DLLs under Program Files" bash -c 'cmp -s "$1/corvane.dll" "$3" && cmp -s "$2/corvane.dll" "$4"' _ \
    "${folders[@]}" "$x64_dll" "$x86_dll"
export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/installed.reg"
WINEPREFIX=$test_prefix export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/by-hand.reg"
check "its registry is regsvr32's" /usr/bin/python3 "$source_dir/tests/package/registry_diff.py" \
    "$source_dir/component/corvane.idl" "$work/by-hand.reg" "$(windows_path "$x64_dll")" "$work/installed.reg" \
    'C:\Program Files\corvane\corvane.dll' 'C:\Program Files (x86)\corvane\corvane.dll'
for loader_of_script in "$loader" /usr/lib/wine/wine; do
    if "$loader_of_script" --version >/dev/null 2>&1; then
        check "$(basename "$loader_of_script") script uses it" bash "$source_dir/tests/script/run_script.sh" \
            "$loader_of_script" "$source_dir/tests/package/installed.vbs"
    else
        echo "skip the 32-bit script: this host runs no 32-bit programs ($loader_of_script does not start)"
    fi
done
# The repair by properties: Wine's msiexec /f does not reinstall (exit status 69).
repaired() {
    rm "${folders[0]}/corvane.dll" && msiexec /i "$new" REINSTALL=ALL REINSTALLMODE=amus &&
        cmp -s "${folders[0]}/corvane.dll" "$x64_dll"
}
check "repair puts a deleted DLL back" repaired
check "uninstall" msiexec /x "$new"
export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/removed.reg"
ids=$(grep -oiE 'uuid\([0-9A-F-]+\)' "$source_dir/component/corvane.idl" | sed -E 's/uuid\((.*)\)/\1/' | paste -sd'|')
check "no key, product or folder of ours left" test -z "$(iconv -f UTF-16 -t UTF-8 "$work/removed.reg" |
    grep -iE "corvane|$ids")$(products)" -a ! -e "${folders[0]}" -a ! -e "${folders[1]}"
echo "$failures failure(s)"
exit $((failures > 0))
