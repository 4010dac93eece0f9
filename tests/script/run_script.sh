#!/usr/bin/env bash
# Runs one script test under the platform's script host of one architecture.
# Wine's cscript ends silently with exit code 0 on a runtime error, so a
# script passes only if it reaches its "END" line and printed no "FAIL".
#   run_script.sh <wine loader> <script> [arguments...]
set -uo pipefail
loader=$1
script=$(realpath "$2")
shift 2
output=$("$loader" cscript //nologo "Z:${script//\//\\}" "$@" 2>&1 | tr -d '\r')
printf '%s\n' "$output"
grep -q '^FAIL' <<<"$output" && exit 1
grep -qx 'END' <<<"$output" || { echo "FAIL: the script did not reach its end"; exit 1; }
exit 0
