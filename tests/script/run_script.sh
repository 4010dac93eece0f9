#!/usr/bin/env bash
# Runs one script test under the platform's script host of one architecture,
# with fresh loopback FTP and HTTP servers of its own. The script gets the
# FTP server's port, its root (as a Windows path) and the HTTP server's port
# as arguments.
# Wine's cscript ends silently with exit code 0 on a runtime error, so a
# script passes only if it reaches its "END" line and printed no "FAIL".
# With an engine (1 WinInet, 2 our own), every FTP object the script makes
# gets it (UseEngineOfRun in shared/common.vbs); without, the class's default. With
# "tls", the FTP server requires explicit TLS and every FTP object asks for it.
#   run_script.sh <wine loader> <script> [engine | tls]
set -uo pipefail
loader=$1
script=$(realpath "$2")
unset CORVANE_TEST_FTP_ENGINE CORVANE_TEST_FTP_SECURITY
if [ "${3:-}" = tls ]; then
    export CORVANE_TEST_FTP_ENGINE=2 CORVANE_TEST_FTP_SECURITY=1
elif [ -n "${3:-}" ]; then
    export CORVANE_TEST_FTP_ENGINE=$3
fi
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)

work=$(mktemp -d)
servers=()
cleanup() {
    for server in "${servers[@]}"; do kill "$server" 2>/dev/null; done
    for server in "${servers[@]}"; do wait "$server" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/root"
# The helpers every script shares go in front of it: Wine's cscript runs no
# .wsf, which could include them.
runnable="$work/$(basename "$script")"
cat "$(dirname "${BASH_SOURCE[0]}")/shared/common.${script##*.}" "$script" >"$runnable" ||
    { echo "FAIL: no shared helpers for $script"; exit 1; }
tls=()
if [ -n "${CORVANE_TEST_FTP_SECURITY:-}" ]; then
    /usr/bin/python3 "$tools/make_test_certificates.py" "$work/certificates" --hours 2 ||
        { echo "FAIL: no test certificates"; exit 1; }
    tls=(--tls "$work/certificates/server.pem" "$work/certificates/server.key")
fi
/usr/bin/python3 "$tools/ftp_server.py" --foreground --root "$work/root" --port-file "$work/ftp.port" \
    --max-seconds 600 "${tls[@]}" >"$work/ftp.log" 2>&1 &
servers+=($!)
/usr/bin/python3 "$tools/http_server.py" --foreground --port-file "$work/http.port" --max-seconds 600 \
    >"$work/http.log" 2>&1 &
servers+=($!)
for _ in $(seq 200); do
    [ -s "$work/ftp.port" ] && [ -s "$work/http.port" ] && break
    sleep 0.05
done
[ -s "$work/ftp.port" ] || { echo "FAIL: the FTP server did not start"; cat "$work/ftp.log"; exit 1; }
[ -s "$work/http.port" ] || { echo "FAIL: the HTTP server did not start"; cat "$work/http.log"; exit 1; }
ftp_port=$(cut -d' ' -f1 "$work/ftp.port")
http_port=$(cut -d' ' -f1 "$work/http.port")

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
output=$("$loader" cscript //nologo "$(windows_path "$runnable")" "$ftp_port" "$(windows_path "$work/root")" \
    "$http_port" 2>&1 |
    tr -d '\r')
printf '%s\n' "$output"
grep -q '^FAIL' <<<"$output" && exit 1
grep -qx 'END' <<<"$output" || { echo "FAIL: the script did not reach its end"; exit 1; }
exit 0
