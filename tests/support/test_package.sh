# Sourced by the shell tests: make_test_package VORNPKG FOLDER PACKAGE SIZE writes a form header
# (FOLDER/header.txt) and SIZE random bytes (FOLDER/dados.dat), and packs both into PACKAGE with
# vornpkg.
make_test_package() {
  local vornpkg=$1 folder=$2 package=$3 size=$4
  cat >"$folder/header.txt" <<'HEADER'
Documento/Código Sistema=DEC
Documento/Versão Sistema=2.1
Documento/Meio Envio=Internet
Documento/Endereço Host=10.0.0.5
Documento/Nome Host=estacao
Documento/Nome Arquivo=dados.dat
Documento/Sistema Operacional=Linux
Documento/Configurações Computador=x86-64
Usuário/Tipo Solicitante=PF
Usuário/Identificação Vorn=V42
Controles/Código=ABC123
Documento/Tipo Solicitação=DEC
Documento/Nome Solicitação=Declaração
Documento/Versão Solicitação=1.0
Documento/Data Atualização=01/02/2026 10:20:30
Usuário/Nome Solicitante=José da Silva
Usuário/Identificação Solicitante=123.456.789-00
HEADER
  head -c "$size" /dev/urandom >"$folder/dados.dat"
  "$vornpkg" create "$package" --header "$folder/header.txt" "$folder/dados.dat" >/dev/null
}
