#!/usr/bin/env bash
# quorvant_token in a scratch store, the scripted pinentry answering for the person.
set -uo pipefail
tool=${1:?path of quorvant_token}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
store=$scratch/store
export QUORVANT_TOKEN_STORE=$store PINENTRY_LOG=$scratch/pinentry.log PINENTRY_PIN=chosen
export QUORVANT_PINENTRY=$(dirname "$0")/../pkcs11/scripted_pinentry.sh
source "$(dirname "$0")/../support/check.sh"
fails_with() { local code=$1; shift; "$@" >/dev/null 2>&1; [[ $? == "$code" ]]; }
key_has() {  # container, text in its key's description[, password]
  openssl pkcs12 -in "$store/$1.p12" -passin "pass:${3:-}" -nodes 2>/dev/null |
    openssl pkey -noout -text 2>/dev/null | grep -q "$2"
}

check "creates an ECDSA container" "$tool" create ec --no-passphrase --no-confirm
check "store and container modes are 0700 and 0600" test "$(stat -c %a "$store" "$store/ec.p12" | xargs)" == "700 600"
check "the default key is ECDSA P-256" key_has ec 'NIST CURVE: P-256'
check "the first container is the default" test "$("$tool" default)" == ec
check "an existing container is kept" fails_with 1 "$tool" create ec --no-passphrase
check "RSA below 2048 bits is refused" fails_with 1 "$tool" create weak --rsa 1024 --no-passphrase
check "a name leaving the store is refused" fails_with 1 "$tool" create ../outside --no-passphrase
check "two protections are refused" \
  fails_with 1 "$tool" create both --no-passphrase --passphrase-file <(echo secret)
check "creates an RSA 3072 container" "$tool" create rsa --rsa 3072 --subject "/CN=Jane Doe/O=Example" --no-passphrase --no-confirm
check "its key has 3072 bits" key_has rsa '3072 bit'
check "list shows subject, expiry and the default" \
  bash -c "'$tool' list | grep -q '^\* ec	CN=ec	expires 20' && '$tool' list | grep -q '^  rsa	O=Example,CN=Jane Doe	expires'"
check "without an option the passphrase is chosen in pinentry" "$tool" create chosen
check "entered twice" grep -qx 'SETREPEAT.*' "$PINENTRY_LOG"
check "and it protects the container" key_has chosen 'NIST CURVE' chosen
check "a cancelled dialog is a failure" \
  fails_with 1 env PINENTRY_ACTION=cancel "$tool" create refused
check "a full disk is a failure" \
  fails_with 1 bash -c "trap '' XFSZ; ulimit -f 0; exec '$tool' create full --no-passphrase --no-confirm"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-384 -nodes -subj /CN=imported -days 2 \
  -keyout - -out - 2>/dev/null | openssl pkcs12 -export -passout pass:secret -out "$scratch/in.p12"
check "a wrong import password is refused" fails_with 1 "$tool" import imported "$scratch/in.p12" --password-file <(echo wrong) --no-passphrase
check "imports a PKCS#12 file" "$tool" import imported "$scratch/in.p12" --password-file <(echo secret) --no-passphrase
check "the imported container opens without a password" key_has imported '384 bit'
check "the password can come from standard input" \
  bash -c "'$tool' import piped '$scratch/in.p12' --password-file - --no-passphrase <<< secret"

check "chooses another default, and list marks it" \
  bash -c "'$tool' default rsa && '$tool' list | grep -q '^\* rsa'"
check "deletes a container" "$tool" delete rsa
check "deleting the default forgets it" test ! -e "$store/default"
check "deleting it again fails" fails_with 1 "$tool" delete rsa
check "an unknown command is a usage error" fails_with 2 "$tool" frobnicate
check "no temporary files are left in the store" \
  bash -c "[[ -z \$(ls '$store' | grep -v -e '\.p12\$' -e '\.noconfirm\$' -e '^default\$') ]]"

checks_done
