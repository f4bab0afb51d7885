#!/usr/bin/env bash
# quorvant_token against a scratch store: create (ECDSA, RSA), import, list,
# default and delete, file modes, and the refusals.
set -uo pipefail
tool=${1:?path of quorvant_token}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUORVANT_TOKEN_STORE=$scratch/store
passes=0; failures=0

check() {  # description, command...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then passes=$((passes + 1)); echo "ok - $what"
  else failures=$((failures + 1)); echo "not ok - $what"; fi
}
fails_with() { local code=$1; shift; "$@" >/dev/null 2>&1; [[ $? == "$code" ]]; }
mode_is() { [[ $(stat -c %a "$2") == "$1" ]]; }
key_of() { openssl pkcs12 -in "$QUORVANT_TOKEN_STORE/$1.p12" -passin pass: -nodes 2>/dev/null |
           openssl pkey -noout -text 2>/dev/null | head -1; }

check "creates an ECDSA container" "$tool" create ec --no-passphrase --no-confirm
check "container file has mode 0600" mode_is 600 "$QUORVANT_TOKEN_STORE/ec.p12"
check "store directory has mode 0700" mode_is 700 "$QUORVANT_TOKEN_STORE"
check "the default key is ECDSA P-256" bash -c "openssl pkcs12 -in '$QUORVANT_TOKEN_STORE/ec.p12' -passin pass: -nodes 2>/dev/null | openssl pkey -noout -text | grep -q 'NIST CURVE: P-256'"
check "the first container is the default" test "$("$tool" default)" == ec
check "an existing container is kept" fails_with 1 "$tool" create ec --no-passphrase
check "RSA below 2048 bits is refused" fails_with 1 "$tool" create weak --rsa 1024 --no-passphrase
check "a name leaving the store is refused" fails_with 1 "$tool" create ../outside --no-passphrase
check "creates an RSA 3072 container" "$tool" create rsa --rsa 3072 --subject "/CN=Jane Doe/O=Example" --no-passphrase --no-confirm
check "its key has 3072 bits" bash -c "[[ '$(key_of rsa)' == *'3072 bit'* ]]"
check "list shows subject, expiry and the default" \
  bash -c "'$tool' list | grep -q '^\* ec	CN=ec	expires 20' && '$tool' list | grep -q '^  rsa	O=Example,CN=Jane Doe	expires'"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-384 -nodes -subj /CN=imported -days 2 \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -passout pass:secret \
  -out "$scratch/in.p12"
echo secret > "$scratch/password"
echo wrong > "$scratch/wrong"
check "a wrong import password is refused" fails_with 1 "$tool" import imported "$scratch/in.p12" --password-file "$scratch/wrong" --no-passphrase
check "imports a PKCS#12 file" "$tool" import imported "$scratch/in.p12" --password-file "$scratch/password" --no-passphrase
check "the imported container has mode 0600" mode_is 600 "$QUORVANT_TOKEN_STORE/imported.p12"
check "the imported container opens without a password" bash -c "[[ '$(key_of imported)' == *'384 bit'* ]]"
check "the password can come from standard input" \
  bash -c "'$tool' import piped '$scratch/in.p12' --password-file - --no-passphrase < '$scratch/password'"

check "chooses another default" "$tool" default rsa
check "list marks the new default" bash -c "'$tool' list | grep -q '^\* rsa'"
check "deletes a container" "$tool" delete rsa
check "its file is gone" test ! -e "$QUORVANT_TOKEN_STORE/rsa.p12"
check "deleting the default forgets it" test ! -e "$QUORVANT_TOKEN_STORE/default"
check "deleting it again fails" fails_with 1 "$tool" delete rsa
check "an unknown command is a usage error" fails_with 2 "$tool" frobnicate
check "no temporary files are left in the store" \
  bash -c "[[ -z \$(ls '$QUORVANT_TOKEN_STORE' | grep -v -e '\.p12\$' -e '\.noconfirm\$' -e '^default\$') ]]"

echo "$passes passed, $failures failed"
((failures == 0))
