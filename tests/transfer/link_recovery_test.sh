#!/usr/bin/env bash
# Sends through a relay that breaks the link the way real networks do, and checks that every send
# ends stamped with the one protocol number the server registered.
#
#   resume       64 MiB over TLS through a link cut every 8 MiB: one call, result 0, one
#                byte-identical stored copy, under 1.1 times the package on the wire
#   lost-reply   20 sends whose link is cut right after Protocolate reached the server
#   host-killed  20 sends whose host is killed while it waits for Protocolate's answer; the
#                next send of each package must find the registration instead of making one
#
# Arguments: SCENARIO vorncom-server vornpkg vorncom library vorncom-link-relay
set -euo pipefail
scenario=$1 server=$2 vornpkg=$3 vorncom=$4 library=$5 relay=$6
work=$(mktemp -d /tmp/vorncom-link-XXXXXX)
server_pid= relay_pid=
cleanup() {
  for pid in $relay_pid $server_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/../support/test_certificates.sh"
source "$(dirname "$0")/../support/test_package.sh"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits for FILE to hold something, then prints its first line.
await_file() {
  for _ in $(seq 200); do [[ -s $1 ]] && break; sleep 0.05; done
  [[ -s $1 ]] || fail "$1 never appeared"
  head -n 1 "$1"
}

start_server() { # TLS: yes or no
  mkdir -p "$work/data"
  {
    printf 'listen_address = 127.0.0.1\ndata_folder = %s/data\nlog_sessions = true\n' "$work"
    [[ $1 == yes ]] && make_test_certificates "$work"
  } >"$work/server.cfg"
  "$server" --config "$work/server.cfg" --port 0 --port-file "$work/server.port" \
    2>"$work/server.log" &
  server_pid=$!
  server_port=$(await_file "$work/server.port")
}

start_relay() { # relay options...
  rm -f "$work/relay.port" "$work/relay.stats"
  "$relay" --target "127.0.0.1:$server_port" --port-file "$work/relay.port" \
    --stats-file "$work/relay.stats" "$@" &
  relay_pid=$!
  relay_port=$(await_file "$work/relay.port")
}

# A counter of the relay's statistics line, which it writes on SIGUSR1.
relay_stat() {
  rm -f "$work/relay.stats"
  kill -USR1 "$relay_pid"
  await_file "$work/relay.stats" >/dev/null
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' \
    "$work/relay.stats" "$1"
}

stop_relay() {
  kill "$relay_pid" && wait "$relay_pid" || true
  relay_pid=
}

make_package() { # NAME SIZE
  make_test_package "$vornpkg" "$work" "$work/$1" "$2"
}

send() { # PORT PACKAGE: the export's result code
  local code=0
  env -u QT_QPA_PLATFORM "$vorncom" --library "$library" --server "127.0.0.1:$1" --fixed \
    --unattended send "$2" >>"$work/host.log" 2>&1 || code=$?
  echo "$code"
}

# The protocol number stamped into PACKAGE, empty when it holds none.
stamped_number() {
  "$vornpkg" receipt "$1" 2>/dev/null | sed -n 's/^Número Protocolo=//p' | tr -d '\r'
}

# "number file_name" of every registration, one per line.
registrations() {
  python3 - "$work/data/registry.db" <<'PY'
import sqlite3, sys
for number, name in sqlite3.connect(sys.argv[1]).execute(
        "SELECT number, file_name FROM registrations WHERE number IS NOT NULL ORDER BY id"):
    print(number, name)
PY
}

# Every package carries the number the server registered for it, and no package was registered
# twice.
check_registry() { # COUNT
  registrations >"$work/registered"
  [[ $(wc -l <"$work/registered") -eq $1 ]] ||
    fail "$(wc -l <"$work/registered") registrations for $1 packages: $(cat "$work/registered")"
  [[ $(cut -d' ' -f2 "$work/registered" | sort -u | wc -l) -eq $1 ]] || fail "a package registered twice"
  while read -r number name; do
    [[ $(stamped_number "$work/$name") == "$number" ]] ||
      fail "$name holds '$(stamped_number "$work/$name")', the server registered $number"
  done <"$work/registered"
}

export VORNCOM_BASE_DIR=$work/base/ VORNCOM_PDF_PRINTER=$work/receipts XDG_RUNTIME_DIR=$work/run
mkdir -p "$work/base" "$work/run" && chmod 700 "$work/run"

case $scenario in
  resume)
    start_server yes
    export VORNCOM_TLS_CA=$work/ca.pem
    start_relay --cut up:bytes=8388608
    make_package big.zlk $((64 << 20))
    cp "$work/big.zlk" "$work/big.sent"
    size=$(stat -c %s "$work/big.zlk")
    code=$(send "$relay_port" "$work/big.zlk")
    [[ $code -eq 0 ]] || { cat "$work/host.log" >&2; fail "SendFile gave $code"; }
    cuts=$(relay_stat cuts)
    wire=$(relay_stat received_from_client)
    stop_relay
    (( cuts >= 7 )) || fail "only $cuts cuts: the link was not broken as planned"
    mapfile -t stored < <(ls "$work/data/store")
    [[ ${#stored[@]} -eq 1 ]] || fail "${#stored[@]} stored copies"
    cmp -s "$work/data/store/${stored[0]}" "$work/big.sent" || fail "the stored copy differs"
    python3 -c "import sys; w, s = map(int, sys.argv[1:3]); print(f'{w} bytes on the wire for a {s}-byte package ({w / s:.3f}x), {sys.argv[3]} cuts'); sys.exit(w >= 1.1 * s)" \
      "$wire" "$size" "$cuts" || fail "too many bytes sent again"
    check_registry 1
    ;;
  lost-reply)
    # The relay must see the method names, so the link is plain TCP.
    export VORNCOM_TLS=desligado
    start_server no
    start_relay --cut up:method=Protocolate
    for i in $(seq 20); do
      make_package "p$i.zlk" $((20000 + i))
      code=$(send "$relay_port" "$work/p$i.zlk")
      [[ $code -eq 0 ]] || { cat "$work/host.log" >&2; fail "send $i gave $code"; }
    done
    (( $(relay_stat cuts) >= 20 )) || fail "the replies were not all cut"
    check_registry 20
    ;;
  host-killed)
    export VORNCOM_TLS=desligado
    start_server no
    start_relay --cut up:method=Protocolate --cut-style stall
    for i in $(seq 20); do
      make_package "p$i.zlk" $((20000 + i))
      cuts=$(relay_stat cuts)
      env -u QT_QPA_PLATFORM "$vorncom" --library "$library" --server "127.0.0.1:$relay_port" \
        --fixed --unattended send "$work/p$i.zlk" >>"$work/host.log" 2>&1 &
      host=$!
      for _ in $(seq 400); do (( $(relay_stat cuts) > cuts )) && break; sleep 0.05; done
      (( $(relay_stat cuts) > cuts )) || fail "send $i never reached Protocolate"
      kill -KILL "$host"
      wait "$host" 2>/dev/null || true
      [[ -z $(stamped_number "$work/p$i.zlk") ]] || fail "p$i.zlk stamped by a killed host"
    done
    stop_relay
    # The next send of each package goes straight to the server; the journal knows it is in doubt.
    for i in $(seq 20); do
      code=$(send "$server_port" "$work/p$i.zlk")
      [[ $code -eq 0 ]] || { cat "$work/host.log" >&2; fail "resend $i gave $code"; }
    done
    check_registry 20
    ;;
  *)
    fail "unknown scenario $scenario"
    ;;
esac
echo "ok: $scenario"
