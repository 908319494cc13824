#!/usr/bin/env bash
# Starts vorncom-server on a free loopback port, makes a package with vornpkg and runs the C host
# against both. Arguments: vorncom-server, vornpkg, c_send_test, the library.
set -euo pipefail
server=$1 vornpkg=$2 host=$3 library=$4
work=$(mktemp -d /tmp/vorncom-c-send-XXXXXX)
pid=
cleanup() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/../support/test_certificates.sh"
source "$(dirname "$0")/../support/test_package.sh"

mkdir -p "$work/data/downloads"
head -c 100 /dev/urandom > "$work/data/downloads/resposta.zlk"
{
  printf 'listen_address = 127.0.0.1\ndata_folder = %s/data\nlog_sessions = false\n' "$work"
  make_test_certificates "$work"
} > "$work/server.cfg"
# The library trusts the test CA only: the send goes over verified TLS.
export VORNCOM_TLS_CA=$work/ca.pem
"$server" --config "$work/server.cfg" --port 0 --port-file "$work/port" &
pid=$!
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.1; done
port=$(cat "$work/port")

make_test_package "$vornpkg" "$work" "$work/declaracao.zlk" 20000

env -u QT_QPA_PLATFORM VORNCOM_UNATTENDED=1 VORNCOM_PDF_PRINTER="$work/recibos" \
  "$host" "$library" "$work/declaracao.zlk" "$port" 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
cat "$work/stderr" >&2
# The "already sent" answer showed the earlier receipt: one PDF, named on standard error.
receipt=$(ls "$work/recibos"/Recibo*.pdf)
[[ $(printf '%s\n' "$receipt" | wc -l) -eq 1 ]]
grep -qxF "VornCom: receipt printed to $receipt" "$work/stderr"
# The server stored exactly one upload.
[[ $(ls "$work/data/store" | wc -l) -eq 1 ]]
