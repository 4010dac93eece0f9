#!/bin/bash
# typelib_doc's own test: what it prints for a library with every kind of
# argument, and that --check fails, naming the fault, on a reference with
# each kind of drift. Arguments: loader, typelib_doc.exe, corvane.dll, the
# fixture library, the reference, the error catalogues.
set -uo pipefail
loader=$1 tool=$2 dll=$3 fixture=$4 reference=$5
shift 5
catalogues=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# What the fixture's members and constants look like.
printed=$("$loader" "$tool" "$fixture" 2>&1) || fail "printing the fixture failed: $printed"
while IFS= read -r line; do
    grep -qxF -- "$line" <<<"$printed" || fail "the fixture's output lacks: $line"
done <<'LINES'
Default interface `_Derived`, inheriting `_Base`.
| `Find` | method | 0x1 | pattern As String, [start As Long = 1], [options As Variant] | Long | _Base | Finds text. |
| `Item` | property (get, put) | 0x2 | index As Long | String | _Base | Items \| bars. |
| `Fill` | method | 0x3 | ByRef buffer As Variant, [text As String = "x"] |  | _Derived | Fills. |
| `Undocumented` | method | 0x4 |  |  | _Derived |  |
| `Parent` | property (get) | 0x5 |  | Thing | _Derived | Its base. |
| `KindA` | -1 |
| `KindB` | 7 |
LINES
grep -q 'QueryInterface\|GetIDsOfNames' <<<"$printed" && fail "IUnknown's or IDispatch's members were listed"

echo '' >"$scratch/empty.md"
output=$("$loader" "$tool" "$fixture" --check "$scratch/empty.md" "${catalogues[@]}" 2>&1)
[ $? -eq 1 ] || fail "--check on an empty reference did not fail"
grep -qF 'Thing.Undocumented has no helpstring in the IDL' <<<"$output" || fail "a member without a helpstring was not named"

# The reference as it is passes; each drift below must fail and say what.
"$loader" "$tool" "$dll" --check "$reference" "${catalogues[@]}" >"$scratch/out" 2>&1 ||
    fail "the reference itself does not pass: $(cat "$scratch/out")"

check_drift() {
    local name=$1 expression=$2 expected=$3
    sed -e "$expression" "$reference" >"$scratch/$name.md"
    if cmp -s "$reference" "$scratch/$name.md"; then
        fail "$name: the edit changed nothing (the reference no longer holds what it edits)"
        return
    fi
    local output status
    output=$("$loader" "$tool" "$dll" --check "$scratch/$name.md" "${catalogues[@]}" 2>&1)
    status=$?
    [ "$status" -eq 1 ] || fail "$name: --check exited with $status, not 1"
    grep -qF -- "$expected" <<<"$output" || fail "$name: the output does not say \"$expected\": $output"
}

check_drift member_section_missing '/^### FTP\.Timeout$/d' 'member FTP.Timeout of the type library has no "### FTP.Timeout" section'
check_drift member_section_extra '0,/^### FTP\.Timeout$/s//### FTP.Timeouts/' 'section "### FTP.Timeouts" names a member the type library lacks'
check_drift generated_line_changed 's/^| `Port` | property (get, put) | 0x68030004 |/| `Port` | property (get, put) | 0x68030005 |/' 'generated part "class FTP" differs from the type library'
check_drift generated_line_changed_says_where 's/^| `Port` | property (get, put) | 0x68030004 |/| `Port` | property (get, put) | 0x68030005 |/' 'tools/typelib_doc/regenerate.sh'
check_drift generated_part_missing '/^<!-- typelib: class HTTPHeader -->$/d' 'missing generated part "<!-- typelib: class HTTPHeader -->"'
check_drift generated_part_unknown 's/^<!-- typelib: enum Kind_Of_Nothing -->$//; $a <!-- typelib: enum Kind_Of_Nothing -->\n<!-- /typelib -->' 'generated part "enum Kind_Of_Nothing" names nothing in the type library'
check_drift error_row_missing '/^| 0x80040216 |/d' 'error 0x80040216 "The resumed transfer did not complete: the local and remote sizes differ." of'
check_drift error_message_changed 's/^| 0x800403EF | Corvane.HTTP | Redirect not followed\./| 0x800403EF | Corvane.HTTP | Redirect refused./' 'error 0x800403EF "Redirect not followed."'
check_drift one_message_of_a_shared_number_missing '/^| 0x8004020B | Corvane.FTP | Needed Parameter not set/d' 'error 0x8004020B "Needed Parameter not set.  Username"'
check_drift error_table_gone '/^<!-- errors -->$/d' 'no error table between'

# --write replaces the generated parts only: a hand-written change stays,
# a changed generated line is restored, a missing part is added.
sed -e 's/^| `Port` | property (get, put) | 0x68030004 |/| `Port` | property (get, put) | 0x68030005 |/' \
    -e 's/^Method\. Creates a remote directory (`MKD`)\./Method. Makes a remote directory (`MKD`)./' "$reference" >"$scratch/written.md"
sed -e 's/^Method\. Creates a remote directory (`MKD`)\./Method. Makes a remote directory (`MKD`)./' "$reference" >"$scratch/expected.md"
if cmp -s "$scratch/written.md" "$scratch/expected.md" || cmp -s "$scratch/expected.md" "$reference"; then
    fail "write: the edits changed nothing (the reference no longer holds what they edit)"
else
    "$loader" "$tool" "$dll" --write "$scratch/written.md" >/dev/null 2>&1 || fail "write: --write failed"
    cmp -s "$scratch/written.md" "$scratch/expected.md" ||
        fail "write: more or less than the generated line changed: $(diff "$scratch/expected.md" "$scratch/written.md" | head -5)"
fi
sed '/^<!-- typelib: class HTTPHeader -->$/,/^<!-- \/typelib -->$/d' "$reference" >"$scratch/part_removed.md"
if cmp -s "$scratch/part_removed.md" "$reference"; then
    fail "write: removing the HTTPHeader part changed nothing"
else
    "$loader" "$tool" "$dll" --write "$scratch/part_removed.md" >/dev/null 2>&1 || fail "write: --write failed on a missing part"
    "$loader" "$tool" "$dll" --check "$scratch/part_removed.md" "${catalogues[@]}" >"$scratch/out" 2>&1 ||
        fail "write: a missing part was not added back: $(cat "$scratch/out")"
fi

# A half-marked part counts as missing, not as reaching to the next one.
sed '0,/^<!-- \/typelib -->$/{/^<!-- \/typelib -->$/d}' "$reference" >"$scratch/unbalanced.md"
output=$("$loader" "$tool" "$dll" --check "$scratch/unbalanced.md" "${catalogues[@]}" 2>&1)
grep -qF 'missing generated part' <<<"$output" || fail "an end marker removed was not reported: $output"

# Wrong use ends with status 2 and the reason.
"$loader" "$tool" >/dev/null 2>&1
[ $? -eq 2 ] || fail "no arguments: not status 2"
output=$("$loader" "$tool" "$scratch/no_such_library.tlb" 2>&1)
[ $? -eq 2 ] && grep -qF 'LoadTypeLibEx failed' <<<"$output" || fail "a missing library: not status 2 with the reason: $output"
output=$("$loader" "$tool" "$dll" --check "$scratch/no_such_reference.md" "${catalogues[@]}" 2>&1)
[ $? -eq 2 ] && grep -qF 'cannot read' <<<"$output" || fail "a missing reference: not status 2 with the reason: $output"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "typelib_doc self-test passed"
