#!/usr/bin/env bash
# Eight host processes share one host folder and one client configuration file and send eight
# packages at once through one vorncom-server, in three rounds. Each package must end up with its
# own protocol record (its own file name and number, all fourteen keys), every process must
# succeed, no work file may be left behind and the message table must hold every request type.
# Arguments: vorncom-server, vornpkg, c_concurrent_send, the library.
set -euo pipefail
server=$1 vornpkg=$2 host=$3 library=$4
work=$(mktemp -d /tmp/vorncom-c-concurrent-XXXXXX)
pid=
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/../support/test_certificates.sh"

# The server hands out a list naming itself, so every send rewrites the shared configuration
# file while the others read it: its port must be known before it starts (a port taken in
# between by someone else means another try).
mkdir -p "$work/data"
tls_lines=$(make_test_certificates "$work")
export VORNCOM_TLS_CA=$work/ca.pem
for _ in 1 2 3; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'listen_address = 127.0.0.1\ndata_folder = %s/data\nlog_sessions = false\nserver = 127.0.0.1 | %s\ndefault_message = Mensagem do servidor\n' \
    "$work" "$port" > "$work/server.cfg"
  printf '%s\n' "$tls_lines" >> "$work/server.cfg"
  "$server" --config "$work/server.cfg" --port "$port" --port-file "$work/port" &
  pid=$!
  for _ in $(seq 100); do [[ -s $work/port ]] || ! kill -0 "$pid" 2>/dev/null && break; sleep 0.1; done
  [[ -s $work/port ]] && break
  wait "$pid" 2>/dev/null || true
  pid=
done
[[ -s $work/port ]] || fail "vorncom-server did not start"

base=$work/host
mkdir -p "$base"
export VORNCOM_BASE_DIR=$base VORNCOM_REGISTRY=$base/registry VORNCOM_UNATTENDED=1
unset QT_QPA_PLATFORM
cfg=$base/servidores.cfg
"$vornpkg" servers "$cfg" add "127.0.0.1:$port" >/dev/null

numbers=()
for round in 1 2 3; do
  dir=$work/round$round
  mkdir -p "$dir"
  packages=()
  for i in 1 2 3 4 5 6 7 8; do
    cat > "$dir/header$i.txt" <<HEADER
Documento/Código Sistema=DEC
Documento/Versão Sistema=2.1
Documento/Meio Envio=Internet
Documento/Endereço Host=10.0.0.$i
Documento/Nome Host=estacao$i
Documento/Nome Arquivo=dados$i.dat
Documento/Sistema Operacional=Linux
Documento/Configurações Computador=x86-64
Usuário/Tipo Solicitante=PF
Usuário/Identificação Vorn=V42
Controles/Código=ABC12$i
Documento/Tipo Solicitação=T$i
Documento/Nome Solicitação=Declaração $i
Documento/Versão Solicitação=1.$i
Usuário/Nome Solicitante=Pessoa $i
Usuário/Identificação Solicitante=000.000.000-0$i
HEADER
    head -c $((20000 + i * 1000)) /dev/urandom > "$dir/dados$i.dat"
    "$vornpkg" create "$dir/envio$i.zlk" --header "$dir/header$i.txt" "$dir/dados$i.dat" >/dev/null
    packages+=("$dir/envio$i.zlk")
  done

  pids=()
  for i in 1 2 3 4 5 6 7 8; do
    "$host" "$library" "$cfg" "$dir/envio$i.zlk" "${packages[@]}" 2>"$dir/stderr$i" &
    pids+=($!)
  done
  for i in 1 2 3 4 5 6 7 8; do
    wait "${pids[$((i - 1))]}" || fail "round $round, process $i: $(cat "$dir/stderr$i")"
  done

  for i in 1 2 3 4 5 6 7 8; do
    out=$dir/out$i
    "$vornpkg" extract "$dir/envio$i.zlk" "$out" >/dev/null
    record=$out/protocolo.rec
    [[ -f $record ]] || fail "round $round, package $i has no protocol record"
    keys=$(LC_ALL=C grep -ac '^[^[].*=' "$record")
    [[ $keys -eq 14 ]] || fail "round $round, package $i: $keys keys in its record"
    LC_ALL=C grep -aqx $'Nome Arquivo=envio'"$i"$'.zlk\r' "$record" ||
      fail "round $round, package $i holds another package's record"
    number=$(LC_ALL=C sed -n $'s/^N\xfamero Protocolo=\\(.*\\)\r$/\\1/p' "$record")
    [[ -n $number ]] || fail "round $round, package $i: no protocol number"
    numbers+=("$number")
  done
  leftovers=$(ls -A "$base/Trabalho" 2>/dev/null || true)
  [[ -z $leftovers ]] || fail "round $round left work files: $leftovers"
done

distinct=$(printf '%s\n' "${numbers[@]}" | sort -u | wc -l)
[[ $distinct -eq 24 ]] || fail "$distinct distinct protocol numbers for 24 sends"
rows=$(python3 -c '
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
print(db.execute("SELECT COUNT(DISTINCT TPO_DOC_SOLICITACAO) || \" \" || COUNT(*) FROM en_tipo_doc_solicitacao").fetchone()[0])
' "$base/Configuracoes/en_tipo_doc_solicitacao.cds")
[[ $rows == "8 8" ]] || fail "message table: $rows (distinct types, rows) instead of 8 8"
echo "24 sends in 3 rounds of 8 processes: every package holds its own record"
