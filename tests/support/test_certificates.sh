# Sourced by the shell tests: make_test_certificates FOLDER writes a throw-away CA (ca.pem) and a
# server certificate for localhost and 127.0.0.1 signed by it (server.pem, server.key), and
# prints the server configuration lines that use them. Nothing is kept after the test.
make_test_certificates() {
  local dir=$1
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=VornCom Test CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
    -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > "$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
  printf 'tls_certificate = %s/server.pem\ntls_private_key = %s/server.key\n' "$dir" "$dir"
}
