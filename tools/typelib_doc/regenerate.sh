#!/bin/bash
# Rewrites the generated parts of docs/reference.md from the type library
# of the DLL built in BUILD_DIR (build/x64 unless given); the hand-written
# text around them stays as it is.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "${1:-$source_dir/build/x64}" && pwd)
cmake --build "$build_dir" --target corvane typelib_doc
loader=/usr/lib/wine/wine64
grep -q '^CMAKE_TOOLCHAIN_FILE:.*toolchain-x86' "$build_dir/CMakeCache.txt" && loader=/usr/lib/wine/wine
export WINEPREFIX=${WINEPREFIX:-$(sed -n 's/^CORVANE_WINEPREFIX:[A-Z]*=//p' "$build_dir/CMakeCache.txt")}
export WINEDEBUG=-all
"$loader" "$build_dir/tools/typelib_doc/typelib_doc.exe" \
    "$build_dir/corvane.dll" --write "$source_dir/docs/reference.md"
