#!/usr/bin/env bash
# The main job in one command (./x run): builds what is missing, makes a demo
# key container when the store has none, registers the host for the current
# user, then does what a browser does: starts the registered host with the
# extension's origin and, in that one host, opens the default container,
# fetches its certificate, signs a file sent as Base64 content and closes.
# OpenSSL prints the certificate's subject and its own verdict on the
# signature.
set -euo pipefail
cd "$(dirname "$0")/.."

./x build release >/dev/null
bin=build/release/bin
if [[ -z $("$bin/quorvant_token" list) ]]; then
  # A demo for trying things out: no passphrase, and signing without asking.
  # Containers for real use get a passphrase (quorvant_token create NAME).
  echo "making the demo key container \"demo\" with --no-passphrase --no-confirm:" \
       "it signs without asking anyone"
  "$bin/quorvant_token" create demo --no-passphrase --no-confirm --subject "/CN=Quorvant demo/O=Quorvant"
fi
packaging/linux/register.sh install --build build/release

manifest=${XDG_CONFIG_HOME:-$HOME/.config}/chromium/NativeMessagingHosts/com.quorvant.signing_host.json
host=$(sed -n 's/.*"path": "\(.*\)".*/\1/p' "$manifest")
origin=$(sed -n 's/.*"allowed_origins": \["\([^"]*\)".*/\1/p' "$manifest")
echo "host from $manifest: $host"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'Signed by the Quorvant round trip on %s\n' "$(date -u)" > "$work/data.txt"

coproc HOST { "$(dirname "$host")/quorvant_client" --host "$host" --origin "$origin"; }
# bash unsets HOST_PID as soon as the client exits, which can be before the wait.
host_pid=$HOST_PID
ask() {  # one request, its answer
  printf '%s\n' "$1" >&"${HOST[1]}"
  IFS= read -r -t 60 answer <&"${HOST[0]}" || { echo "the host did not answer" >&2; exit 1; }
  if [[ $answer != *'"result":"success"'* ]]; then echo "failed: $answer" >&2; exit 1; fi
}
member() {  # a Base64 member of the last answer, with the serializer's "\/" undone
  sed -n "s/.*\"$1\":\"\([A-Za-z0-9+\\\\/=]*\)\".*/\1/p" <<<"$answer" | sed 's#\\/#/#g'
}

ask '{"contentId":"1","data":{"requestAction":"openCryptoProvider"}}'
handle=$(sed -n 's/.*"handleProvider":\([0-9]*\).*/\1/p' <<<"$answer")
echo "opened the default container: handle $handle"
ask '{"contentId":"2","data":{"requestAction":"getCertificate","handleProvider":'"$handle"'}}'
member certificate | base64 -d > "$work/certificate.der"
ask '{"contentId":"3","data":{"requestAction":"getSignature","handleProvider":'"$handle"',"contentFile":"'"$(base64 -w0 "$work/data.txt")"'"}}'
member signature | base64 -d > "$work/signature.der"
ask '{"contentId":"4","data":{"requestAction":"closeCryptoProvider","handleProvider":'"$handle"'}}'
exec {HOST[1]}>&-
wait "$host_pid"

openssl x509 -inform DER -in "$work/certificate.der" -out "$work/certificate.pem"
echo "certificate $(openssl x509 -in "$work/certificate.pem" -noout -subject)"
echo "signature: $(stat -c %s "$work/signature.der") bytes of CMS for $(stat -c %s "$work/data.txt") bytes of data"
echo "OpenSSL's verdict (openssl cms -verify -binary -inform DER -content data.txt -CAfile certificate.pem):"
openssl cms -verify -binary -inform DER -in "$work/signature.der" -content "$work/data.txt" \
  -CAfile "$work/certificate.pem" -out /dev/null
