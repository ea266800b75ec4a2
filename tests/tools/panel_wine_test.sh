#!/bin/sh
# daqctl.exe panel under Wine: it starts, prints its URL, serves its page and
# files with the token, refuses them without it, lists the bench's boards,
# switches a relay on a request from its own page, refuses one from another
# origin, and stops on Ctrl-C (SIGINT) with status 0.
#   panel_wine_test.sh EMULATOR DAQCTL_EXE
set -u
emulator=$1
daqctl=$2
if ! command -v curl >/dev/null 2>&1; then
  echo "SKIP: curl is not installed (apt-get install curl)"
  exit 77
fi
folder=$(mktemp -d)
pid=
finish() {
  [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null
  rm -rf "$folder"
}
trap finish EXIT
fail() {
  echo "FAIL: $*"
  echo "--- daqctl.exe's standard error:"
  cat "$folder/err.txt"
  exit 1
}

# Starts the panel; waits for its URL. Wine may need a while to start (a
# fresh prefix is made on first use), and a Wine program that starts while
# the other tests' Wine programs come and go can lose its connection to the
# Wine server before it runs ("wine client error"): such a start is tried
# again, up to three times. Any other early end is a failure.
start() {
  "$emulator" "$daqctl" panel >"$folder/out.txt" 2>"$folder/err.txt" &
  pid=$!
  i=0
  while ! grep -q "token=" "$folder/out.txt" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 600 ] && fail "no URL after 60 s"
    if ! kill -0 "$pid" 2>/dev/null; then
      pid=
      grep -q "wine client error" "$folder/err.txt" && return 1
      fail "daqctl.exe panel ended before it printed its URL"
    fi
    sleep 0.1
  done
}
start || start || start || fail "Wine could not start daqctl.exe three times"
url=$(head -n 1 "$folder/out.txt" | tr -d '\r')
base=${url%%/\?token=*}
token=${url##*token=}
case "$url" in
  http://127.0.0.1:*/\?token=*) ;;
  *) fail "unexpected URL '$url'" ;;
esac
[ ${#token} -eq 32 ] || fail "the token '$token' is not 32 hex digits"

status() { curl -s -o "$folder/body" -w "%{http_code}" "$@"; }

[ "$(status "$url")" = 200 ] || fail "the page: $(cat "$folder/body")"
grep -q "<title>daqctl panel</title>" "$folder/body" || fail "the page is not the panel's"
grep -q "token=$token" "$folder/body" || fail "the page's files do not carry the token"
[ "$(status "$base/assets/uPlot.iife.min.js?token=$token")" = 200 ] || fail "the chart library"
grep -q "uPlot" "$folder/body" || fail "the chart library is not uPlot"
[ "$(status "$base/")" = 403 ] || fail "the page without the token was not refused"
[ "$(status "$base/api/hello?token=0$token")" = 403 ] || fail "a wrong token was not refused"

[ "$(status "$base/api/hello?token=$token")" = 200 ] || fail "hello: $(cat "$folder/body")"
grep -q '"model":"KORVEL"' "$folder/body" || fail "no KORVEL board in $(cat "$folder/body")"
grep -q '"model":"LUMAR"' "$folder/body" || fail "no LUMAR board in $(cat "$folder/body")"
grep -q '"model":"VARNO"' "$folder/body" || fail "no VARNO board in $(cat "$folder/body")"
grep -q '"dremor":"3.00"' "$folder/body" || fail "no Dremor version in $(cat "$folder/body")"

post() {
  status -X POST -H "Content-Type: application/json" -H "X-Panel-Token: $token" "$@"
}
[ "$(post -H "Origin: http://evil.example" -d '{"board":0,"relay":3}' "$base/api/relay")" = 403 ] ||
  fail "a request from another origin was not refused"
[ "$(status "$base/sim/bench?token=$token")" = 200 ] || fail "the bench"
grep -q '"model":"KORVEL","output_writes":0,"outputs":0' "$folder/body" || fail "a refused request reached the bench: $(cat "$folder/body")"
[ "$(post -H "Origin: $base" -d '{"board":0,"relay":3}' "$base/api/relay")" = 200 ] ||
  fail "relay 3: $(cat "$folder/body")"
[ "$(status "$base/sim/bench?token=$token")" = 200 ] || fail "the bench"
grep -q '"model":"KORVEL","output_writes":1,"outputs":8' "$folder/body" ||
  fail "relay 3 is not on at the bench: $(cat "$folder/body")"

kill -INT "$pid"
wait "$pid"
code=$?
pid=
[ $code -eq 0 ] || fail "daqctl.exe panel ended with status $code on Ctrl-C"
grep -q "the panel stopped" "$folder/err.txt" || fail "no word of the stop"
echo "daqctl.exe panel answered at $base under Wine"
