#!/usr/bin/env bash
# The release files as an administrator meets them, made by tools/package.py
# from the built DLLs and their registration.
#   package_test.sh install <source dir> <build dir>
#     the installers' tables; in a fresh Wine prefix an upgrade over an
#     older installer, a script of each bitness using what it installed,
#     the registry compared with regsvr32's, and an uninstall that leaves
#     no key and no file of ours
#   package_test.sh signing <source dir> <build dir>
#     signing with a certificate made here, and the signatures verified
set -uo pipefail
mode=$1
source_dir=$(realpath "$2")
build_dir=$(realpath "$3")
# Paths with spaces, as Program Files has them.
work=$(mktemp -d)/"release work"
mkdir -p "$work"
loader=/usr/lib/wine/wine64
test_prefix=$WINEPREFIX
cleanup() {
    [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$(dirname "$work")"
}
trap cleanup EXIT

windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok $*"; }
check() {  # label command...: ok when the command succeeds
    local label=$1
    shift
    if "$@"; then ok "$label"; else fail "$label"; return 1; fi
}
refused() { ! "$@"; }

version=$(cat "$build_dir/corvane-version.txt")
x64_dll=$source_dir/dist/x64/corvane.dll
x86_dll=$source_dir/dist/x86/corvane.dll
# Both DLLs go into the x64 installer: the x86 one is built on every host.
[ -f "$x86_dll" ] || { echo "skip: dist/x86/corvane.dll is not built (./run build builds it)"; exit 77; }

"$loader" "$build_dir/tools/registry_rows/registry_rows.exe" "$(windows_path "$x64_dll")" >"$work/rows.txt" \
    2>"$work/rows.log" || { cat "$work/rows.log"; echo "FAIL registry_rows"; exit 1; }

make_packages() {  # out, then package.py's options
    local out=$1
    shift
    /usr/bin/python3 "$source_dir/tools/package.py" --rows "$work/rows.txt" \
        --registered-path "$(windows_path "$x64_dll")" --x64-dll "$x64_dll" --x86-dll "$x86_dll" --out "$out" "$@" \
        >"$work/package.log" 2>&1
}

if [ "$mode" = signing ]; then
    certificates="$work/test certificates"
    /usr/bin/python3 - "$certificates" <<'PYTHON' || { echo "FAIL making the test certificates"; exit 1; }
import datetime, os, sys
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

folder = sys.argv[1]
os.makedirs(folder)
now = datetime.datetime.now(datetime.timezone.utc)

def certificate(subject, key, issuer, issuer_key, authority):
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(key.public_key())
               .serial_number(x509.random_serial_number()).not_valid_before(now - datetime.timedelta(hours=1))
               .not_valid_after(now + datetime.timedelta(hours=2))
               .add_extension(x509.BasicConstraints(ca=authority, path_length=None), critical=True))
    if not authority:
        builder = builder.add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.CODE_SIGNING]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())

name = lambda text: x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])
ca_key, signer_key = ec.generate_private_key(ec.SECP256R1()), ec.generate_private_key(ec.SECP256R1())
ca = certificate(name("corvane test CA"), ca_key, name("corvane test CA"), ca_key, True)
signer = certificate(name("corvane test signer"), signer_key, ca.subject, ca_key, False)
# A password a shell or a command line would take apart.
password = b'pass "word" $(x) ;&'
open(os.path.join(folder, "ca.pem"), "wb").write(ca.public_bytes(serialization.Encoding.PEM))
open(os.path.join(folder, "pass word.txt"), "wb").write(password + b"\n")
open(os.path.join(folder, "wrong.txt"), "wb").write(b"wrong\n")
open(os.path.join(folder, "signer.pfx"), "wb").write(pkcs12.serialize_key_and_certificates(
    b"signer", signer_key, signer, [ca], serialization.BestAvailableEncryption(password)))
PYTHON
    verified() { osslsigncode verify -CAfile "$certificates/ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
    signed="$work/signed files"
    check "signed packages made" make_packages "$signed" --version "$version" --sign "$certificates/signer.pfx" \
        --password-file "$certificates/pass word.txt" || cat "$work/package.log"
    (cd "$work" && unzip -q "$signed/corvane-$version.zip")
    for file in "$signed/corvane-$version-x64.msi" "$signed/corvane-$version-x86.msi" \
        "$work/corvane-$version/x64/corvane.dll" "$work/corvane-$version/x86/corvane.dll"; do
        check "$(basename "$file") ($(basename "$(dirname "$file")")) verifies" verified "$file" || cat "$work/verify.log"
    done
    (cd "$work" && msiextract -C extracted "$signed/corvane-$version-x64.msi" >/dev/null)
    check "the DLL inside the x64 installer verifies" verified "$(find "$work/extracted" -path '*Program Files/corvane/corvane.dll')"
    check "an unsigned DLL does not" refused verified "$x64_dll"
    check "the checksums match" bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' _ "$signed"
    check "a wrong password stops the packaging" refused make_packages "$work/wrong" --version "$version" \
        --sign "$certificates/signer.pfx" --password-file "$certificates/wrong.txt"
    echo "$failures failure(s)"
    [ "$failures" -eq 0 ]
    exit
fi

# An earlier release's installer: the same DLLs, an earlier version.
older=0.0.1
[ "$version" != "$older" ] || { echo "FAIL the version is $older: nothing is older"; exit 1; }
check "packages made" make_packages "$work/new" --version "$version" || cat "$work/package.log"
check "older package made" make_packages "$work/old" --version "$older" --only x64 || cat "$work/package.log"
new=$work/new/corvane-$version-x64.msi
new_x86=$work/new/corvane-$version-x86.msi
old=$work/old/corvane-$older-x64.msi

property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }
rows() { msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4; }
for msi in "$new" "$new_x86"; do
    label=$(basename "$msi")
    check "$label: product version $version" test "$(property "$msi" ProductVersion)" = "$version"
    check "$label: the older package's upgrade code" test "$(property "$msi" UpgradeCode)" = "$(property "$old" UpgradeCode)"
    check "$label: a product code of its own" test "$(property "$msi" ProductCode)" != "$(property "$old" ProductCode)"
    check "$label: no self-registration, no custom action" test -z "$(rows "$msi" SelfReg)$(rows "$msi" CustomAction)"
    check "$label: registry rows" test "$(rows "$msi" Registry | grep -c 'InprocServer32	')" -ge 6
    check "$label: the DLLs' file version" test "$(rows "$msi" File | awk -F'\t' '$1 ~ /^corvane_/ { print $5 }' |
        sort -u)" = "$version.0"
done

export WINEPREFIX=$work/prefix
"$loader" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
msiexec() { "$loader" msiexec "$1" "$(windows_path "$2")" /qn >/dev/null 2>&1; }
export_key() {  # key file
    rm -f "$2"
    "$loader" regedit /E "$(windows_path "$(dirname "$2")")\\$(basename "$2")" "$1" >/dev/null 2>&1
    [ -s "$2" ] || touch "$work/export-failed"
}
installed_versions() {
    export_key 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$work/uninstall.reg"
    iconv -f UTF-16 -t UTF-8 "$work/uninstall.reg" 2>/dev/null | tr -d '\r' |
        awk 'BEGIN { RS = ""; FS = "\n" } /"DisplayName"="corvane"/ {
            for (i = 1; i <= NF; i++) if ($i ~ /^"DisplayVersion"=/) print $i }' | paste -sd' '
}
program_files=$WINEPREFIX/drive_c/Program\ Files
program_files_x86=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)

check "the x86 installer refuses 64-bit Windows" refused msiexec /i "$new_x86"
check "the older package installs" msiexec /i "$old"
check "upgrade over it" msiexec /i "$new"
check "one product, $version" test "$(installed_versions)" = "\"DisplayVersion\"=\"$version\""
check "the older package does not downgrade it" refused msiexec /i "$old"
check "x64 DLL under Program Files" cmp -s "$program_files/corvane/corvane.dll" "$x64_dll"
check "x86 DLL under Program Files (x86)" cmp -s "$program_files_x86/corvane/corvane.dll" "$x86_dll"

# What regsvr32 wrote in the test prefix (the registration test's last act).
export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/installed.reg"
WINEPREFIX=$test_prefix export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/by-hand.reg"
check "the installer's registry is regsvr32's" /usr/bin/python3 "$source_dir/tests/package/registry_diff.py" \
    "$source_dir/component/corvane.idl" "$work/by-hand.reg" "$(windows_path "$x64_dll")" "$work/installed.reg" \
    'C:\Program Files\corvane\corvane.dll' 'C:\Program Files (x86)\corvane\corvane.dll'

script=$source_dir/tests/package/installed.vbs
check "x64 script uses the installed component" bash "$source_dir/tests/script/run_script.sh" "$loader" "$script"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    check "x86 script uses the installed component" bash "$source_dir/tests/script/run_script.sh" /usr/lib/wine/wine "$script"
else
    echo "skip x86 script: this host runs no 32-bit programs (/usr/lib/wine/wine does not start)"
fi

check "uninstall" msiexec /x "$new"
export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/removed.reg"
left=$(iconv -f UTF-16 -t UTF-8 "$work/removed.reg" | grep -ciE "corvane|$(grep -oiE 'uuid\([0-9A-F-]+\)' \
    "$source_dir/component/corvane.idl" | sed -E 's/uuid\((.*)\)/\1/' | paste -sd'|')")
check "no key of ours left" test "$left" -eq 0
check "no product left" test -z "$(installed_versions)"
check "no folder of ours left" test ! -e "$program_files/corvane" -a ! -e "$program_files_x86/corvane"
[ -e "$work/export-failed" ] && fail "a registry export failed"
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
